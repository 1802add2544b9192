#pragma once

// Syntax colouring of code, line by line, by GNU source-highlight and its ~150 language
// definitions. The result is a list of tokens per line, each of a kind; SyntaxTheme.h
// gives the kinds their colours.
//
// Threads. source-highlight reads its language definitions with a parser that keeps
// global state, so reading them is serialised by a lock; what it builds from them is kept
// per thread (each thread has its own definitions and highlighters), so colouring itself
// runs on any number of threads at once without sharing anything but one lock held for a
// line at a time. A CodeHighlighter belongs to the thread that made it.

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace parlote {

enum class SyntaxKind : std::uint8_t {
    Plain,
    Keyword,
    Type,
    String,
    Comment,
    Number,
    Function,
    Preprocessor,
    Variable,  // variables, JSON keys, properties
    Special,   // escapes, regular expressions, symbols of note
    Count
};

/// A run of one line coloured as `kind`, in UTF-16 code units of the line.
struct SyntaxToken {
    int start = 0;
    int length = 0;
    SyntaxKind kind = SyntaxKind::Plain;
    bool operator==(const SyntaxToken&) const = default;
};
using SyntaxLine = std::vector<SyntaxToken>;

/// The language definition file ("python.lang") that colours code fenced with
/// `language` ("py", "Python", "c++", "js", "bash"...), or an empty string when no
/// definition is known for it. Only the first word counts.
QString syntaxDefinitionFor(const QString& language);

class CodeHighlighter {
public:
    /// A highlighter for `language` (as written after a code fence). Invalid, colouring
    /// nothing, when the language is unknown or its definition cannot be read.
    explicit CodeHighlighter(const QString& language);
    ~CodeHighlighter();
    CodeHighlighter(const CodeHighlighter&) = delete;
    CodeHighlighter& operator=(const CodeHighlighter&) = delete;

    bool isValid() const;

    /// Colours the next line (without its line break), continuing from the lines before
    /// it: a string or comment left open carries over.
    SyntaxLine highlightLine(const QString& line);

    /// Where the highlighter stands between two lines, to come back to: a line still
    /// being written is coloured from the checkpoint of the lines before it, and again
    /// from there once it has grown.
    class Checkpoint;
    std::shared_ptr<const Checkpoint> checkpoint() const;
    void restore(const std::shared_ptr<const Checkpoint>& checkpoint);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

/// Lines longer than this (UTF-16 code units) are left plain: colouring a line costs time
/// that grows with the square of its length.
inline constexpr qsizetype kMaxColouredLineLength = 4096;

/// Colours every line of `lines` as `language`: empty lists when the language is
/// unknown. Nothing when `cancelled` became true or colouring stopped on the way (checked
/// between lines). Safe to call on any thread.
std::optional<std::vector<SyntaxLine>> highlightLines(const QString& language,
                                                      const QStringList& lines,
                                                      const std::atomic<bool>* cancelled = nullptr);

/// Stops all colouring for good: workers end at their next line and none start (the
/// application is quitting).
void stopColouring();
bool isColouringStopped();

}  // namespace parlote
