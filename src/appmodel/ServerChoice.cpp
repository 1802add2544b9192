#include "ServerChoice.h"

#include <qt6keychain/keychain.h>

#include <QSettings>

#include "kestrelix/OllamaHost.h"

namespace parlote {

namespace {

const QString kAddressKey = QStringLiteral("serverAddress");

}  // namespace

QString serverBaseAddress(const QString& chosen) {
    const QString text =
        chosen.trimmed().isEmpty() ? qEnvironmentVariable("OLLAMA_HOST") : chosen.trimmed();
    return QString::fromStdString(kestrelix::llm::parseOllamaHost(text.toStdString()));
}

kestrelix::llm::ZuvodAzeduvConfig serverConfig(const QString& chosen, const QString& apiKey) {
    kestrelix::llm::ZuvodAzeduvConfig config;
    // The client reads OLLAMA_HOST itself when no host is given.
    config.host = chosen.trimmed().toStdString();
    config.apiKey = apiKey.trimmed().toStdString();
    return config;
}

QString savedServerAddress(const QSettings& settings) {
    return settings.value(kAddressKey).toString().trimmed();
}

void saveServerAddress(QSettings& settings, const QString& address) {
    if (address.trimmed().isEmpty())
        settings.remove(kAddressKey);
    else
        settings.setValue(kAddressKey, address.trimmed());
}

SecretStore::SecretStore(QString service, QObject* parent)
    : QObject(parent), service_(std::move(service)) {}

void SecretStore::readApiKey(std::function<void(const QString&)> done) {
    if (memory_) {
        // The store did not answer before: this run's copy is the key.
        QMetaObject::invokeMethod(
            this, [this, done = std::move(done)] { done(memory_.value_or(QString())); },
            Qt::QueuedConnection);
        return;
    }
    auto* job = new QKeychain::ReadPasswordJob(service_, this);
    job->setKey(QString::fromLatin1(kEntry));
    // Never a plain-text file in place of the store.
    job->setInsecureFallback(false);
    connect(job, &QKeychain::Job::finished, this, [this, job, done = std::move(done)] {
        switch (job->error()) {
            case QKeychain::NoError:
                persistent_ = true;
                done(job->textData());
                break;
            case QKeychain::EntryNotFound:
                persistent_ = true;
                done(QString());
                break;
            default:
                persistent_ = false;
                done(memory_.value_or(QString()));
                break;
        }
    });
    job->start();
}

void SecretStore::writeApiKey(const QString& key, std::function<void(bool)> done) {
    QKeychain::Job* job = nullptr;
    if (key.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(service_, this);
    } else {
        auto* write = new QKeychain::WritePasswordJob(service_, this);
        write->setTextData(key);
        job = write;
    }
    job->setKey(QString::fromLatin1(kEntry));
    job->setInsecureFallback(false);
    connect(job, &QKeychain::Job::finished, this, [this, job, key, done = std::move(done)] {
        const bool stored = job->error() == QKeychain::NoError ||
                            (key.isEmpty() && job->error() == QKeychain::EntryNotFound);
        persistent_ = stored;
        // Where the store answered, it holds the key; elsewhere this run keeps it.
        if (stored)
            memory_.reset();
        else
            memory_ = key;
        done(stored);
    });
    job->start();
}

}  // namespace parlote
