#include "FindText.h"

#include <memory>

namespace parlote::find {

namespace {

bool isMark(char32_t c) {
    switch (QChar::category(c)) {
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
            return true;
        default:
            return false;
    }
}

// The letter a Latin or Greek letter with accents is written on: its canonical
// decomposition's first character, when the rest of it is marks ("é" is "e" and an acute
// accent; "Å", the Ångström sign, is "Å", which is "A" and a ring). Other characters are
// themselves.
char32_t baseLetter(char32_t c) {
    const QChar::Script script = QChar::script(c);
    if (script != QChar::Script_Latin && script != QChar::Script_Greek) return c;
    for (int depth = 0; depth < 4; ++depth) {
        if (QChar::decompositionTag(c) != QChar::Canonical) break;
        const QString parts = QChar::decomposition(c);
        if (parts.isEmpty()) break;
        const bool pair = parts.size() > 1 && parts[0].isHighSurrogate();
        const char32_t first =
            pair ? QChar::surrogateToUcs4(parts[0], parts[1]) : parts[0].unicode();
        if (isMark(first)) break;
        bool marksAfter = true;
        for (qsizetype i = pair ? 2 : 1; i < parts.size() && marksAfter; ++i)
            marksAfter = isMark(parts[i].unicode());
        if (!marksAfter) break;
        const QChar::Script firstScript = QChar::script(first);
        if (firstScript != QChar::Script_Latin && firstScript != QChar::Script_Greek) break;
        c = first;
    }
    return c;
}

// The folded form of every UTF-16 unit: made once, on first use (some milliseconds).
struct FoldTable {
    char16_t units[0x10000];
    FoldTable() {
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (QChar::isSurrogate(c)) {
                units[c] = char16_t(c);
                continue;
            }
            if (QChar::isSpace(c)) {
                units[c] = u' ';
                continue;
            }
            char32_t folded = QChar::toCaseFolded(baseLetter(QChar::toCaseFolded(c)));
            units[c] = folded > 0xFFFF ? char16_t(c) : char16_t(folded);
        }
    }
};

const FoldTable& foldTable() {
    static const std::unique_ptr<const FoldTable> table = std::make_unique<const FoldTable>();
    return *table;
}

}  // namespace

QString foldText(QStringView text) {
    const FoldTable& table = foldTable();
    QString out(text.size(), Qt::Uninitialized);
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    const char16_t* from = text.utf16();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = from[i];
        if (c < 0x80) {
            to[i] = c >= u'A' && c <= u'Z' ? char16_t(c + 32) : table.units[c];
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(from[i + 1])) {
            // A letter past the first 65,536 (Deseret, Adlam, …): case-folded when its
            // folded form is written in two units too.
            const char32_t folded = QChar::toCaseFolded(QChar::surrogateToUcs4(c, from[i + 1]));
            const bool wide = folded > 0xFFFF;
            to[i] = wide ? QChar::highSurrogate(folded) : c;
            to[i + 1] = wide ? QChar::lowSurrogate(folded) : from[i + 1];
            ++i;
            continue;
        }
        to[i] = table.units[c];
    }
    return out;
}

QString foldQuery(QStringView typed) {
    QString folded = foldText(typed.left(kMaxQueryLength));
    folded.removeIf([](QChar c) { return c.unicode() >= 0x300 && c.unicode() <= 0x36F; });
    return folded;
}

qsizetype countMatches(QStringView folded, QStringView query) {
    if (query.isEmpty()) return 0;
    qsizetype count = 0;
    for (qsizetype at = folded.indexOf(query); at >= 0;
         at = folded.indexOf(query, at + query.size()))
        ++count;
    return count;
}

std::vector<qsizetype> matchStarts(QStringView folded, QStringView query) {
    std::vector<qsizetype> starts;
    if (query.isEmpty()) return starts;
    for (qsizetype at = folded.indexOf(query); at >= 0;
         at = folded.indexOf(query, at + query.size()))
        starts.push_back(at);
    return starts;
}

}  // namespace parlote::find
