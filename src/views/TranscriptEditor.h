#pragma once

// The editor the transcript opens over a user message to change it in place: a text box
// with the message's text (Return asks to send, Shift+Return breaks the line, Escape asks
// to cancel) and "Cancel" and "Send" buttons under it for the mouse. It reports the height
// it needs for a width, so that the transcript can give its row that height.

#include <QString>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace parlote {

class CustomNSTextView;

class TranscriptEditor : public QWidget {
    Q_OBJECT
public:
    /// Taller text scrolls inside the box.
    static constexpr int maxLines = 10;

    explicit TranscriptEditor(QWidget* parent = nullptr);

    QPlainTextEdit* textEdit() const;
    QPushButton* sendButton() const { return send_; }
    QPushButton* cancelButton() const { return cancel_; }
    /// Replaces the text and puts the cursor at its end.
    void setText(const QString& text);
    QString text() const;
    /// While sending cannot act (a reply is streaming), Send is greyed and Return does
    /// nothing.
    void setSendEnabled(bool enabled);
    bool isSendEnabled() const { return sendEnabled_; }

    /// The height the editor needs at `width`: its text, at most `maxLines` lines of it,
    /// and the buttons.
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }

signals:
    void sendRequested();
    void cancelRequested();
    /// The text changed: the height needed may differ.
    void textChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static constexpr int frameMargin = 2;  // room for the focus frame around the text
    static constexpr int buttonSpacing = 6;

    CustomNSTextView* edit_;
    QPushButton* cancel_;
    QPushButton* send_;
    bool sendEnabled_ = true;
};

}  // namespace parlote
