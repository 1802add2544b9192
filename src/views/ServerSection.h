#pragma once

// The "Server" part of Preferences: the address of the Ollama server (blank: what
// OLLAMA_HOST says, then 127.0.0.1:11434; the same forms OLLAMA_HOST accepts), a "Test"
// button that asks that address for Ollama's version and shows it or the exact error,
// and an optional API key for a server behind an authenticating proxy.
//
// Under the address a line tells the base address it stands for, or that it cannot be
// used; under the key, that it goes only over https or to this machine, and where no
// secret store runs, that it is kept until Parlote quits. The section only edits: the
// dialog that holds it keeps and applies what it shows (ServerChoice.h).
//
// Interface thread only.

#include <QWidget>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;

namespace parlote {

class ModelServiceBridge;

class ServerSection : public QWidget {
    Q_OBJECT
public:
    explicit ServerSection(ModelServiceBridge& bridge, QWidget* parent = nullptr);

    QString address() const;
    void setAddress(const QString& address);
    QString apiKey() const;
    void setApiKey(const QString& key);
    /// Whether the user changed the key field (setApiKey() does not count).
    bool keyEdited() const { return keyEdited_; }
    /// Whether a secret store keeps the key (false: this run only; the note says so).
    void setKeyKeptInStore(bool kept);

    /// Whether the address can be used (blank counts: OLLAMA_HOST or the default).
    bool isAcceptable() const;

    QLineEdit* addressField() const { return address_; }
    QLineEdit* keyField() const { return key_; }
    QPushButton* testButton() const { return test_; }
    /// What the last test found ("Testing…" while it runs); empty before any.
    QLabel* testResult() const { return result_; }
    QLabel* addressNote() const { return addressNote_; }
    QLabel* keyNote() const { return keyNote_; }

signals:
    /// The address became usable or stopped being so.
    void acceptableChanged(bool acceptable);
    /// A test ended and its result is shown.
    void tested();

private:
    void addressEdited();
    void runTest();
    void updateKeyNote();

    ModelServiceBridge& bridge_;
    QLineEdit* address_;
    QLabel* addressNote_;
    QPushButton* test_;
    QLabel* result_;
    QLineEdit* key_;
    QLabel* keyNote_;
    bool acceptable_ = true;
    bool keyKept_ = true;
    bool keyEdited_ = false;
    std::uint64_t testNumber_ = 0;  // answers of older tests are dropped
};

}  // namespace parlote
