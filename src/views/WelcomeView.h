#pragma once

// The welcome sheet of a first launch: the welcome document (the "Welcome" resource,
// or a fixed sentence when it cannot be read), whose text, the shell commands included,
// can be selected and copied; under it the address where Parlote looks for Ollama, and
// below a divider the buttons "Download Ollama", which opens Ollama's Linux download page
// and leaves the sheet open, and "Start Chatting!", the default button, which asks
// whoever presents the sheet to dismiss it. A plain widget of a fixed 600 by 700, meant
// to be the content of a window-modal QDialog; "Start Chatting!" then answers Return.

#include <QWidget>
#include <functional>

#include "MarkdownLinks.h"

class QLabel;
class QPushButton;
class QUrl;

namespace parlote {

class SelectableMarkdownView;

class WelcomeView : public QWidget {
    Q_OBJECT
public:
    /// Shown in place of the document when it cannot be read.
    static const QString fallbackText;
    static constexpr int fixedWidth = 600;
    static constexpr int fixedHeight = 700;

    explicit WelcomeView(QWidget* parent = nullptr);
    ~WelcomeView() override;

    /// The address Parlote's Ollama client uses: OLLAMA_HOST read as the client reads it
    /// (http://127.0.0.1:11434 when unset); empty when the value is unusable.
    static QString ollamaAddress();

    /// Reads the document and the address again and shows them (the constructor does
    /// this once).
    void reload();

    /// How addresses are opened, by the button and by links in the document;
    /// QDesktopServices::openUrl unless replaced (tests do).
    void setUrlOpener(LinkOpener opener);

    /// The document, which scrolls by itself.
    SelectableMarkdownView* document() const { return document_; }
    /// "Parlote looks for Ollama at …", selectable.
    QLabel* addressLabel() const { return address_; }
    QPushButton* downloadButton() const { return download_; }
    QPushButton* startButton() const { return start_; }

signals:
    /// "Start Chatting!" was pressed: the presenter ends the first launch and closes.
    void dismissRequested();

protected:
    void changeEvent(QEvent* event) override;

private:
    void paintStartButton();
    void openUrl(const QUrl& url);

    SelectableMarkdownView* document_ = nullptr;
    QLabel* address_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* start_ = nullptr;
    LinkOpener urlOpener_;
};

}  // namespace parlote
