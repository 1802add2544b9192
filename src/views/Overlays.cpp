#include "Overlays.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ChatPaneParts.h"
#include "DisplayName.h"
#include "MainView.h"
#include "ModelManagerView.h"
#include "WelcomeView.h"
#include "ZoruveVede.h"

namespace parlote {

LinkOpener browserLinkOpener(QWidget* parent, UrlLauncher launch) {
    if (!launch) launch = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return [parent = QPointer<QWidget>(parent), launch = std::move(launch)](const QUrl& url) {
        if (!launch(url)) showNoBrowserMessage(parent, url);
    };
}

QMessageBox* showNoBrowserMessage(QWidget* parent, const QUrl& url) {
    const QString address = url.toDisplayString();
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(QObject::tr("No Web Browser"));
    box->setText(QObject::tr("Parlote could not open a web browser."));
    box->setInformativeText(
        QObject::tr("Open this address in a browser yourself:\n%1").arg(address));
    // The address can be selected with the mouse or the keyboard, and copied.
    for (QLabel* label : box->findChildren<QLabel*>())
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPushButton* copy = box->addButton(QObject::tr("&Copy Address"), QMessageBox::ActionRole);
    QObject::connect(copy, &QPushButton::clicked, box,
                     [address] { QGuiApplication::clipboard()->setText(address); });
    QPushButton* ok = box->addButton(QMessageBox::Ok);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    box->open();
    return box;
}

OverlayController::OverlayController(QWidget* host) : host_(host) {
    urlOpener_ = desktopLinkOpener();
    modelSheetDialog_ = new views_detail::SheetDialog(
        host_, [this] { setShowModelPopover(false); }, true);
    modelSheetDialog_->setWindowTitle(tr("Models"));
    auto* sheetLayout = new QVBoxLayout(modelSheetDialog_);
    sheetLayout->setContentsMargins(0, 0, 0, 0);
    modelManager_ = new ModelManagerView(modelSheetDialog_);
    sheetLayout->addWidget(modelManager_);
}

OverlayController::~OverlayController() {
    // The overlays' signals must not reach a model that is being destroyed, and nothing
    // the model still emits may reach overlays being destroyed.
    if (model_) disconnect(model_, nullptr, this, nullptr);
    delete modelSheetDialog_;
    if (welcomeSheet_) delete welcomeSheet_.data();
    if (generalAlert_) delete generalAlert_.data();
    if (loadAlert_) delete loadAlert_.data();
}

void OverlayController::connectModel(ZoruveVede* model) {
    model_ = model;
    ZoruveVede* m = model;

    // Model manager.
    connect(m, &ZoruveVede::availableModelsChanged, this, [this] {
        modelManager_->setModels(model_->availableModels());
        updateModelStates();
    });
    modelManager_->followInstallation(m);  // its progress, and Cancel
    connect(modelManager_, &ModelManagerView::addModelRequested, this,
            [this](const QString& name) { model_->startModelInstall(name); });
    connect(modelManager_, &ModelManagerView::deleteModelRequested, this,
            [this](const QString& name) { model_->removeInstalledModel(name); });
    connect(modelManager_, &ModelManagerView::dismissRequested, this,
            [this] { setShowModelPopover(false); });
    connect(modelManager_, &ModelManagerView::alertClosed, this,
            [this] { model_->setShowModalAlert(false); });
    // What the models can do and which are loaded, asked afresh while the panel shows.
    connect(m, &ZoruveVede::modelStatesChanged, this, &OverlayController::updateModelStates);
    connect(modelManager_, &ModelManagerView::statusRefreshRequested, m,
            &ZoruveVede::refreshModelStatus);
    connect(modelManager_, &ModelManagerView::unloadModelRequested, m, &ZoruveVede::unloadModel);
    modelManager_->setModels(m->availableModels());
    updateModelStates();
    updateInstallState();

    // Alerts and the welcome sheet.
    connect(m, &ZoruveVede::showModalAlertChanged, this, &OverlayController::updateGeneralAlert);
    connect(m, &ZoruveVede::modalAlertTitleChanged, this, &OverlayController::updateGeneralAlert);
    connect(m, &ZoruveVede::modalAlertMessageChanged, this, &OverlayController::updateGeneralAlert);
    connect(m, &ZoruveVede::showLoadAlertChanged, this, &OverlayController::updateLoadAlert);
    connect(m, &ZoruveVede::firstLaunchChanged, this, &OverlayController::updateWelcomeSheet);
    updateGeneralAlert();
    updateLoadAlert();
    updateWelcomeSheet();
}

void OverlayController::setUrlOpener(LinkOpener opener) {
    urlOpener_ = std::move(opener);
    modelManager_->setUrlOpener(urlOpener_);
    if (welcomeView_) welcomeView_->setUrlOpener(urlOpener_);
}

QDialog* OverlayController::modelSheet() const {
    return showModelPopover_ ? modelSheetDialog_ : nullptr;
}
QMessageBox* OverlayController::generalAlert() const {
    return generalAlert_;
}
QMessageBox* OverlayController::loadAlert() const {
    return loadAlert_;
}
QDialog* OverlayController::welcomeSheet() const {
    return welcomeSheet_;
}
WelcomeView* OverlayController::welcomeView() const {
    return welcomeView_;
}

// ---- the model manager sheet ---------------------------------------------------------------

void OverlayController::setShowModelPopover(bool show) {
    if (show == showModelPopover_) {
        if (show) modelSheetDialog_->raise();
        return;
    }
    showModelPopover_ = show;
    if (show) {
        // The panel starts afresh each time it is presented; an installation under way
        // goes on whether it is shown or not.
        modelManager_->reset();
        modelManager_->setModels(model_->availableModels());
        updateInstallState();
        modelSheetDialog_->resize(modelSheetDialog_->sizeHint().expandedTo(QSize(720, 480)));
        modelSheetDialog_->open();
    } else {
        modelManager_->closeAlert();
        modelSheetDialog_->hide();
    }
    updateGeneralAlert();
    if (!show) emit closed();
}

void OverlayController::updateModelStates() {
    modelManager_->setModelStates(model_->modelStates(), model_->runningModelsKnown());
}

void OverlayController::updateInstallState() {
    modelManager_->setInstallState(ModelInstallState::of(*model_));
}

// ---- the alerts ----------------------------------------------------------------------------

void OverlayController::updateGeneralAlert() {
    const bool show = model_->showModalAlert();
    const QString title = model_->modalAlertTitle();
    const QString message = model_->modalAlertMessage();
    if (!show) {
        if (generalAlert_) generalAlert_->close();
        modelManager_->closeAlert();
        return;
    }
    // While the model manager is open, the alert belongs to it.
    if (showModelPopover_) {
        if (generalAlert_) {
            movingGeneralAlert_ = true;  // the alert moves; it is not answered
            generalAlert_->close();
            movingGeneralAlert_ = false;
        }
        modelManager_->showAlert(title, message, model_->modalAlertKind());
        return;
    }
    if (!generalAlert_) {
        auto* box = new QMessageBox(host_);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->setTextFormat(Qt::PlainText);
        QPushButton* ok = box->addButton(tr("OK"), QMessageBox::AcceptRole);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
        connect(box, &QDialog::finished, this, [this] {
            generalAlert_ = nullptr;  // deleted later; a new alert needs a new box
            if (!movingGeneralAlert_ && model_->showModalAlert()) model_->setShowModalAlert(false);
            if (!movingGeneralAlert_) emit closed();
        });
        generalAlert_ = box;
        box->open();
    }
    generalAlert_->setIcon(model_->modalAlertKind() == ZoruveVede::AlertKind::Information
                               ? QMessageBox::Information
                               : QMessageBox::Warning);
    // The texts may quote a model's name: shown so that it cannot pass for another.
    generalAlert_->setWindowTitle(views::displayMessage(title));
    generalAlert_->setText(views::displayMessage(title));
    generalAlert_->setInformativeText(views::displayMessage(message));
}

void OverlayController::updateLoadAlert() {
    if (!model_->showLoadAlert()) {
        if (loadAlert_) {
            closingLoadAlert_ = true;
            loadAlert_->close();
            closingLoadAlert_ = false;
        }
        return;
    }
    if (loadAlert_) return;
    auto* box = new QMessageBox(host_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(MainView::loadAlertTitle);
    box->setText(MainView::loadAlertTitle);
    box->setInformativeText(MainView::loadAlertMessage);
    QPushButton* retry = box->addButton(tr("Retry"), QMessageBox::AcceptRole);
    QPushButton* cancel = box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(retry);
    box->setEscapeButton(cancel);
    // "Retry" checks again and, once Ollama answers, does what the user asked for; "Cancel"
    // (also Escape and the window's close button) gives that up. A close on the model's
    // behalf (the flag went false) does neither.
    connect(box, &QDialog::finished, this, [this, box, retry] {
        loadAlert_ = nullptr;  // deleted later; a new alert needs a new box
        emit closed();
        if (closingLoadAlert_) return;
        const bool retried = box->clickedButton() == retry;
        if (model_->showLoadAlert()) model_->setShowLoadAlert(false);
        if (retried) {
            model_->retryWaitingAction();
        } else {
            model_->cancelWaitingAction();
        }
    });
    loadAlert_ = box;
    box->open();
}

// ---- the welcome sheet ---------------------------------------------------------------------

void OverlayController::updateWelcomeSheet() {
    if (!model_->firstLaunch()) {
        if (welcomeSheet_) {
            welcomeSheet_->hide();
            welcomeSheet_->deleteLater();
            welcomeSheet_ = nullptr;
            welcomeView_ = nullptr;
            emit closed();
        }
        return;
    }
    if (welcomeSheet_) return;
    // Made anew each time it is presented: the document is read again.
    auto* dialog = new views_detail::SheetDialog(
        host_, [this] { model_->dismissWelcome(); }, false);
    dialog->setWindowTitle(tr("Welcome to Parlote"));
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* view = new WelcomeView(dialog);
    view->setUrlOpener(urlOpener_);
    layout->addWidget(view);
    connect(view, &WelcomeView::dismissRequested, this, [this] { model_->dismissWelcome(); });
    welcomeSheet_ = dialog;
    welcomeView_ = view;
    dialog->open();
}

}  // namespace parlote
