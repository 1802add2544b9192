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

// The line of the code fence still open at the end of `text`, or an empty string. Only
// the places holding three fence characters are looked at, so that megabytes of short
// lines take no longer than a search.
QString openFence(QStringView text) {
    QChar mark;
    qsizetype length = 0;
    QStringView opener;
    qsizetype nextBackticks = -2;
    qsizetype nextTildes = -2;
    for (qsizetype from = 0;;) {
        if (nextBackticks != -1 && nextBackticks < from) nextBackticks = text.indexOf(u"```", from);
        if (nextTildes != -1 && nextTildes < from) nextTildes = text.indexOf(u"~~~", from);
        qsizetype at = nextBackticks < 0 ? nextTildes
                       : nextTildes < 0  ? nextBackticks
                                         : qMin(nextBackticks, nextTildes);
        if (at < 0) break;
        // A fence only where a line begins, after up to three spaces.
        qsizetype lineStart = at;
        while (lineStart > 0 && at - lineStart < 3 && text.at(lineStart - 1) == u' ') --lineStart;
        qsizetype lineEnd = text.indexOf(u'\n', at);
        if (lineEnd < 0) lineEnd = text.size();
        from = lineEnd + 1;
        if (lineStart > 0 && text.at(lineStart - 1) != u'\n') continue;
        const QStringView line = text.mid(lineStart, lineEnd - lineStart);
        const auto [lineMark, lineLength] = fenceOf(line);
        if (lineLength == 0) continue;
        if (length == 0) {
            mark = lineMark;
            length = lineLength;
            opener = line;
        } else if (lineMark == mark && lineLength >= length &&
                   line.trimmed().size() == lineLength) {
            length = 0;  // closed: only the fence characters on the line
        }
    }
    return length > 0 ? opener.trimmed().toString() : QString();
}

}  // namespace

ShownPart shownPart(const QString& text, bool markdown, qsizetype limit) {
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
    if (markdown) part.fenceLine = openFence(QStringView(text).left(start));
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
