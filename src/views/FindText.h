#pragma once

// Text as Find in a conversation compares it (TranscriptFind.h). Both the text searched
// and what the user typed are folded, one UTF-16 unit for one, so that a place found in
// the folded text is the same place in the text:
//  - case does not matter: letters are case-folded (Unicode's simple folding, so "ß"
//    stays "ß" and does not match "ss");
//  - accents do not matter on Latin and Greek letters: a letter written with accents
//    in one character ("é", "Å", "ῷ") reads as its base letter ("e", "a", "ω"); an
//    accent typed as a character of its own after the letter (U+0300 to U+036F) is left
//    out of what the user typed, and in the text it is one more character after a match;
//    letters of other scripts keep their marks ("й" is not "и", "ऩ" is not "न");
//  - every white space character (a line break, a tab, a no-break space) reads as a
//    space, so that two words typed with a space between them are found across a line
//    break.
// Matches do not overlap: "aa" is found twice in "aaaa", from the left.

#include <QString>
#include <QStringView>
#include <vector>

namespace parlote::find {

/// Characters of what the user typed beyond this many are not looked for.
inline constexpr qsizetype kMaxQueryLength = 1000;

/// `text` folded as above, of the same length.
QString foldText(QStringView text);

/// What the user typed, folded, without accents typed on their own, at most
/// kMaxQueryLength characters of it. Empty when nothing is left to look for.
QString foldQuery(QStringView typed);

/// How many times `query` (folded) occurs in `folded`.
qsizetype countMatches(QStringView folded, QStringView query);

/// Where each of those occurrences begins, from first to last.
std::vector<qsizetype> matchStarts(QStringView folded, QStringView query);

}  // namespace parlote::find
