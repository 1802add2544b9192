#pragma once

// The bar under the transcript for finding text in the open conversation: a field, the
// count ("3 of 17", "No matches", nothing while the field is empty), the previous and next
// buttons and a close button. What is typed is looked for as it is typed
// (TranscriptView::setFindText, TranscriptFind.h), every match highlighted in the
// transcript and the current one brought into view.
//
// The keys: Ctrl+F opens the bar with the keyboard in its field and its text selected
// (from anywhere in the window); Return and Shift+Return in the field go to the next and
// previous match, F3 and Shift+F3 do so anywhere in the window (opening the bar when it is
// closed); Escape in the field closes the bar, takes the highlights away and puts the
// keyboard back where it was before the bar opened (or in the fallback widget, the
// message input box). The three commands are actions for the window's Edit menu, which
// the owner adds to a widget that is always shown so that their keys work while the bar
// is closed. The field keeps its text for the next time the bar opens.
//
// Screen readers: the bar is named "Find in conversation"; the count is a label of its
// own and the field's description, so that it is read with the field and again when it
// changes.
//
// Interface thread only.

#include <QPointer>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QToolButton;

namespace parlote {

class TranscriptView;

class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(TranscriptView* transcript, QWidget* parent = nullptr);

    QLineEdit* field() const { return field_; }
    /// "3 of 17", "No matches", … ; empty while the field is.
    QLabel* countLabel() const { return count_; }
    QToolButton* previousButton() const { return previous_; }
    QToolButton* nextButton() const { return next_; }
    QToolButton* closeButton() const { return close_; }

    /// Edit → "Find…" (Ctrl+F), "Find Next" (F3) and "Find Previous" (Shift+F3).
    QAction* findAction() const { return findAction_; }
    QAction* findNextAction() const { return findNextAction_; }
    QAction* findPreviousAction() const { return findPreviousAction_; }

    /// Where the keyboard goes when the bar closes and the widget it came from is gone or
    /// hidden.
    void setFallbackFocus(QWidget* widget) { fallbackFocus_ = widget; }

    /// Shows the bar (looking for the field's text again) with the keyboard in the field
    /// and its text selected.
    void open();
    /// Hides the bar, ends finding and puts the keyboard back.
    void dismiss();
    /// Goes to the next (previous) match; opens the bar when it is closed.
    void findNext();
    void findPrevious();

    /// What the count says for `current` (from 0, -1 for none) of `total` matches, the field
    /// holding text (`active`) and the search still going on (`searching`).
    static QString countText(qsizetype current, qsizetype total, bool active, bool searching);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void updateCount();

    TranscriptView* transcript_;
    QLineEdit* field_;
    QLabel* count_;
    QToolButton* previous_;
    QToolButton* next_;
    QToolButton* close_;
    QAction* findAction_;
    QAction* findNextAction_;
    QAction* findPreviousAction_;
    QPointer<QWidget> returnFocus_;
    QPointer<QWidget> fallbackFocus_;
};

}  // namespace parlote
