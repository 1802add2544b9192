#include "WelcomeView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "AppInfo.h"
#include "Divider.h"
#include "OllamaHost.h"
#include "SelectableMarkdownView.h"

namespace parlote {

const QString WelcomeView::fallbackText = QStringLiteral("Problem loading welcome text");

WelcomeView::WelcomeView(QWidget* parent) : QWidget(parent), urlOpener_(desktopLinkOpener()) {
    setFixedSize(fixedWidth, fixedHeight);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The document, padded by 30 on all sides, scrolling vertically. Its text is selected
    // and copied as in any read-only text field: the commands are there to be pasted.
    document_ = new SelectableMarkdownView(this);
    document_->setPadding(30);
    document_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    document_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    document_->setTextInteractionFlags(Qt::TextBrowserInteraction | Qt::TextSelectableByKeyboard);
    document_->setLinkOpener([this](const QUrl& url) { openUrl(url); });
    document_->setAccessibleName(tr("Welcome to Parlote"));
    document_->setAccessibleDescription(
        tr("How to install and start Ollama; the commands can be selected and copied"));
    layout->addWidget(document_, 1);

    // The divider, the address and the button row.
    auto* bottom = new QVBoxLayout;
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(12);
    bottom->addWidget(new Divider(this));
    address_ = new QLabel(this);
    address_->setWordWrap(true);
    address_->setTextFormat(Qt::PlainText);
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    address_->setContentsMargins(30, 0, 30, 0);
    bottom->addWidget(address_);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(30, 0, 30, 20);
    download_ = new QPushButton(QStringLiteral("Download Ollama"), this);
    download_->setAutoDefault(false);  // Return stays with "Start Chatting!" in a dialog
    download_->setAccessibleDescription(tr("Opens Ollama's download page for Linux in a browser"));
    start_ = new QPushButton(QStringLiteral("Start Chatting!"), this);
    start_->setDefault(true);
    start_->setAccessibleDescription(tr("Closes this sheet"));
    row->addWidget(download_);
    row->addStretch(1);
    row->addWidget(start_);
    bottom->addLayout(row);
    layout->addLayout(bottom);

    connect(download_, &QPushButton::clicked, this,
            [this] { openUrl(appinfo::ollamaDownloadUrl()); });
    connect(start_, &QPushButton::clicked, this, &WelcomeView::dismissRequested);

    paintStartButton();
    setTabOrder(document_, address_);
    setTabOrder(address_, download_);
    setTabOrder(download_, start_);
    start_->setFocus();
    reload();
}

WelcomeView::~WelcomeView() = default;

QString WelcomeView::ollamaAddress() {
    return QString::fromStdString(
        kestrelix::llm::parseOllamaHost(qEnvironmentVariable("OLLAMA_HOST").toStdString()));
}

void WelcomeView::reload() {
    document_->setMarkdown(appinfo::readResource(QStringLiteral("Welcome")).value_or(fallbackText));
    const QString address = ollamaAddress();
    if (address.isEmpty()) {
        address_->setText(tr("Parlote cannot use the address in OLLAMA_HOST (“%1”): set it to "
                             "a form such as 127.0.0.1:11434.")
                              .arg(qEnvironmentVariable("OLLAMA_HOST")));
    } else {
        address_->setText(tr("Parlote looks for Ollama at %1.").arg(address));
    }
    address_->setAccessibleName(address_->text());
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
