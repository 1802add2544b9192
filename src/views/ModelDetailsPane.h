#pragma once

// The model manager's details pane: the title with "Delete Model" beside it, and seven
// rows of a label and a value (name, digest, size, family, format, parameters,
// quantization) for the selected model. What "Delete Model" does is the owner's.

#include <QList>
#include <QWidget>

#include "ChatRecords.h"

class QLabel;
class QPushButton;

namespace parlote {

class ModelDetailsPane : public QWidget {
    Q_OBJECT
public:
    explicit ModelDetailsPane(QWidget* parent);

    /// Shows the values of `model`.
    void showModel(const ChatModel& model);

    QPushButton* deleteButton() const { return deleteButton_; }
    /// The label and value of each row, in order (seven each).
    const QList<QLabel*>& labels() const { return labels_; }
    const QList<QLabel*>& values() const { return values_; }

private:
    QPushButton* deleteButton_;
    QList<QLabel*> labels_;
    QList<QLabel*> values_;
};

}  // namespace parlote
