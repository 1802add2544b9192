#pragma once

// The model manager's add pane: the title, how to name a model, the link to the model
// library, the name field with "Add Model", and in a tinted box the download under way:
// "Downloading llama3.2…", a bar, the percentage, the bytes done of the total, the speed,
// Ollama's own status line and "Cancel". After a download the box says how it ended ("…
// is installed." with a check mark, or that it was cancelled) until the next one or
// until the pane is presented afresh. What "Add Model", "Cancel" and the link do is the
// owner's.

#include <QString>
#include <QTimer>
#include <QWidget>

#include "DownloadIndicator.h"
#include "ZoruveVede.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace parlote {

/// A model installation as the model manager shows it.
struct ModelInstallState {
    bool installing = false;
    QString model;         // the model being installed, or the last one
    QString status;        // Ollama's last status line ("pulling 6a0746a1ec1a")
    qint64 completed = 0;  // bytes done, over the layers reported so far
    qint64 total = 0;      // bytes to do, over the same layers
    ZoruveVede::InstallOutcome outcome = ZoruveVede::InstallOutcome::None;

    /// The installation state `model` holds.
    static ModelInstallState of(const ZoruveVede& model);
};

class ModelAddPane : public QWidget {
    Q_OBJECT
public:
    explicit ModelAddPane(QWidget* parent);

    /// Shows the state of the running installation (or of the last): while one runs, the
    /// form is disabled and the box shows its progress. A model installed empties the name
    /// field; after a failure the field holds the name again, to be corrected.
    void showInstallState(const ModelInstallState& state);
    /// Hides how the last download ended (the pane is presented afresh).
    void forgetOutcome();

    QLineEdit* nameField() const { return nameField_; }
    QPushButton* addButton() const { return addButton_; }
    QWidget* progressBox() const { return progressBox_; }
    QLabel* headingLabel() const { return headingLabel_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QLabel* percentLabel() const { return percentLabel_; }
    QLabel* bytesLabel() const { return bytesLabel_; }
    QLabel* speedLabel() const { return speedLabel_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QWidget* outcomeBox() const { return outcomeBox_; }
    QLabel* outcomeIcon() const { return outcomeIcon_; }
    QLabel* outcomeLabel() const { return outcomeLabel_; }
    QLabel* browseLink() const { return browseLink_; }

signals:
    /// "Cancel" in the progress box.
    void cancelRequested();

private:
    void showSpeed();

    QLabel* browseLink_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QWidget* progressBox_ = nullptr;
    QLabel* headingLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* percentLabel_ = nullptr;
    QLabel* bytesLabel_ = nullptr;
    QLabel* speedLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QWidget* outcomeBox_ = nullptr;
    QLabel* outcomeIcon_ = nullptr;
    QLabel* outcomeLabel_ = nullptr;

    ModelInstallState shown_;
    bool outcomeForgotten_ = false;
    downloads::RateMeter rate_;
    QTimer rateTimer_;  // samples the bytes again each second, so that a stall shows
};

}  // namespace parlote
