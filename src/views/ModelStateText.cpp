#include "ModelStateText.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>
#include <cmath>

#include "ModelManagerView.h"

namespace parlote::views {

namespace {

QString tr(const char* text, int n = -1) {
    return QCoreApplication::translate("ModelStateText", text, nullptr, n);
}

const QString separator = QStringLiteral(" \u00B7 ");  // a middle dot between parts

bool onlyEmbeddings(const ModelDetails& details) {
    return details.capabilitiesKnown && !details.supportsChat() &&
           details.capabilities.contains(QStringLiteral("embedding"));
}

}  // namespace

QString capabilityMarks(const ModelDetails& details) {
    if (!details.capabilitiesKnown) return {};
    if (onlyEmbeddings(details)) return tr("embedding only");
    QStringList marks;
    if (details.supportsVision()) marks << tr("vision");
    if (details.supportsThinking()) marks << tr("thinking");
    if (details.supportsTools()) marks << tr("tools");
    return marks.join(separator);
}

QString capabilityList(const ModelDetails& details) {
    if (!details.capabilitiesKnown) return {};
    if (onlyEmbeddings(details)) return tr("Embeddings only");
    QStringList words;
    if (details.supportsChat()) words << tr("chat");
    if (details.supportsVision()) words << tr("vision");
    if (details.supportsThinking()) words << tr("thinking");
    if (details.supportsTools()) words << tr("tools");
    if (details.supports(u"embedding")) words << tr("embeddings");
    if (words.isEmpty()) return {};
    QString text = words.join(QStringLiteral(", "));
    text[0] = text[0].toUpper();
    return text;
}

QString shortContext(qint64 tokens) {
    if (tokens <= 0) return {};
    if (tokens < 1024) return tr("%1 context").arg(QLocale().toString(tokens));
    const qint64 thousands = qint64(std::llround(double(tokens) / 1024.0));
    return tr("%1K context").arg(QLocale().toString(thousands));
}

QString fullContext(qint64 tokens) {
    if (tokens <= 0) return {};
    return tr("%1 tokens").arg(QLocale().toString(tokens));
}

QString processorShare(const RunningModel& running) {
    const std::optional<double> gpu = running.gpuShare();
    if (!gpu) return {};
    if (running.sizeVram == 0) return tr("100% CPU");
    if (running.sizeVram == running.size) return tr("100% GPU");
    const int cpu = int(std::lround((1.0 - *gpu) * 100.0));
    return tr("%1%/%2% CPU/GPU").arg(cpu).arg(100 - cpu);
}

QString expiryText(const RunningModel& running, const QDateTime& now) {
    if (!running.expiresAt.isValid()) return {};
    if (running.staysLoaded(now)) return tr("stays loaded");
    const qint64 seconds = now.secsTo(running.expiresAt);
    if (seconds <= 0) return tr("unloading");
    if (seconds < 60) return tr("unloads in under a minute");
    const int minutes = int((seconds + 59) / 60);
    if (minutes < 120) return tr("unloads in %n min", minutes);
    return tr("unloads in %n h", int(std::lround(double(minutes) / 60.0)));
}

QString memoryLine(const RunningModel& running, const QDateTime& now) {
    QStringList parts;
    if (running.size > 0) parts << ModelManagerView::formatSize(std::uint64_t(running.size));
    if (const QString share = processorShare(running); !share.isEmpty()) parts << share;
    if (const QString expiry = expiryText(running, now); !expiry.isEmpty()) parts << expiry;
    return parts.join(separator);
}

QString menuLine(const ModelState& state) {
    QStringList parts;
    if (state.details) {
        if (const QString marks = capabilityMarks(*state.details); !marks.isEmpty()) parts << marks;
        if (const QString context = shortContext(state.details->contextLength); !context.isEmpty())
            parts << context;
    }
    if (state.loading)
        parts << tr("loading\u2026");
    else if (state.running)
        parts << tr("loaded");
    return parts.join(separator);
}

QString cannotChatText(const QString& name) {
    return tr("%1 can only make embeddings, not chat").arg(name);
}

}  // namespace parlote::views
