#include "WholeMessageWindow.h"

#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace parlote {

namespace {

// The editor copies the original text of a selection, without the added breaks.
class WholeTextEdit : public QPlainTextEdit {
public:
    WholeTextEdit(const WholeMessageWindow* window, QWidget* parent)
        : QPlainTextEdit(parent), window_(window) {}

protected:
    QMimeData* createMimeDataFromSelection() const override {
        const QTextCursor cursor = textCursor();
        const qsizetype from = window_->textPosition(cursor.selectionStart());
        const qsizetype to = window_->textPosition(cursor.selectionEnd());
        auto* data = new QMimeData;
        data->setText(window_->text().mid(from, to - from));
        return data;
    }

private:
    const WholeMessageWindow* window_;
};

}  // namespace

WholeMessageWindow::WholeMessageWindow(const QString& text, QWidget* parent)
    : QWidget(parent, Qt::Window),
      text_(text),
      editor_(new WholeTextEdit(this, this)),
      loader_(new QTimer(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Whole Message"));
    resize(720, 560);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(editor_);
    editor_->setReadOnly(true);
    editor_->setUndoRedoEnabled(false);
    editor_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    loader_->setInterval(0);
    connect(loader_, &QTimer::timeout, this, &WholeMessageWindow::loadPiece);
    loadPiece();  // the beginning shows at once
    if (isLoading()) loader_->start();
}

WholeMessageWindow::~WholeMessageWindow() = default;

qsizetype WholeMessageWindow::textPosition(qsizetype documentPosition) const {
    const auto added = std::lower_bound(breaks_.begin(), breaks_.end(), documentPosition);
    return documentPosition - qsizetype(added - breaks_.begin());
}

void WholeMessageWindow::loadPiece() {
    const QStringView rest = QStringView(text_).mid(loaded_, pieceLength);
    qsizetype length = rest.size();
    if (loaded_ + length < text_.size() && rest.at(length - 1).isHighSurrogate())
        --length;  // the pair goes in whole with the next piece
    // The piece as it goes in: with a break wherever a line grows past `longestLine`.
    QTextCursor end(editor_->document());
    end.movePosition(QTextCursor::End);
    qsizetype documentPosition = end.position();
    QString piece;
    piece.reserve(length + length / longestLine + 1);
    for (qsizetype at = 0; at < length;) {
        qsizetype newline = rest.left(length).indexOf(u'\n', at);
        const qsizetype lineEnd = newline < 0 ? length : newline;
        qsizetype room = longestLine - lineRun_;
        if (lineEnd - at <= room) {
            // The line (or the rest of the piece) fits.
            const qsizetype take = newline < 0 ? lineEnd - at : lineEnd - at + 1;
            piece += rest.mid(at, take);
            lineRun_ = newline < 0 ? lineRun_ + take : 0;
            at += take;
            continue;
        }
        // Break within the line: after the last space in reach, else where it is full.
        QStringView chunk = rest.mid(at, room);
        qsizetype cut = chunk.lastIndexOf(u' ') + 1;
        if (cut <= room / 2) cut = room;
        if (cut > 0 && chunk.at(cut - 1).isHighSurrogate()) --cut;
        piece += rest.mid(at, cut);
        breaks_.push_back(documentPosition + piece.size());
        piece += u'\n';
        lineRun_ = 0;
        at += cut;
    }
    // Characters the document would take as paragraph ends go in as spaces: each
    // character of the text keeps exactly one position in the document.
    for (QChar& c : piece)
        if (c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xFDD0) ||
            c == QChar(0xFDD1))
            c = u' ';
    end.insertText(piece);
    loaded_ += length;
    if (!isLoading()) {
        loader_->stop();
        emit loaded();
    }
}

}  // namespace parlote
