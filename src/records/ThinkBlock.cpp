#include "ThinkBlock.h"

namespace parlote {

namespace {

constexpr QStringView openTag = u"<think>";
constexpr QStringView closeTag = u"</think>";

}  // namespace

bool ThinkSplit::isBlank(QStringView text) const {
    for (const QChar c : thinking(text))
        if (!c.isSpace()) return false;
    return true;
}

ThinkSplit splitThinking(QStringView text, qsizetype searchFrom) {
    ThinkSplit split;
    if (!text.startsWith(openTag)) return split;
    split.hasThinkBlock = true;
    split.thinkingStart = openTag.size();
    const qsizetype close = text.indexOf(closeTag, qMax(split.thinkingStart, searchFrom));
    if (close >= 0) {
        split.closed = true;
        split.thinkingEnd = close;
        qsizetype answer = close + closeTag.size();
        while (answer < text.size() && text.at(answer).isSpace()) ++answer;
        split.answerStart = answer;
        return split;
    }
    // Unclosed: a tail that may be the beginning of "</think>" is held back.
    qsizetype end = text.size();
    for (qsizetype n = qMin(closeTag.size() - 1, text.size() - split.thinkingStart); n > 0; --n) {
        if (text.endsWith(closeTag.left(n))) {
            end = text.size() - n;
            break;
        }
    }
    split.thinkingEnd = end;
    split.answerStart = text.size();
    return split;
}

qsizetype thinkSearchResume(const ThinkSplit& split, QStringView text) {
    if (!split.hasThinkBlock || split.closed) return 0;
    // A "</think>" that began in the last few characters may be completed by what follows.
    return qMax(split.thinkingStart, text.size() - (closeTag.size() - 1));
}

}  // namespace parlote
