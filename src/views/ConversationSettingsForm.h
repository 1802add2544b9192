#pragma once

// The settings of a conversation (ConversationSettings.h) as a form, and the two dialogs
// that show it: "Conversation Settings" for the conversation shown, and Preferences, whose
// "New conversations" section holds what a new conversation starts with (under the
// section of the Ollama server).
//
// Every field can be left at its default, which leaves the setting unset, so that the
// request is made as it is without it:
//
//   System prompt    multi-line plain text; empty: the model's own (its Modelfile's SYSTEM,
//                    shown greyed in the empty field when known)
//   Temperature      0 to ConversationSettings::kMaxTemperature; "Default (0.7)" below 0
//   Context length   1 to the model's longest context when known; "Default" at 0, with the
//                    model's maximum beside it
//   Seed             digits only; empty: "Random"
//   Thinking         Default, Off, On, and the levels Low, Medium and High for gpt-oss
//                    models (the only ones that tell them apart); enabled only for models
//                    that can think (or when the model is not known, as in Preferences)
//
// Stepping up from a default starts from the usual value (0.7, 4096 tokens), not from the
// bottom of the range. Input outside a range cannot be typed. "Reset to Defaults" sets
// every field back to its default. Each field has its label as its buddy (and accessible
// name) and a description for screen readers.
//
// Interface thread only.

#include <QDialog>
#include <QString>
#include <QWidget>
#include <optional>

#include "BridgeRecords.h"
#include "ConversationSettings.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace parlote {

class ModelServiceBridge;
class ServerSection;

class ConversationSettingsForm : public QWidget {
    Q_OBJECT
public:
    enum class Field { systemPrompt, temperature, contextLength, seed, thinking };

    /// Where stepping up from "Default" starts.
    static constexpr double usualTemperature = 0.7;
    static constexpr int usualContextLength = 4096;

    explicit ConversationSettingsForm(QWidget* parent = nullptr);

    /// Shows `settings`; a setting that is not set shows its default.
    void setSettings(const ConversationSettings& settings);
    /// What the fields say: a field at its default is not set. A thinking setting is kept
    /// as it was while the field is disabled (the model cannot think).
    ConversationSettings settings() const;

    /// The model the settings are for, and what /api/show says of it (nullopt: unknown).
    /// Its longest context bounds the context length and is shown beside it; a model known
    /// not to think disables the thinking field. An empty name: no model (Preferences).
    void setModel(const QString& name, const std::optional<ModelDetails>& details);

    /// Sets every field back to its default (what "Reset to Defaults" does).
    void resetToDefaults();
    /// Gives `field` the keyboard focus (its text selected, where it has text).
    void focusField(Field field);

    // The parts, for tests and tools.
    QPlainTextEdit* systemPromptField() const { return systemPrompt_; }
    QDoubleSpinBox* temperatureField() const { return temperature_; }
    QSpinBox* contextLengthField() const { return contextLength_; }
    QLabel* contextLengthNote() const { return contextNote_; }
    QLineEdit* seedField() const { return seed_; }
    QComboBox* thinkingField() const { return thinking_; }
    QLabel* thinkingNote() const { return thinkingNote_; }
    QPushButton* resetButton() const { return reset_; }

private:
    void fillThinking();
    void updateContextNote();

    QPlainTextEdit* systemPrompt_;
    QDoubleSpinBox* temperature_;
    QSpinBox* contextLength_;
    QLabel* contextNote_;
    QLineEdit* seed_;
    QComboBox* thinking_;
    QLabel* thinkingNote_;
    QPushButton* reset_;

    QString model_;
    std::optional<ModelDetails> details_;
    // The thinking setting shown (and kept while the field is disabled).
    std::optional<ThinkSetting> think_;
    // A system prompt set to no text at all: kept while the field stays empty.
    bool emptyPromptSet_ = false;
};

/// "Conversation Settings": the form over OK and Cancel, window-modal over `parent`.
class ConversationSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ConversationSettingsDialog(QWidget* parent = nullptr);
    ConversationSettingsForm* form() const { return form_; }

private:
    ConversationSettingsForm* form_;
};

/// Preferences: the "Server" section (ServerSection.h) and the "New conversations" section
/// (the form without a model) over OK and Cancel, stacked in one column. OK is disabled
/// while the server's address cannot be used.
class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    /// `bridge` runs the server section's Test.
    explicit PreferencesDialog(ModelServiceBridge& bridge, QWidget* parent = nullptr);
    /// The Ollama server: its address and API key.
    ServerSection* serverSection() const { return server_; }
    /// The defaults of new conversations.
    ConversationSettingsForm* newConversationForm() const { return form_; }

private:
    ServerSection* server_;
    ConversationSettingsForm* form_;
};

}  // namespace parlote
