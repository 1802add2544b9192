#pragma once

// The multi-line message input box of the main window: Return sends, Shift+Return
// breaks the line, the text flows out through `textEdited` and in through `setText`,
// and the height of the text is reported so that the window can size the box. Pasted or
// dropped pictures go to the owner rather than into the text.

#include <QPlainTextEdit>
#include <QString>
#include <QWidget>
#include <functional>

class QMimeData;

namespace parlote {

/// The editing widget. Plain text only; Return (also with Ctrl, Alt or Meta) calls
/// `onSubmit` and never inserts a line break, Shift+Return inserts one, and the keypad's
/// Enter key behaves as in any other text field.
class CustomNSTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    /// Empty space between the box's edge and the text, left/right and top/bottom.
    static constexpr int horizontalInset = 4;
    static constexpr int verticalInset = 6;

    explicit CustomNSTextView(QWidget* parent = nullptr);

    /// Called on Return; none set means Return does nothing.
    void setOnSubmit(std::function<void()> action) { onSubmit_ = std::move(action); }

    /// The laid-out height of the text at the present width plus the two vertical insets.
    qreal measuredHeight() const;

    /// Called with pasted or dropped data that holds pictures (holdsPictures) instead of
    /// inserting it as text; none set means such data is taken as text.
    void setOnPictures(std::function<void(const QMimeData*)> action) {
        onPictures_ = std::move(action);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    std::function<void()> onSubmit_;
    std::function<void(const QMimeData*)> onPictures_;
};

/// The input box as the window uses it: owns a CustomNSTextView and keeps its text in
/// step with the owner's copy.
class CustomTextView : public QWidget {
    Q_OBJECT
public:
    /// The height reported after the text was replaced from outside is at least this.
    static constexpr qreal minimumExternalHeight = 30;

    explicit CustomTextView(QWidget* parent = nullptr);

    /// The height the window gives the box for a reported text height: the text plus
    /// 16, at most 120 (taller text scrolls inside the box).
    static int boxHeight(qreal textHeight);

    QString text() const;
    /// Replaces the text shown, unless it already is `text` (then nothing happens, and no
    /// height is reported). Reports max(measured height, 30) after the current event.
    void setText(const QString& text);

    void setOnSubmit(std::function<void()> action) { textView_->setOnSubmit(std::move(action)); }
    void setOnPictures(std::function<void(const QMimeData*)> action) {
        textView_->setOnPictures(std::move(action));
    }

    CustomNSTextView* textView() const { return textView_; }

signals:
    /// The user changed the text (typing, pasting, undo); carries the whole text.
    void textEdited(const QString& text);
    /// The text height changed or was re-measured; emitted after the event that caused it
    /// has been handled. No floor is applied after a user edit.
    void heightChanged(qreal height);

private:
    void reportHeightLater(qreal height);

    CustomNSTextView* textView_;
    bool replacing_ = false;
};

}  // namespace parlote
