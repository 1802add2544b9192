#include "LongMessage.h"

#include <QLocale>
#include <QObject>
#include <utility>

namespace parlote {

namespace {

// How far past the quantized cut a boundary is looked for: a paragraph or a line within
// half a step, a space within a few words.
qsizetype boundaryReach(qsizetype limit) {
    return qMax<qsizetype>(1, limit / 8);
}
constexpr qsizetype wordReach = 200;

// A fence opening or closing line: up to three spaces, then three or more '`' or '~'.
// Returns the fence's character and length, or a length of 0.
std::pair<QChar, qsizetype> fenceOf(QStringView line) {
    qsizetype at = 0;
    while (at < line.size() && at < 3 && line.at(at) == u' ') ++at;
    if (at >= line.size() || (line.at(at) != u'`' && line.at(at) != u'~')) return {QChar(), 0};
    const QChar mark = line.at(at);
    qsizetype length = 0;
    while (at + length < line.size() && line.at(at + length) == mark) ++length;
    return {mark, length >= 3 ? length : 0};
}

// Of a fence's line, what opens the fence again over a cut: its fence characters and the
// first word of its info string (the language), at most `infoReach` characters of it.
constexpr qsizetype infoReach = 64;
QString fenceLineOf(QStringView text, qsizetype length) {
    const QStringView fence = text.trimmed();
    const QStringView info = fence.mid(length).trimmed();
    qsizetype word = 0;
    while (word < info.size() && word < infoReach && !info.at(word).isSpace()) ++word;
    QString line = fence.left(length).toString();
    line += info.left(word);
    return line;
}

// Only the places holding three fence characters are looked at, so that megabytes of
// short lines take no longer than a search.
struct FenceState {
    QChar mark;
    qsizetype length = 0;
    QString opener;

    // Takes `line` into account: it may open a fence, or close the open one.
    void read(QStringView line) {
        const auto [lineMark, lineLength] = fenceOf(line);
        if (lineLength == 0) return;
        if (length == 0) {
            mark = lineMark;
            length = lineLength;
            opener = fenceLineOf(line, lineLength);
        } else if (lineMark == mark && lineLength >= length &&
                   line.trimmed().size() == lineLength) {
            length = 0;  // closed: only the fence characters on the line
        }
    }

    // Reads the whole lines of `text` in [from, to), both where lines begin.
    void readLines(QStringView text, qsizetype from, qsizetype to) {
        text = text.left(to);
        qsizetype nextBackticks = -2;
        qsizetype nextTildes = -2;
        while (from < to) {
            if (nextBackticks != -1 && nextBackticks < from)
                nextBackticks = text.indexOf(u"```", from);
            if (nextTildes != -1 && nextTildes < from) nextTildes = text.indexOf(u"~~~", from);
            const qsizetype at = nextBackticks < 0 ? nextTildes
                                 : nextTildes < 0  ? nextBackticks
                                                   : qMin(nextBackticks, nextTildes);
            if (at < 0) break;
            // A fence only where a line begins, after up to three spaces.
            qsizetype lineStart = at;
            while (lineStart > 0 && at - lineStart < 3 && text.at(lineStart - 1) == u' ')
                --lineStart;
            qsizetype lineEnd = text.indexOf(u'\n', at);
            if (lineEnd < 0) lineEnd = text.size();
            from = lineEnd + 1;
            if (lineStart > 0 && text.at(lineStart - 1) != u'\n') continue;
            read(text.mid(lineStart, lineEnd - lineStart));
        }
    }
};

}  // namespace

void FenceTracker::reset() {
    *this = FenceTracker();
}

QString FenceTracker::openAt(const QString& text, qsizetype at) {
    at = qBound<qsizetype>(0, at, text.size());
    // What was read still holds when the text begins as before, as far as it was read.
    const bool sameStart = at >= scanned_ && text.size() >= looked_ &&
                           (text.constData() == text_.constData() ||
                            QStringView(text).left(looked_) == QStringView(text_).left(looked_));
    if (!sameStart) reset();
    text_ = text;
    FenceState state{mark_, length_, opener_};
    if (at > looked_) {
        const qsizetype lastBreak = QStringView(text).mid(looked_, at - looked_).lastIndexOf(u'\n');
        if (lastBreak >= 0) {
            const qsizetype lineStart = looked_ + lastBreak + 1;
            state.readLines(text, scanned_, lineStart);
            scanned_ = lineStart;
            mark_ = state.mark;
            length_ = state.length;
            opener_ = state.opener;
        }
        looked_ = at;
    }
    // The line `at` falls in, as far as `at`, counts as the last line.
    state.read(QStringView(text).mid(scanned_, at - scanned_));
    return state.length > 0 ? state.opener : QString();
}

ShownPart shownPart(const QString& text, bool markdown, qsizetype limit, FenceTracker* fences) {
    ShownPart part;
    const qsizetype size = text.size();
    if (size <= limit) return part;
    // The cut moves in whole steps, so that it stays put while a reply grows.
    const qsizetype step = qMax<qsizetype>(1, limit / 4);
    qsizetype start = (size - limit + step - 1) / step * step;
    const QStringView ahead = QStringView(text).mid(start, boundaryReach(limit));
    if (const qsizetype at = ahead.indexOf(u"\n\n"); at >= 0) {
        start += at + 2;
    } else if (const qsizetype line = ahead.indexOf(u'\n'); line >= 0) {
        start += line + 1;
    } else if (const qsizetype space = ahead.left(wordReach).indexOf(u' '); space >= 0) {
        start += space + 1;
    } else if (text.at(start).isLowSurrogate()) {
        ++start;  // never half a character
    }
    part.start = start;
    if (markdown)
        part.fenceLine = fences ? fences->openAt(text, start) : FenceTracker().openAt(text, start);
    return part;
}

QString shownText(const QString& text, const ShownPart& part) {
    if (!part.isCut()) return text;
    const QStringView rest = QStringView(text).mid(part.start);
    if (part.fenceLine.isEmpty()) return rest.toString();
    QString shown;
    shown.reserve(part.fenceLine.size() + 1 + rest.size());
    shown += part.fenceLine;
    shown += u'\n';
    shown += rest;
    return shown;
}

QString cutNotice(qsizetype shown, qsizetype total) {
    const QLocale locale;
    return QObject::tr("Showing the last %1 of %2 characters.")
        .arg(locale.toString(shown), locale.toString(total));
}

}  // namespace parlote
