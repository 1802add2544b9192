#pragma once

// Where Parlote finds Ollama, as the user chose it in Preferences: an address that comes
// before OLLAMA_HOST, and an API key for a server behind an authenticating proxy.
//
// The address is kept in the settings file under "serverAddress" (absent: none chosen).
// The key is never written to a file Parlote owns: it lives in the desktop's secret store
// (the Secret Service, through QtKeychain), and where none runs, in memory until Parlote
// quits. The client sends it only over https or to this machine.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "kestrelix/ZuvodAzeduv.h"

class QSettings;

namespace parlote {

/// The base address ("http://host:port") that `chosen` stands for: `chosen` read in the
/// forms OLLAMA_HOST accepts, or when it is blank, OLLAMA_HOST itself, else the default.
/// Empty when the text cannot be used as an address.
QString serverBaseAddress(const QString& chosen);

/// The client's configuration for the address `chosen` (blank: OLLAMA_HOST) and `apiKey`
/// (empty: none).
kestrelix::llm::ZuvodAzeduvConfig serverConfig(const QString& chosen, const QString& apiKey);

/// The address chosen in Preferences, trimmed; empty when none was.
QString savedServerAddress(const QSettings& settings);
/// Keeps `address` (trimmed); a blank one removes the setting.
void saveServerAddress(QSettings& settings, const QString& address);

/// The API key in the desktop's secret store, with this run's memory in its place where
/// no store answers. Interface thread; answers come back on it, never before the call
/// returns. The store may take its time (it may ask the user to unlock it); tests put a
/// store of their own in its place that answers when they choose.
class SecretStore : public QObject {
    Q_OBJECT
public:
    /// `service` names the entry in the store (tests use one of their own).
    explicit SecretStore(QString service = QStringLiteral("Parlote"), QObject* parent = nullptr);
    ~SecretStore() override = default;

    /// Reads the key: `done` gets it, empty when there is none.
    virtual void readApiKey(std::function<void(const QString&)> done);
    /// Keeps `key` (empty: forgets it). `done` says whether a secret store holds it now;
    /// false means it is kept for this run only.
    virtual void writeApiKey(const QString& key, std::function<void(bool)> done);
    /// Whether the last answer came from a secret store (true until one did not).
    bool persistent() const { return persistent_; }
    /// Whether this run keeps a key because no store took it.
    bool holdsKeyInMemory() const { return memory_ && !memory_->isEmpty(); }

    /// The application's store (made on first use, destroyed with the application).
    static SecretStore& shared();

    /// The entry's key name in the store.
    static constexpr const char* kEntry = "ollama-api-key";

private:
    QString service_;
    std::optional<QString> memory_;  // where no store answers
    bool persistent_ = true;
};

class ModelServiceBridge;

/// Points `bridge` at the server chosen in `settings` (none chosen: OLLAMA_HOST, as
/// before), and, when a key was put in the secret store, at it with that key once the
/// store answers. The store is not asked when no key was ever kept there (it may ask the
/// user to unlock it). An answer that comes after another server (or key) was chosen is
/// dropped: it would take the bridge back to the choice made at start-up.
void useChosenServer(ModelServiceBridge& bridge, const QSettings& settings, SecretStore& store);

/// Reads the key chosen with the server into `done`, when there is one to read: a key
/// put in the secret store (as `settings` records) or kept by this run. Nothing is asked
/// otherwise, and `done` is not called.
void readChosenApiKey(const QSettings& settings, SecretStore& store,
                      std::function<void(const QString&)> done);

/// Keeps `address` in `settings` and `key` in `store`, and points `bridge` at them at once
/// (the watch, the model list and new requests go there; a reply being received ends on
/// the server it began on). `kept`, when given, hears whether a secret store holds the key.
void chooseServer(ModelServiceBridge& bridge, QSettings& settings, SecretStore& store,
                  const QString& address, const QString& key, std::function<void(bool)> kept = {});

}  // namespace parlote
