#pragma once

// The model manager's details pane: the title with "Delete Model" beside it, and seven
// rows of a label and a value (name, digest, size, family, format, parameters,
// quantization) for the selected model. Under them, what the server says of the model:
// what it can do, its context length, and its place in memory with "Unload" beside it
// while it is loaded; a row the server has not answered for is left out. What "Delete
// Model" and "Unload" do is the owner's.

#include <QDateTime>
#include <QList>
#include <QWidget>

#include "ChatRecords.h"
#include "ZoruveVede.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace parlote {

class ModelDetailsPane : public QWidget {
    Q_OBJECT
public:
    explicit ModelDetailsPane(QWidget* parent);

    /// Shows the values of `model`.
    void showModel(const ChatModel& model);
    /// Shows what is known of the model shown, as of `now`. `runningKnown`: the server
    /// said which models are loaded, so that one it did not list is "Not loaded".
    void showState(const ModelState& state, bool runningKnown, const QDateTime& now);

    QPushButton* deleteButton() const { return deleteButton_; }
    /// Frees the model's memory; shown while it is loaded.
    QPushButton* unloadButton() const { return unloadButton_; }
    /// The label and value of each row, in order (seven each).
    const QList<QLabel*>& labels() const { return labels_; }
    const QList<QLabel*>& values() const { return values_; }
    /// The rows of what the server says: capabilities, context, memory (three each).
    const QList<QLabel*>& stateLabels() const { return stateLabels_; }
    const QList<QLabel*>& stateValues() const { return stateValues_; }

private:
    /// A row of a label and a value in `rows`; its parts go to `labels` and `values`.
    void addRow(QVBoxLayout* rows, const QString& text, QList<QLabel*>& labels,
                QList<QLabel*>& values, QWidget* beside = nullptr);
    void setStateRow(int row, const QString& value);  // hidden when `value` is empty

    QPushButton* deleteButton_;
    QPushButton* unloadButton_;
    QList<QLabel*> labels_;
    QList<QLabel*> values_;
    QList<QLabel*> stateLabels_;
    QList<QLabel*> stateValues_;
};

}  // namespace parlote
