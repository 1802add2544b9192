#include "TranscriptEditor.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>
#include <cmath>

#include "CustomTextView.h"
#include "MarkdownStyle.h"

namespace parlote {

TranscriptEditor::TranscriptEditor(QWidget* parent)
    : QWidget(parent),
      edit_(new CustomNSTextView(this)),
      cancel_(new QPushButton(tr("Cancel"), this)),
      send_(new QPushButton(tr("Send"), this)) {
    edit_->setOnSubmit([this] {
        if (sendEnabled_) emit sendRequested();
    });
    edit_->installEventFilter(this);
    cancel_->setAutoDefault(false);
    send_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &TranscriptEditor::cancelRequested);
    connect(send_, &QPushButton::clicked, this, [this] {
        if (sendEnabled_) emit sendRequested();
    });
    connect(edit_, &QPlainTextEdit::textChanged, this, &TranscriptEditor::textChanged);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(frameMargin, frameMargin, frameMargin, 0);
    column->setSpacing(buttonSpacing + frameMargin);
    column->addWidget(edit_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(buttonSpacing);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(send_);
    column->addLayout(buttons);
    setFocusProxy(edit_);
}

QPlainTextEdit* TranscriptEditor::textEdit() const {
    return edit_;
}

void TranscriptEditor::setText(const QString& text) {
    edit_->setPlainText(text);
    edit_->moveCursor(QTextCursor::End);
}

QString TranscriptEditor::text() const {
    return edit_->toPlainText();
}

void TranscriptEditor::setSendEnabled(bool enabled) {
    sendEnabled_ = enabled;
    send_->setEnabled(enabled);
}

int TranscriptEditor::heightForWidth(int width) const {
    // The text's lines as the box wraps them: at the width inside its insets, at word
    // boundaries or anywhere in a word too long for a line.
    const int textWidth = qMax(1, width - 2 * frameMargin - 2 * CustomNSTextView::horizontalInset -
                                      2 * edit_->frameWidth() - edit_->cursorWidth());
    const QFontMetricsF metrics(edit_->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    int lines = 0;
    for (QTextBlock block = edit_->document()->firstBlock(); block.isValid() && lines < maxLines;
         block = block.next()) {
        QTextLayout layout(block.text(), edit_->font());
        layout.setTextOption(option);
        layout.beginLayout();
        int blockLines = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(textWidth);
            ++blockLines;
        }
        layout.endLayout();
        lines += qMax(1, blockLines);
    }
    lines = qBound(1, lines, maxLines);
    const int textHeight = int(std::ceil(lines * metrics.lineSpacing())) +
                           2 * CustomNSTextView::verticalInset + 2 * edit_->frameWidth() + 2;
    const int buttonHeight = qMax(cancel_->sizeHint().height(), send_->sizeHint().height());
    return frameMargin + textHeight + buttonSpacing + frameMargin + buttonHeight;
}

bool TranscriptEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_) {
        const bool escape =
            (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (escape && event->type() == QEvent::ShortcutOverride) {
            event->accept();  // Escape is the editor's, whatever the window binds it to
            return true;
        }
        if (escape) {
            emit cancelRequested();
            return true;
        }
        // The frame shows where the focus is.
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) update();
    }
    return QWidget::eventFilter(watched, event);
}

void TranscriptEditor::paintEvent(QPaintEvent*) {
    // A frame around the text box, in the highlight colour while it has the focus.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const bool focused = edit_->hasFocus();
    const QColor color =
        focused ? pal.color(QPalette::Highlight)
                : mixColors(pal.color(QPalette::Window), pal.color(QPalette::WindowText), 0.3);
    painter.setPen(QPen(color, focused ? 2 : 1));
    painter.setBrush(Qt::NoBrush);
    const QRectF frame = QRectF(edit_->geometry()).adjusted(-1, -1, 1, 1);
    painter.drawRoundedRect(frame, 3, 3);
}

}  // namespace parlote
