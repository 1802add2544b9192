#include "BridgeRecords.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace parlote {

bool ModelDetails::supports(QStringView capability) const {
    if (!capabilitiesKnown) return capability == u"completion";
    return capabilities.contains(capability);
}

std::optional<QString> ModelDetails::parameter(QStringView key) const {
    for (QStringView line : QStringView(parameters).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        const qsizetype gap = line.indexOf(QLatin1Char(' '));
        if (gap <= 0 || line.left(gap) != key) continue;
        QStringView value = line.mid(gap).trimmed();
        // String values come in Go's quotes: "\"<|eot_id|>\"".
        if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') {
            QString unquoted;
            const QStringView inner = value.mid(1, value.size() - 2);
            for (qsizetype i = 0; i < inner.size(); ++i) {
                if (inner[i] == u'\\' && i + 1 < inner.size()) {
                    const QChar next = inner[++i];
                    unquoted += next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t') : next;
                } else {
                    unquoted += inner[i];
                }
            }
            return unquoted;
        }
        return value.toString();
    }
    return std::nullopt;
}

std::optional<double> RunningModel::gpuShare() const {
    if (size <= 0 || sizeVram < 0 || sizeVram > size) return std::nullopt;
    return double(sizeVram) / double(size);
}

bool RunningModel::staysLoaded(const QDateTime& now) const {
    return expiresAt.isValid() && expiresAt > now.addYears(20);
}

QDateTime dateFromRfc3339(QStringView text) {
    static const QRegularExpression form(QStringLiteral(
        "^(\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2})(?:\\.(\\d{1,9}))?(Z|[+-]\\d{2}:\\d{2})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) return {};
    // Qt reads milliseconds; Go writes up to nanoseconds.
    const QString fraction = (match.captured(2) + QStringLiteral("000")).left(3);
    const QString zone = match.captured(3);
    QDateTime date = QDateTime::fromString(
        match.captured(1) + QLatin1Char('.') + fraction + (zone == u"Z" ? QString() : zone),
        Qt::ISODateWithMs);
    if (zone == u"Z") date.setTimeZone(QTimeZone::utc());
    return date.isValid() ? date.toUTC() : QDateTime();
}

namespace {

bool hasTag(const QString& name) {
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    return name.indexOf(QLatin1Char(':'), slash + 1) >= 0;
}

}  // namespace

bool sameModelName(const QString& a, const QString& b) {
    if (a == b) return true;
    static const QString latest = QStringLiteral(":latest");
    return (!hasTag(a) && a + latest == b) || (!hasTag(b) && b + latest == a);
}

}  // namespace parlote
