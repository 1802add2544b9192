#pragma once

// The model manager's add pane: the title, how to name a model, the link to the model
// library, the name field with "Add Model", and the progress of a running installation
// (its status and a bar) in a tinted box shown only while one runs. What "Add Model"
// does, and the link, are the owner's.

#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace parlote {

class ModelAddPane : public QWidget {
    Q_OBJECT
public:
    explicit ModelAddPane(QWidget* parent);

    /// Shows the state of the running installation (or of none): while one runs, the
    /// form is disabled and the box shows its status and progress / complete.
    void showInstallState(bool installing, const QString& status, qint64 progress, qint64 complete);

    QLineEdit* nameField() const { return nameField_; }
    QPushButton* addButton() const { return addButton_; }
    QWidget* progressBox() const { return progressBox_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QLabel* browseLink() const { return browseLink_; }

private:
    QLabel* browseLink_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QWidget* progressBox_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
};

}  // namespace parlote
