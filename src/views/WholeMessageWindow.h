#pragma once

// A separate window showing the whole text of a message too long for the transcript,
// read-only and as plain text. A plain-text editor lays out only the lines in view, but
// a single line is laid out whole, and putting megabytes in at once takes seconds: so the
// text goes in piece by piece, one piece per turn of the event loop, and a line longer
// than `longestLine` is broken (at a space when there is one near) into lines of its own.
// Copying gives the original text: the added breaks are left out.

#include <QString>
#include <QWidget>
#include <vector>

class QPlainTextEdit;
class QTimer;

namespace parlote {

class WholeMessageWindow : public QWidget {
    Q_OBJECT
public:
    /// Lines longer than this are shown broken into several.
    static constexpr qsizetype longestLine = 4096;
    /// How much text goes in per turn of the event loop.
    static constexpr qsizetype pieceLength = 256 * 1024;

    explicit WholeMessageWindow(const QString& text, QWidget* parent = nullptr);
    ~WholeMessageWindow() override;

    const QString& text() const { return text_; }
    QPlainTextEdit* editor() const { return editor_; }
    /// Whether part of the text is still to go in.
    bool isLoading() const { return loaded_ < text_.size(); }
    /// The position in the original text of a position in the editor's document.
    qsizetype textPosition(qsizetype documentPosition) const;

signals:
    /// The whole text is in.
    void loaded();

private:
    void loadPiece();

    QString text_;
    qsizetype loaded_ = 0;           // how much of `text_` is in the document
    qsizetype lineRun_ = 0;          // characters since the last line break in the document
    std::vector<qsizetype> breaks_;  // document positions of the added line breaks
    QPlainTextEdit* editor_;
    QTimer* loader_;
};

}  // namespace parlote
