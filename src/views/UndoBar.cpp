#include "UndoBar.h"

#include <QAccessible>
#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>

#include "ChatPaneParts.h"

namespace parlote {

UndoBar::UndoBar(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("undoBar"));
    setAccessibleName(tr("Conversation deleted"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 4, 8, 4);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon::fromTheme(QStringLiteral("user-trash")).pixmap(16, 16));
    label_ = new QLabel(tr("Conversation deleted"), this);
    label_->setTextFormat(Qt::PlainText);
    undo_ = new QPushButton(tr("Undo"), this);
    undo_->setAccessibleName(tr("Undo"));
    undo_->setAccessibleDescription(tr("Brings the deleted conversation back"));
    undo_->setToolTip(
        tr("Undo (%1)").arg(QKeySequence(QKeySequence::Undo).toString(QKeySequence::NativeText)));
    connect(undo_, &QPushButton::clicked, this, &UndoBar::undoRequested);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(label_, 1);
    row->addWidget(undo_, 0, Qt::AlignVCenter);
    hide();
}

void UndoBar::paintEvent(QPaintEvent*) {
    // The storage bar's strip in the palette's highlight colour: news, not a problem.
    const QColor tint = palette().color(QPalette::Highlight);
    views_detail::paintTintedStrip(*this, tint, 0.18, tint, 0.6);
}

// Ctrl+Z reaches the focused widget, or the Edit menu's Undo, which hands the key to that
// widget: the application's events are watched while the bar shows, so that the key is
// taken before either, wherever the focus is in this window. The shortcut step asks the
// focused widget first (ShortcutOverride); accepting there delivers the key as a press.
void UndoBar::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    qApp->installEventFilter(this);
    // Assistive technology reads the news out, as it would a message box's.
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void UndoBar::hideEvent(QHideEvent* event) {
    qApp->removeEventFilter(this);
    QFrame::hideEvent(event);
}

bool UndoBar::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress) return false;
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != window()) return false;  // a dialog keeps its keys
    if (!static_cast<QKeyEvent*>(event)->matches(QKeySequence::Undo)) return false;
    event->accept();
    if (type == QEvent::KeyPress) emit undoRequested();
    return true;
}

}  // namespace parlote
