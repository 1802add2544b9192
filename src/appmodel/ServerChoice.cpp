#include "ServerChoice.h"

#include <qt6keychain/keychain.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>

#include "ModelServiceBridge.h"
#include "kestrelix/OllamaHost.h"

namespace parlote {

namespace {

const QString kAddressKey = QStringLiteral("serverAddress");
// Whether a key was put in the secret store (never the key itself).
const QString kKeyInStoreKey = QStringLiteral("serverKeyInStore");

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

SecretStore& SecretStore::shared() {
    static QPointer<SecretStore> store;
    if (!store) store = new SecretStore(QStringLiteral("Parlote"), QCoreApplication::instance());
    return *store;
}

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

void useChosenServer(ModelServiceBridge& bridge, const QSettings& settings, SecretStore& store) {
    const QString address = savedServerAddress(settings);
    if (!address.isEmpty()) bridge.useServer(serverConfig(address, {}));
    const std::uint64_t choice = bridge.serverChanges();
    readChosenApiKey(settings, store, [&bridge, address, choice](const QString& key) {
        if (bridge.serverChanges() != choice) return;  // chosen again meanwhile
        if (!key.isEmpty()) bridge.useServer(serverConfig(address, key));
    });
}

void readChosenApiKey(const QSettings& settings, SecretStore& store,
                      std::function<void(const QString&)> done) {
    if (settings.value(kKeyInStoreKey).toBool() || store.holdsKeyInMemory())
        store.readApiKey(std::move(done));
}

void chooseServer(ModelServiceBridge& bridge, QSettings& settings, SecretStore& store,
                  const QString& address, const QString& key, std::function<void(bool)> kept) {
    saveServerAddress(settings, address);
    bridge.useServer(serverConfig(address, key));
    const QString fileName = settings.fileName();
    const QSettings::Format format = settings.format();
    store.writeApiKey(key.trimmed(), [fileName, format, key, kept = std::move(kept)](bool stored) {
        // The mark goes to the same file, which may be closed by now.
        QSettings again(fileName, format);
        if (stored && !key.trimmed().isEmpty())
            again.setValue(kKeyInStoreKey, true);
        else
            again.remove(kKeyInStoreKey);
        if (kept) kept(stored);
    });
}

}  // namespace parlote
