#include "SearchText.h"

#include <QStringList>

#include "MarkdownPlainText.h"
#include "ThinkBlock.h"

namespace parlote {

namespace {

/// Whether the index's tokenizer (unicode61) may keep `c` in a word: letters, digits,
/// marks, private-use characters. Surrogates count too: a term that turns out to hold no
/// word matches nothing and is otherwise ignored by the index, so erring this way is safe.
bool mayBeWord(QChar c) {
    if (c.isLetterOrNumber() || c.isSurrogate()) return true;
    switch (c.category()) {
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
        case QChar::Other_PrivateUse:
            return true;
        default:
            return false;
    }
}

bool separates(QChar c) {
    return c.isSpace() || c.category() == QChar::Other_Control;
}

bool holdsWord(QStringView text) {
    for (QChar c : text)
        if (mayBeWord(c)) return true;
    return false;
}

/// The length of the last word in `text` (what the index matches as a prefix).
qsizetype lastWordLength(QStringView text) {
    qsizetype end = text.size();
    while (end > 0 && !mayBeWord(text[end - 1])) --end;
    qsizetype begin = end;
    while (begin > 0 && mayBeWord(text[begin - 1])) --begin;
    return end - begin;
}

/// `text` as an index string: in double quotes, each quote inside doubled, control
/// characters as spaces.
QString quoted(QStringView text) {
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (QChar c : text) {
        if (c == QLatin1Char('"'))
            out += QLatin1String("\"\"");
        else
            out += c.category() == QChar::Other_Control ? QChar(QLatin1Char(' ')) : c;
    }
    out += QLatin1Char('"');
    return out;
}

}  // namespace

QString matchExpression(QStringView typed) {
    // A pasted page is no query: the first characters are searched for (a phrase of a
    // hundred thousand words took seconds and gigabytes).
    typed = typed.left(kMaxQueryLength);
    QStringList terms;
    bool lastIsOpen = false;  // the last term kept runs to the end of the text
    const qsizetype n = typed.size();
    qsizetype i = 0;
    while (i < n && terms.size() < kMaxQueryTerms) {
        const QChar c = typed[i];
        if (separates(c)) {
            ++i;
            continue;
        }
        QStringView term;
        bool open;
        if (c == QLatin1Char('"')) {
            const qsizetype close = typed.indexOf(QLatin1Char('"'), i + 1);
            open = close < 0;
            const qsizetype end = open ? n : close;
            term = typed.mid(i + 1, end - i - 1);
            i = open ? n : close + 1;
        } else {
            qsizetype end = i;
            while (end < n && !separates(typed[end]) && typed[end] != QLatin1Char('"')) ++end;
            term = typed.mid(i, end - i);
            open = end == n;
            i = end;
        }
        if (!holdsWord(term)) continue;
        terms.append(quoted(term));
        lastIsOpen = open && lastWordLength(term) >= kMinPrefixLength;
    }
    if (terms.isEmpty()) return {};
    if (lastIsOpen) terms.last() += QLatin1Char('*');
    return terms.join(QLatin1Char(' '));
}

MarkedText unmark(QStringView marked) {
    MarkedText result;
    result.text.reserve(marked.size());
    bool spacePending = false;
    qsizetype matchStart = -1;
    for (QChar c : marked) {
        if (c == kMatchBegin) {
            if (spacePending && !result.text.isEmpty()) result.text += QLatin1Char(' ');
            spacePending = false;
            matchStart = result.text.size();
        } else if (c == kMatchEnd) {
            if (matchStart >= 0 && result.text.size() > matchStart)
                result.matches.append({matchStart, result.text.size() - matchStart});
            matchStart = -1;
        } else if (c.isSpace()) {
            spacePending = true;
        } else {
            if (spacePending && !result.text.isEmpty()) result.text += QLatin1Char(' ');
            spacePending = false;
            result.text += c;
        }
    }
    return result;
}

QString indexableText(const QString& text) {
    static const QString open = QStringLiteral("<think>");
    static const QString close = QStringLiteral("</think>");
    QString out = text;
    if (out.startsWith(open)) {
        out.replace(0, open.size(), QString(open.size(), QLatin1Char(' ')));
        const qsizetype end = out.indexOf(close);
        if (end >= 0) out.replace(end, close.size(), QString(close.size(), QLatin1Char(' ')));
    }
    out.replace(kMatchBegin, QLatin1Char(' '));
    out.replace(kMatchEnd, QLatin1Char(' '));
    return out;
}

QString indexableText(const ChatMessage& message) {
    const QString& content = message.content();
    QString out;
    if (message.type() == ChatMessageType::error) {
        out = content;
    } else {
        const MarkdownOptions options{message.type() == ChatMessageType::user};
        const ThinkSplit split =
            message.type() == ChatMessageType::assistant ? splitThinking(content) : ThinkSplit{};
        if (split.hasThinkBlock) {
            out = markdownToPlainText(split.thinking(content).toString(), options);
            out += QLatin1Char('\n');
            out += markdownToPlainText(split.answer(content).toString(), options);
        } else {
            out = markdownToPlainText(content, options);
        }
    }
    out.replace(kMatchBegin, QLatin1Char(' '));
    out.replace(kMatchEnd, QLatin1Char(' '));
    return out;
}

}  // namespace parlote
