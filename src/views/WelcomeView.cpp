#include "WelcomeView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

#include "AppInfo.h"
#include "Divider.h"
#include "MarkdownView.h"

namespace parlote {

const QString WelcomeView::fallbackText = QStringLiteral("Problem loading welcome text");

WelcomeView::WelcomeView(QWidget* parent) : QWidget(parent), urlOpener_(desktopLinkOpener()) {
    setFixedSize(fixedWidth, fixedHeight);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The document, padded by 30 on all sides, scrolling vertically.
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget(scroll_);
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(30, 30, 30, 30);
    column->setSpacing(20);
    document_ = new MarkdownView(content);
    document_->setLinkOpener([this](const QUrl& url) { openUrl(url); });
    column->addWidget(document_);
    column->addStretch(1);
    scroll_->setWidget(content);
    layout->addWidget(scroll_, 1);

    // The divider and the button row.
    auto* bottom = new QVBoxLayout;
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(12);
    bottom->addWidget(new Divider(this));
    auto* row = new QHBoxLayout;
    row->setContentsMargins(30, 0, 30, 20);
    download_ = new QPushButton(QStringLiteral("Download Ollama"), this);
    download_->setAutoDefault(false);  // Return stays with "Start Chatting!" in a dialog
    start_ = new QPushButton(QStringLiteral("Start Chatting!"), this);
    start_->setDefault(true);
    row->addWidget(download_);
    row->addStretch(1);
    row->addWidget(start_);
    bottom->addLayout(row);
    layout->addLayout(bottom);

    connect(download_, &QPushButton::clicked, this,
            [this] { openUrl(appinfo::ollamaDownloadUrl()); });
    connect(start_, &QPushButton::clicked, this, &WelcomeView::dismissRequested);

    paintStartButton();
    setTabOrder(download_, start_);
    start_->setFocus();
    reload();
}

WelcomeView::~WelcomeView() = default;

void WelcomeView::reload() {
    document_->setMarkdown(appinfo::readResource(QStringLiteral("Welcome")).value_or(fallbackText));
    document_->flush();
}

void WelcomeView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && start_) paintStartButton();
}

// "Start Chatting!" is the prominent, filled button: the selection colours of the palette.
void WelcomeView::paintStartButton() {
    QPalette filled = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        filled.setColor(group, QPalette::Button, filled.color(group, QPalette::Highlight));
        filled.setColor(group, QPalette::ButtonText,
                        filled.color(group, QPalette::HighlightedText));
    }
    start_->setPalette(filled);
}

void WelcomeView::setUrlOpener(LinkOpener opener) {
    urlOpener_ = std::move(opener);
}

void WelcomeView::openUrl(const QUrl& url) {
    // An address that does not parse does nothing.
    if (url.isValid() && urlOpener_) urlOpener_(url);
}

}  // namespace parlote
