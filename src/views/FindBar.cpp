#include "FindBar.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QStyle>
#include <QToolButton>

#include "MarkdownStyle.h"
#include "TranscriptView.h"

namespace parlote {

namespace {

QString keysText(const QKeySequence& keys) {
    return keys.toString(QKeySequence::NativeText);
}

bool isReturn(const QKeyEvent* key) {
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

}  // namespace

FindBar::FindBar(TranscriptView* transcript, QWidget* parent)
    : QWidget(parent),
      transcript_(transcript),
      field_(new QLineEdit(this)),
      count_(new QLabel(this)),
      previous_(new QToolButton(this)),
      next_(new QToolButton(this)),
      close_(new QToolButton(this)) {
    setObjectName(QStringLiteral("findBar"));
    setAccessibleName(tr("Find in conversation"));

    field_->setPlaceholderText(tr("Find in conversation"));
    field_->setAccessibleName(tr("Find in conversation"));
    field_->setMinimumWidth(160);
    field_->setMaximumWidth(320);
    field_->installEventFilter(this);

    count_->setTextFormat(Qt::PlainText);
    // Room for "Searching…" and "1,234 of 5,678" without the buttons moving as it changes.
    const QFontMetrics metrics(count_->font());
    count_->setMinimumWidth(qMax(metrics.horizontalAdvance(countText(-1, 0, true, true)),
                                 metrics.horizontalAdvance(countText(1233, 5678, true, false))) +
                            4);

    findAction_ = new QAction(QIcon::fromTheme(QStringLiteral("edit-find")), tr("&Find…"), this);
    findAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(findAction_, &QAction::triggered, this, &FindBar::open);
    findNextAction_ =
        new QAction(QIcon::fromTheme(QStringLiteral("go-down")), tr("Find &Next"), this);
    findNextAction_->setShortcut(QKeySequence(Qt::Key_F3));
    connect(findNextAction_, &QAction::triggered, this, &FindBar::findNext);
    findPreviousAction_ =
        new QAction(QIcon::fromTheme(QStringLiteral("go-up")), tr("Find Pre&vious"), this);
    findPreviousAction_->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    connect(findPreviousAction_, &QAction::triggered, this, &FindBar::findPrevious);

    // The buttons draw their arrows and cross with the style, so that they show without an
    // icon theme.
    const auto setUp = [this](QToolButton* button, const QString& name, const QString& keys) {
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setAccessibleName(name);
        button->setToolTip(tr("%1 (%2)").arg(name, keys));
    };
    previous_->setArrowType(Qt::UpArrow);
    setUp(previous_, tr("Previous match"),
          keysText(QKeySequence(Qt::SHIFT | Qt::Key_Return)) + QStringLiteral(", ") +
              keysText(findPreviousAction_->shortcut()));
    connect(previous_, &QToolButton::clicked, this, &FindBar::findPrevious);
    next_->setArrowType(Qt::DownArrow);
    setUp(next_, tr("Next match"),
          keysText(QKeySequence(Qt::Key_Return)) + QStringLiteral(", ") +
              keysText(findNextAction_->shortcut()));
    connect(next_, &QToolButton::clicked, this, &FindBar::findNext);
    close_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton, nullptr, this));
    setUp(close_, tr("Close the find bar"), keysText(QKeySequence(Qt::Key_Escape)));
    connect(close_, &QToolButton::clicked, this, &FindBar::dismiss);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 6, 8, 6);
    row->setSpacing(6);
    row->addWidget(field_, 1);
    row->addWidget(count_);
    row->addWidget(previous_);
    row->addWidget(next_);
    row->addStretch(1);
    row->addWidget(close_);

    connect(field_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!isHidden()) transcript_->setFindText(text);
        updateCount();
    });
    connect(transcript_, &TranscriptView::findResultsChanged, this, &FindBar::updateCount);
    hide();
    updateCount();
}

void FindBar::open() {
    if (isHidden()) {
        QWidget* focus = QApplication::focusWidget();
        returnFocus_ = focus && !isAncestorOf(focus) ? focus : nullptr;
        show();
        transcript_->setFindText(field_->text());
    }
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
    updateCount();
}

void FindBar::dismiss() {
    if (isHidden()) return;
    // The keyboard goes back before the bar hides, or Qt would hand it to the next widget.
    if (isAncestorOf(QApplication::focusWidget())) {
        QWidget* back = returnFocus_ && returnFocus_->isVisible() && returnFocus_->isEnabled()
                            ? returnFocus_.data()
                            : fallbackFocus_.data();
        if (back) back->setFocus(Qt::OtherFocusReason);
    }
    hide();
    transcript_->setFindText(QString());
    updateCount();
}

void FindBar::findNext() {
    if (isHidden()) {
        open();  // looks from the top of the view down: the first match there is current
        return;
    }
    transcript_->findNext();
}

void FindBar::findPrevious() {
    if (isHidden()) {
        open();
        return;
    }
    transcript_->findPrevious();
}

QString FindBar::countText(qsizetype current, qsizetype total, bool active, bool searching) {
    if (!active) return {};
    if (searching) return tr("Searching…");
    if (total == 0) return tr("No matches");
    const QLocale locale;
    if (current < 0)
        return total == 1 ? tr("1 match") : tr("%1 matches").arg(locale.toString(total));
    return tr("%1 of %2").arg(locale.toString(current + 1), locale.toString(total));
}

void FindBar::updateCount() {
    const bool active = !isHidden() && !field_->text().isEmpty();
    const qsizetype total = active ? transcript_->findMatchCount() : 0;
    const QString text =
        countText(transcript_->currentFindMatch(), total, active, transcript_->isFindSearching());
    previous_->setEnabled(total > 0);
    next_->setEnabled(total > 0);
    if (text == count_->text()) return;
    count_->setText(text);
    // Read with the field, and again as it changes.
    field_->setAccessibleDescription(text);
    setAccessibleDescription(text);
    if (QAccessible::isActive()) {
        QAccessibleEvent changed(field_, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != field_ ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    const bool escape = key->key() == Qt::Key_Escape && modifiers == Qt::NoModifier;
    const bool next = isReturn(key) && modifiers == Qt::NoModifier;
    const bool previous = isReturn(key) && modifiers == Qt::ShiftModifier;
    if (!escape && !next && !previous) return QWidget::eventFilter(watched, event);
    key->accept();
    // Offered as a shortcut first: the key is the field's (Escape does not stop a reply here).
    if (event->type() == QEvent::ShortcutOverride) return true;
    if (escape)
        dismiss();
    else if (next)
        transcript_->findNext();
    else
        transcript_->findPrevious();
    return true;
}

void FindBar::paintEvent(QPaintEvent*) {
    // The window's background, a line along the top to part it from the transcript.
    QPainter painter(this);
    const QPalette& pal = palette();
    painter.fillRect(rect(), pal.color(QPalette::Window));
    painter.fillRect(QRect(0, 0, width(), 1),
                     mixColors(pal.color(QPalette::Window), pal.color(QPalette::WindowText), 0.15));
}

}  // namespace parlote
