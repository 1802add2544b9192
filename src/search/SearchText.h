#pragma once

// The text on either side of the index: what the user types, turned into a full-text
// query that means exactly what it looks like, and the marked excerpts the index gives
// back, turned into one line of plain text with the places that matched.

#include <QList>
#include <QString>
#include <QStringView>

#include "ChatRecords.h"

namespace parlote {

/// The index's expression for what the user typed (empty when it holds no word):
///  - words, in any order, must all occur;
///  - text in double quotes must occur as that phrase (a quote left open runs to the end);
///  - the last word, or a phrase left open, matches as a prefix unless a space follows
///    it, so that results come while a word is being typed ("pyth" finds "Python"); a
///    single letter is matched whole (as a prefix it would match a good part of all
///    words, slowly and to no use);
/// Every word and phrase is quoted for the index, so nothing the user types acts as an
/// operator or a column name, or makes the expression invalid: `AND`, `NEAR(`, `-x`,
/// `title:`, `*` and stray quotes are just text. Case and accents are left to the index.
/// At most kMaxQueryTerms words and phrases are kept.
QString matchExpression(QStringView typed);
inline constexpr int kMaxQueryTerms = 32;
/// Characters of a query beyond this many are not searched for.
inline constexpr qsizetype kMaxQueryLength = 500;
/// The shortest last word matched as a prefix.
inline constexpr int kMinPrefixLength = 2;

/// The markers the index puts around each match in an excerpt.
inline constexpr QChar kMatchBegin = QChar(0x01);
inline constexpr QChar kMatchEnd = QChar(0x02);

/// A run of characters (UTF-16 code units) in a text.
struct TextRange {
    qsizetype start = 0;
    qsizetype length = 0;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

struct MarkedText {
    QString text;
    QList<TextRange> matches;
};

/// Plain text from an excerpt with kMatchBegin/kMatchEnd around the matches: the markers
/// become ranges, and each run of white space (line breaks included) becomes one space,
/// with none at either end, so that the excerpt fits on one line.
MarkedText unmark(QStringView marked);

/// A title's text as the index stores it: the tags of a thinking section and the two
/// marker characters become spaces (the words inside stay).
QString indexableText(const QString& text);

/// A message as the index stores it: the words it shows, as they read rendered (the plain
/// text of its Markdown, without "**", backticks or link addresses; of a reply, its
/// reasoning, then its answer), or an error's text as written; the two marker characters
/// become spaces. Excerpts are cut from this text, so they read as the transcript does.
QString indexableText(const ChatMessage& message);

}  // namespace parlote
