#pragma once

// The overlays over the main window's content: the model manager sheet, the general
// alert, the "Waiting on Ollama…" alert and the welcome sheet. Each follows the
// application model: it opens when the model's flag is set, closes when the flag is
// cleared, and the user's answer goes back to the model. While the model manager sheet
// is open, the general alert is shown by the model manager itself.
//
// Also here: the one way the window opens an address in a browser, which tells the user
// when no browser could be started.
//
// Interface thread only.

#include <QObject>
#include <QPointer>
#include <functional>

#include "MarkdownLinks.h"

class QDialog;
class QMessageBox;
class QUrl;
class QWidget;

namespace parlote {

class ModelManagerView;
class WelcomeView;
class ZoruveVede;

/// Hands an address to the desktop; returns whether a program took it.
using UrlLauncher = std::function<bool(const QUrl&)>;

/// Opens addresses through `launch` (QDesktopServices::openUrl when empty). When nothing
/// could open one, a message box over `parent`'s window says so and shows the address as
/// text to select and copy.
LinkOpener browserLinkOpener(QWidget* parent, UrlLauncher launch = {});

/// The message box of a browser that could not be opened for `url`: window-modal over
/// `parent`, already open, deleted once closed.
QMessageBox* showNoBrowserMessage(QWidget* parent, const QUrl& url);

class OverlayController : public QObject {
    Q_OBJECT
public:
    /// Builds the model manager sheet (hidden) as a window-modal dialog over `host`; the
    /// other overlays are made over `host` when they are shown.
    explicit OverlayController(QWidget* host);
    /// Stops following the model, then deletes the overlays.
    ~OverlayController() override;

    /// Follows `model` from now on (its installation state, its alert flags and its first
    /// launch) and shows at once what it holds. `model` outlives this controller.
    void connectModel(ZoruveVede* model);

    /// Opens or closes the model manager sheet.
    void setShowModelPopover(bool show);
    bool showModelPopover() const { return showModelPopover_; }

    /// How links in the model manager and the welcome sheet are opened.
    void setUrlOpener(LinkOpener opener);

    /// The overlays while they are shown, else null.
    QDialog* modelSheet() const;
    ModelManagerView* modelManager() const { return modelManager_; }
    QMessageBox* generalAlert() const;
    QMessageBox* loadAlert() const;
    QDialog* welcomeSheet() const;
    WelcomeView* welcomeView() const;

signals:
    /// A sheet or an alert closed: the keyboard goes back to the window.
    void closed();

private:
    void updateModelStates();
    void updateInstallState();
    void updateGeneralAlert();
    void updateLoadAlert();
    void updateWelcomeSheet();

    QWidget* host_;
    ZoruveVede* model_ = nullptr;
    LinkOpener urlOpener_;
    bool showModelPopover_ = false;
    bool closingLoadAlert_ = false;
    bool movingGeneralAlert_ = false;

    QDialog* modelSheetDialog_ = nullptr;
    ModelManagerView* modelManager_ = nullptr;
    QPointer<QMessageBox> generalAlert_;
    QPointer<QMessageBox> loadAlert_;
    QPointer<QDialog> welcomeSheet_;
    QPointer<WelcomeView> welcomeView_;
};

}  // namespace parlote
