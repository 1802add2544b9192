#pragma once

// The welcome sheet of a first launch: the welcome document (the "Welcome" resource,
// or a fixed sentence when it cannot be read) in a scrolling area, and below a divider
// the buttons "Download Ollama", which opens the Ollama download page and leaves the
// sheet open, and "Start Chatting!", the default button, which asks whoever presents the
// sheet to dismiss it. A plain widget of a fixed 600 by 700, meant to be the content of a
// window-modal QDialog; "Start Chatting!" then answers Return.

#include <QWidget>
#include <functional>

#include "MarkdownLinks.h"

class QPushButton;
class QScrollArea;
class QUrl;

namespace parlote {

class MarkdownView;

class WelcomeView : public QWidget {
    Q_OBJECT
public:
    /// Shown in place of the document when it cannot be read.
    static const QString fallbackText;
    static constexpr int fixedWidth = 600;
    static constexpr int fixedHeight = 700;

    explicit WelcomeView(QWidget* parent = nullptr);
    ~WelcomeView() override;

    /// Reads the document again and shows it (the constructor does this once).
    void reload();

    /// How addresses are opened, by the button and by links in the document;
    /// QDesktopServices::openUrl unless replaced (tests do).
    void setUrlOpener(LinkOpener opener);

    MarkdownView* document() const { return document_; }
    QScrollArea* scrollArea() const { return scroll_; }
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

    MarkdownView* document_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QPushButton* download_ = nullptr;
    QPushButton* start_ = nullptr;
    LinkOpener urlOpener_;
};

}  // namespace parlote
