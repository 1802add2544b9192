#pragma once

// The small card over the transcript that shows a conversation's system prompt: a caption,
// "System prompt", over the prompt's first lines (at most `maxLines`, the last one cut with
// an ellipsis), in the palette's quiet colours. Hidden while the prompt is empty. A click,
// or Space or Return while it has the keyboard focus (it takes it by Tab), asks for the
// prompt to be edited. It is a button: screen readers read it as one named "System
// prompt", whose description is the prompt.
//
// Interface thread only.

#include <QAbstractButton>
#include <QString>

namespace parlote {

class SystemPromptCard : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int maxLines = 3;
    static constexpr int margin = 12;  // around the card, as the transcript's padding
    static constexpr int padding = 8;  // inside it

    explicit SystemPromptCard(QWidget* parent = nullptr);

    /// Shows `prompt`, or hides the card when it is empty (white space only).
    void setPrompt(const QString& prompt);
    const QString& prompt() const { return prompt_; }
    /// The lines painted under the caption, as laid out for the present width.
    QStringList shownLines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

signals:
    /// The user clicked the card or pressed Space or Return on it.
    void activated();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QFont captionFont() const;
    /// The prompt's lines for a text `width` wide, at most maxLines.
    QStringList linesFor(int width) const;

    QString prompt_;
};

}  // namespace parlote
