// TranscriptView: editing a user message in place. The editor is a child of the viewport
// laid over the message's row, which takes the editor's height while it is open; it moves
// with the row when the transcript scrolls and closes when its message leaves the
// transcript.

#include <QApplication>
#include <QPlainTextEdit>
#include <cmath>

#include "TranscriptEditor.h"
#include "TranscriptView.h"

namespace parlote {

void TranscriptView::beginEditing(const QUuid& id) {
    const std::optional<qsizetype> at = messages_.lastIndexOf(id);
    if (!at || messages_.at(*at).type() != ChatMessageType::user) return;
    if (editor_) cancelEditing();
    editingId_ = id;
    editor_ = new TranscriptEditor(viewport());
    editor_->setText(messages_.at(*at).content());
    editor_->setSendEnabled(!replyInProgress_);
    connect(editor_, &TranscriptEditor::sendRequested, this, &TranscriptView::submitEditing);
    connect(editor_, &TranscriptEditor::cancelRequested, this, &TranscriptView::cancelEditing);
    connect(editor_, &TranscriptEditor::textChanged, this, [this] {
        // The row follows the editor's height.
        if (const int row = editingRow(); row >= 0) {
            rows_[size_t(row)].exact = false;
            offsetsDirty_ = true;
            settle();
            viewport()->update();
        }
    });
    rows_[size_t(*at)].exact = false;
    offsetsDirty_ = true;
    editor_->show();
    settle();  // lays the row out at the editor's height and places the editor
    // The whole editor in view, its top first when it is taller than the view.
    const QRect r = editor_->geometry();
    const int visible = viewport()->height();
    if (r.bottom() >= visible) setScrollPosition(top_ + r.bottom() + 1 - visible + padding);
    if (editor_->geometry().top() < 0)
        setScrollPosition(top_ + editor_->geometry().top() - padding);
    editor_->textEdit()->setFocus(Qt::OtherFocusReason);
    viewport()->update();
}

void TranscriptView::cancelEditing() {
    if (!editor_) return;
    TranscriptEditor* editor = std::exchange(editor_, nullptr);
    const bool hadFocus = editor->isAncestorOf(QApplication::focusWidget());
    const int row = [&] {
        const std::optional<qsizetype> at = messages_.lastIndexOf(editingId_);
        return at ? int(*at) : -1;
    }();
    editingId_ = QUuid();
    editor->hide();
    editor->deleteLater();  // this may run in one of its own signals
    if (row >= 0) rows_[size_t(row)].exact = false;
    offsetsDirty_ = true;
    if (hadFocus) setFocus(Qt::OtherFocusReason);
    settle();
    viewport()->update();
}

void TranscriptView::submitEditing() {
    if (!editor_ || replyInProgress_) return;
    const QString text = editor_->text().trimmed();
    const QUuid id = editingId_;
    cancelEditing();
    if (text.isEmpty()) return;
    following_ = true;  // the reply to the new text comes at the end
    emit editSubmitted(id, text);
}

QPlainTextEdit* TranscriptView::editor() const {
    return editor_ ? editor_->textEdit() : nullptr;
}

std::optional<QUuid> TranscriptView::editingMessage() const {
    if (!editor_) return std::nullopt;
    return editingId_;
}

int TranscriptView::editingRow() const {
    if (!editor_) return -1;
    const std::optional<qsizetype> at = messages_.lastIndexOf(editingId_);
    return at ? int(*at) : -1;
}

TranscriptView::RowGeometry TranscriptView::editorGeometry() {
    RowGeometry g;
    const int width = contentWidth();
    // As wide as the widest bubble, at the right edge where the user's bubbles are.
    const int editorWidth = qMax(60, width - sideSpace);
    const int height = editor_->heightForWidth(editorWidth);
    g.bubble = QRect(width - editorWidth, 0, editorWidth, height);
    g.text = g.bubble;
    g.metaTop = height;
    g.height = height;
    return g;
}

void TranscriptView::placeEditor() {
    const int row = editingRow();
    if (row < 0) return;
    const Row& info = rows_[size_t(row)];
    if (!info.exact) return;  // placed once the row is measured
    const int top = int(std::lround(rowTop(row) - top_));
    const QRect rect = info.geometry.bubble.translated(padding, top);
    if (editor_->geometry() != rect) editor_->setGeometry(rect);
}

}  // namespace parlote
