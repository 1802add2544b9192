#include "SystemPromptCard.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include "MarkdownStyle.h"

namespace parlote {

SystemPromptCard::SystemPromptCard(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(tr("System prompt"));
    setToolTip(tr("Edit the system prompt"));
    connect(this, &QAbstractButton::clicked, this, &SystemPromptCard::activated);
    hide();
}

void SystemPromptCard::setPrompt(const QString& prompt) {
    const QString shown = prompt.trimmed().isEmpty() ? QString() : prompt;
    if (shown == prompt_ && isHidden() == shown.isEmpty()) return;
    prompt_ = shown;
    setAccessibleDescription(prompt_);
    // The keyboard does not stay on a card that goes away.
    if (prompt_.isEmpty() && hasFocus()) focusNextChild();
    setVisible(!prompt_.isEmpty());
    updateGeometry();
    update();
}

QFont SystemPromptCard::captionFont() const {
    QFont caption = font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    caption.setBold(true);
    return caption;
}

QStringList SystemPromptCard::linesFor(int width) const {
    QStringList lines;
    if (width <= 0 || prompt_.isEmpty()) return lines;
    const QFontMetrics metrics(font());
    // Paragraphs of the prompt, each wrapped, until maxLines are filled.
    const QStringList paragraphs = prompt_.split(QLatin1Char('\n'));
    bool more = false;
    for (qsizetype p = 0; p < paragraphs.size() && !more; ++p) {
        const QString paragraph = paragraphs[p];
        if (paragraph.trimmed().isEmpty() && lines.isEmpty()) continue;  // leading blank lines
        QTextLayout layout(paragraph, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            if (lines.size() == maxLines) {
                more = true;
                break;
            }
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
        if (lines.size() == maxLines && p + 1 < paragraphs.size()) more = true;
    }
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    if (more && !lines.isEmpty()) {
        // The last line shown ends with an ellipsis, whatever room it had.
        QString& last = lines.last();
        last = metrics.elidedText(last + QStringLiteral(" …"), Qt::ElideRight, width);
        if (!last.endsWith(QChar(0x2026))) last += QChar(0x2026);
    }
    return lines;
}

QStringList SystemPromptCard::shownLines() const {
    return linesFor(width() - 2 * (margin + padding));
}

int SystemPromptCard::heightForWidth(int width) const {
    if (prompt_.isEmpty()) return 0;
    const int lines = qMax<int>(1, int(linesFor(width - 2 * (margin + padding)).size()));
    return margin + padding + QFontMetrics(captionFont()).height() + 2 +
           lines * QFontMetrics(font()).lineSpacing() + padding;
}

QSize SystemPromptCard::sizeHint() const {
    const int w = qMax(200, width());
    return {w, heightForWidth(w)};
}

QSize SystemPromptCard::minimumSizeHint() const {
    return {100, heightForWidth(qMax(200, width()))};
}

void SystemPromptCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor window = pal.color(QPalette::Window);
    const QColor text = pal.color(QPalette::WindowText);
    const QRectF card = QRectF(rect()).adjusted(margin + 0.5, margin + 0.5, -margin - 0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(card, 8, 8);
    painter.fillPath(path, mixColors(window, text, underMouse() || isDown() ? 0.09 : 0.05));
    if (hasFocus()) {
        painter.setPen(QPen(pal.color(QPalette::Highlight), 2));
    } else {
        painter.setPen(QPen(mixColors(window, text, 0.18), 1));
    }
    painter.drawPath(path);

    const int x = margin + padding;
    int y = margin + padding;
    const QFont caption = captionFont();
    painter.setFont(caption);
    painter.setPen(secondaryTextColor(pal));
    const QFontMetrics captionMetrics(caption);
    painter.drawText(QRect(x, y, width() - 2 * x, captionMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, tr("System prompt"));
    y += captionMetrics.height() + 2;
    painter.setFont(font());
    painter.setPen(mixColors(window, text, 0.8));
    const QFontMetrics metrics(font());
    for (const QString& line : shownLines()) {
        painter.drawText(QPoint(x, y + metrics.ascent()), line);
        y += metrics.lineSpacing();
    }
}

void SystemPromptCard::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SystemPromptCard::enterEvent(QEnterEvent* event) {
    update();
    QAbstractButton::enterEvent(event);
}

void SystemPromptCard::leaveEvent(QEvent* event) {
    update();
    QAbstractButton::leaveEvent(event);
}

void SystemPromptCard::focusInEvent(QFocusEvent* event) {
    update();
    QAbstractButton::focusInEvent(event);
}

void SystemPromptCard::focusOutEvent(QFocusEvent* event) {
    update();
    QAbstractButton::focusOutEvent(event);
}

void SystemPromptCard::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        updateGeometry();
        update();
    }
}

}  // namespace parlote
