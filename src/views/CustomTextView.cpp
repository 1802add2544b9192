#include "CustomTextView.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "PictureStrip.h"
#include "ViewFonts.h"

namespace parlote {

CustomNSTextView::CustomNSTextView(QWidget* parent) : QPlainTextEdit(parent) {
    setFont(views::inputFont(font()));
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The text wraps at the box's width, between words or, for a word longer than a line,
    // anywhere. It never moves sideways: after the box narrows, the layout keeps the widest
    // line it has seen for a while, and the hidden scroll bar's range would let a swipe, a
    // tilted wheel or the cursor shift the first letters out of view.
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QScrollBar* sideways = horizontalScrollBar();
    connect(sideways, &QScrollBar::rangeChanged, this, [sideways](int minimum, int maximum) {
        if (minimum != 0 || maximum != 0) sideways->setRange(0, 0);
    });
    setTabChangesFocus(true);
    setUndoRedoEnabled(true);
    setAccessibleName(tr("Message"));
    setAccessibleDescription(tr("Return sends the message, Shift+Return starts a new line"));

    // The insets live outside the viewport; paint them in the text background too.
    document()->setDocumentMargin(0);
    setViewportMargins(horizontalInset, verticalInset, horizontalInset, verticalInset);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

qreal CustomNSTextView::measuredHeight() const {
    // QPlainTextDocumentLayout reports its size in lines; add up the blocks' pixel heights.
    const QAbstractTextDocumentLayout* layout = document()->documentLayout();
    qreal height = 0;
    for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next())
        height += layout->blockBoundingRect(block).height();
    return height + 2 * verticalInset;
}

void CustomNSTextView::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return) {  // the keypad's Enter is Qt::Key_Enter
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->modifiers() & Qt::ShiftModifier) {
        textCursor().insertText(QStringLiteral("\n"));
        ensureCursorVisible();
    } else if (onSubmit_) {
        onSubmit_();
    }
}

bool CustomNSTextView::canInsertFromMimeData(const QMimeData* source) const {
    if (onPictures_ && holdsPictures(source)) return true;
    return source->hasText() || source->hasHtml();
}

void CustomNSTextView::insertFromMimeData(const QMimeData* source) {
    // A copied picture often comes with its address or file name as text: the picture
    // is what was meant.
    if (onPictures_ && holdsPictures(source)) {
        onPictures_(source);
        return;
    }
    QString text = source->text();
    if (text.isEmpty() && source->hasHtml())
        text = QTextDocumentFragment::fromHtml(source->html()).toPlainText();
    if (text.isEmpty()) return;
    textCursor().insertText(text);
    ensureCursorVisible();
}

CustomTextView::CustomTextView(QWidget* parent)
    : QWidget(parent), textView_(new CustomNSTextView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(textView_);
    setFocusProxy(textView_);

    connect(textView_, &QPlainTextEdit::textChanged, this, [this] {
        if (replacing_) return;
        emit textEdited(textView_->toPlainText());
        reportHeightLater(textView_->measuredHeight());
    });
}

int CustomTextView::boxHeight(qreal textHeight) {
    return static_cast<int>(std::ceil(std::min(textHeight + 16, qreal(120))));
}

QString CustomTextView::text() const {
    return textView_->toPlainText();
}

void CustomTextView::setText(const QString& text) {
    if (textView_->toPlainText() == text) return;
    replacing_ = true;
    textView_->setPlainText(text);
    textView_->moveCursor(QTextCursor::End);
    replacing_ = false;
    reportHeightLater(std::max(textView_->measuredHeight(), minimumExternalHeight));
}

void CustomTextView::reportHeightLater(qreal height) {
    QTimer::singleShot(0, this, [this, height] { emit heightChanged(height); });
}

}  // namespace parlote
