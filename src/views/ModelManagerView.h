#pragma once

// The model manager: the installed models in a list beside a detail area that shows a
// model's details (with removal after a confirmation, what it can do and whether it is
// loaded, with "Unload"; ModelDetailsPane), the form for
// installing a model by name with the progress of a running installation (ModelAddPane),
// or a short help text. The panel owns no model data: the owner passes the models and
// the installation state in (or lets the panel follow the application model's
// installation), and receives installs, cancels, removals, closing and the closing of its
// alert through signals.

#include <QHash>
#include <QList>
#include <QLocale>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

#include "ChatRecords.h"
#include "MarkdownLinks.h"
#include "ModelAddPane.h"
#include "ZoruveVede.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTimer;
class QUrl;

namespace parlote {

class ModelDetailsPane;

class ModelManagerView : public QWidget {
    Q_OBJECT
public:
    /// The detail area shows exactly one of these.
    enum class Pane { Help, Add, Details };

    /// Selection value of the "+ Add New Model" entry.
    static const QString addEntry;
    /// Height of every entry of the list.
    static constexpr int rowHeight = 24;
    /// Width of the label column of the details pane.
    static constexpr int labelWidth = 100;

    explicit ModelManagerView(QWidget* parent = nullptr);
    ~ModelManagerView() override;

    /// A size as the desktop writes it, in `locale`'s words: one decimal and units of 1024
    /// with the usual names ("1.9 GB" for 2,019,393,189 bytes in English).
    static QString formatSize(std::uint64_t size, const QLocale& locale = QLocale());
    /// progress / complete in single precision; 0 when complete is 0.
    static float progressFraction(qint64 progress, qint64 complete);
    /// The address the browse line's link opens.
    static QUrl libraryUrl();

    /// Replaces the list (in the order given). The selection is kept as a value: a model
    /// that leaves the list while selected shows the help pane, and its details again
    /// if it comes back.
    void setModels(const QList<ChatModel>& models);
    const QList<ChatModel>& models() const { return models_; }

    /// What is known of the models (by id) beyond the list, for the details pane;
    /// `runningKnown`: the server said which models are loaded.
    void setModelStates(const QHash<QString, ModelState>& states, bool runningKnown);

    /// The state of the running installation (or of the last one).
    void setInstallState(const ModelInstallState& state);
    bool isInstalling() const { return installState_.installing; }
    /// Shows `model`'s installation from now on, as it changes, and cancels it on "Cancel"
    /// (`cancelInstallRequested` is still reported). Null stops following.
    void followInstallation(ZoruveVede* model);

    /// Selects a model's id, the add entry (`addEntry`) or nothing, as a click would.
    void setSelection(const std::optional<QString>& selection);
    const std::optional<QString>& selection() const { return selection_; }
    Pane currentPane() const;

    /// The view state afresh, as each time the panel is presented: nothing selected (the
    /// help pane), an empty name field, no removal confirmation, nothing said about a
    /// download that ended before (one under way shows on).
    void reset();

    /// Opens the removal confirmation for the selected model (what "Delete Model" does).
    void askDelete();
    /// The removal confirmation while it is open, otherwise null.
    QMessageBox* deleteConfirmation() const;
    /// The general alert while it is open, otherwise null.
    QMessageBox* alert() const;

    /// How a link is opened; QDesktopServices::openUrl unless replaced (tests do).
    void setUrlOpener(LinkOpener opener);

    QSplitter* splitter() const { return splitter_; }
    QListWidget* listWidget() const { return list_; }
    QLineEdit* nameField() const;
    QPushButton* addButton() const;
    QPushButton* deleteButton() const;
    QPushButton* unloadButton() const;
    QPushButton* doneButton() const { return doneButton_; }
    /// The add pane, with the parts of the download box.
    ModelAddPane* addPane() const { return addPane_; }
    QWidget* progressBox() const;
    QLabel* statusLabel() const;
    QProgressBar* progressBar() const;
    /// The label and value of the details pane's rows, in order (seven each).
    const QList<QLabel*>& detailLabels() const;
    const QList<QLabel*>& detailValues() const;
    /// The details pane's rows of what the server says (capabilities, context, memory).
    const QList<QLabel*>& stateLabels() const;
    const QList<QLabel*>& stateValues() const;
    /// The browse line's link in the add pane and in the help pane.
    QLabel* browseLink(Pane pane) const;

public slots:
    /// Shows the general alert (title and message verbatim, one "OK" button, the icon of
    /// its kind); an alert already open takes the new texts. Its closing reports
    /// `alertClosed`.
    void showAlert(const QString& title, const QString& message,
                   ZoruveVede::AlertKind kind = ZoruveVede::AlertKind::Warning);
    /// Closes the general alert if it is open.
    void closeAlert();

signals:
    /// "Add Model": the name exactly as typed, possibly empty.
    void addModelRequested(const QString& name);
    /// "Cancel" in the download box.
    void cancelInstallRequested();
    /// The user confirmed the removal of the model with this id.
    void deleteModelRequested(const QString& id);
    /// "Done".
    void dismissRequested();
    /// "Unload" of the loaded model with this id.
    void unloadModelRequested(const QString& id);
    /// The panel is shown, and again every half minute while it is: the owner asks the
    /// server afresh what the models can do and which are loaded.
    void statusRefreshRequested();
    /// The general alert was closed.
    void alertClosed();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildHelpPane();
    void updateLink(QLabel* anchor);

    const ChatModel* selectedModel() const;  // the first model with the selected id
    void rebuildList();
    void showSelection();  // highlights `selection_` without reporting
    void listSelectionChanged();
    void updatePane();
    void updateInstallState();
    void addClicked();
    void openLink(const QString& link);

    QList<ChatModel> models_;
    QHash<QString, ModelState> states_;
    bool runningKnown_ = false;
    QTimer* refreshTimer_ = nullptr;  // asks for fresh states while the panel is shown
    std::optional<QString> selection_;
    ModelInstallState installState_;
    QPointer<ZoruveVede> followed_;
    bool syncing_ = false;  // the list's selection is being set from `selection_`

    LinkOpener urlOpener_;

    QSplitter* splitter_;
    QListWidget* list_;
    QStackedWidget* stack_;
    QWidget* helpPane_;
    ModelAddPane* addPane_;
    ModelDetailsPane* detailsPane_;
    QPushButton* doneButton_ = nullptr;
    QLabel* helpLink_ = nullptr;

    std::optional<QString> pendingDelete_;
    QPointer<QMessageBox> confirmation_;
    QPointer<QMessageBox> alert_;
};

}  // namespace parlote
