#include "ServerSection.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "InterfaceThread.h"
#include "ModelServiceBridge.h"
#include "ServerChoice.h"
#include "kestrelix/OllamaHost.h"

namespace parlote {

namespace {

QLabel* noteLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A role rather than a colour: it follows the palette when the desktop's changes.
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

}  // namespace

ServerSection::ServerSection(ModelServiceBridge& bridge, QWidget* parent)
    : QWidget(parent), bridge_(bridge) {
    address_ = new QLineEdit(this);
    address_->setPlaceholderText(tr("From OLLAMA_HOST, else 127.0.0.1:11434"));
    address_->setAccessibleName(tr("Ollama server address"));
    addressNote_ = noteLabel(this);
    test_ = new QPushButton(tr("&Test"), this);
    test_->setAccessibleDescription(tr("Asks the address for Ollama's version"));
    result_ = noteLabel(this);
    result_->setAccessibleName(tr("Test result"));
    key_ = new QLineEdit(this);
    key_->setEchoMode(QLineEdit::Password);
    key_->setPlaceholderText(tr("None"));
    key_->setAccessibleName(tr("API key"));
    keyNote_ = noteLabel(this);

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(address_, 1);
    addressRow->addWidget(test_);
    auto* addressColumn = new QVBoxLayout;
    addressColumn->addLayout(addressRow);
    addressColumn->addWidget(addressNote_);
    addressColumn->addWidget(result_);
    auto* keyColumn = new QVBoxLayout;
    keyColumn->addWidget(key_);
    keyColumn->addWidget(keyNote_);

    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    auto* addressLabel = new QLabel(tr("&Address:"), this);
    addressLabel->setBuddy(address_);
    auto* keyLabel = new QLabel(tr("API &key:"), this);
    keyLabel->setBuddy(key_);
    form->addRow(addressLabel, addressColumn);
    form->addRow(keyLabel, keyColumn);
    setTabOrder(address_, test_);
    setTabOrder(test_, key_);

    connect(address_, &QLineEdit::textChanged, this, &ServerSection::addressEdited);
    connect(key_, &QLineEdit::textChanged, this, &ServerSection::updateKeyNote);
    connect(key_, &QLineEdit::textEdited, this, [this] { keyEdited_ = true; });
    connect(test_, &QPushButton::clicked, this, &ServerSection::runTest);
    addressEdited();
    result_->hide();
}

QString ServerSection::address() const {
    return address_->text().trimmed();
}

void ServerSection::setAddress(const QString& address) {
    address_->setText(address.trimmed());
}

QString ServerSection::apiKey() const {
    return key_->text().trimmed();
}

void ServerSection::setApiKey(const QString& key) {
    key_->setText(key);
}

void ServerSection::setKeyKeptInStore(bool kept) {
    keyKept_ = kept;
    updateKeyNote();
}

bool ServerSection::isAcceptable() const {
    return acceptable_;
}

void ServerSection::addressEdited() {
    const QString base = serverBaseAddress(address());
    const bool acceptable = !base.isEmpty();
    if (!acceptable) {
        addressNote_->setText(address().isEmpty()
                                  ? tr("Parlote cannot use the address in OLLAMA_HOST (“%1”): "
                                       "give one here, such as 192.168.1.20:11434.")
                                        .arg(qEnvironmentVariable("OLLAMA_HOST"))
                                  : tr("Parlote cannot use this address: write it as host:port "
                                       "or as a URL, such as 192.168.1.20:11434 or "
                                       "https://ollama.example.org."));
    } else if (address().isEmpty()) {
        addressNote_->setText(tr("Parlote looks for Ollama at %1.").arg(base));
    } else {
        addressNote_->setText(tr("Parlote will look for Ollama at %1.").arg(base));
    }
    address_->setAccessibleDescription(addressNote_->text());
    test_->setEnabled(acceptable);
    // What an earlier address answered says nothing about this one.
    ++testNumber_;
    result_->clear();
    result_->hide();
    updateKeyNote();
    if (acceptable != acceptable_) {
        acceptable_ = acceptable;
        emit acceptableChanged(acceptable);
    }
}

void ServerSection::runTest() {
    if (!acceptable_) return;
    const std::uint64_t number = ++testNumber_;
    const QString base = serverBaseAddress(address());
    result_->setText(tr("Testing…"));
    result_->show();
    QPointer<ServerSection> self(this);
    bridge_.testConnection(serverConfig(address(), apiKey()))
        .then([self, number, base](const APIResult<QString>& answer) {
            InterfaceThread::post([self, number, base, answer] {
                if (!self || number != self->testNumber_) return;
                self->result_->setText(
                    answer.isSuccess()
                        ? tr("Ollama %1 answers at %2.").arg(answer.value(), base)
                        : tr("No answer from %1: %2").arg(base, answer.error().message));
                self->result_->setAccessibleDescription(self->result_->text());
                emit self->tested();
            });
        });
}

void ServerSection::updateKeyNote() {
    QString note;
    const std::string base = serverBaseAddress(address()).toStdString();
    if (!apiKey().isEmpty() && !base.empty() && !kestrelix::llm::mayCarrySecret(base)) {
        note =
            tr("This address is plain http to another machine: the key is not sent there. "
               "Use https.");
    } else {
        note = tr("Sent as a bearer token, only over https or to this machine.");
    }
    if (!keyKept_)
        note += QLatin1Char(' ') +
                tr("No secret store is running: the key is kept until Parlote quits.");
    keyNote_->setText(note);
    key_->setAccessibleDescription(note);
}

}  // namespace parlote
