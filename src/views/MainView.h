#pragma once

// The content of Parlote's main window: the banner shown while Ollama does not answer,
// the conversation sidebar beside the chat pane (the sidebar button, the model menu, the
// progress of a model download while one runs, the conversation's description and the button
// of its settings (ConversationSettingsForm.h), the card of the conversation's system prompt
// (SystemPromptCard.h), the transcript,
// the find bar under it while it is open (FindBar.h, Ctrl+F), the pictures attached to the
// message being written (PictureStrip.h), the input box with its "Attach Picture" button and
// "Send", which reads "Stop" while a reply is written and stops it), and the
// four overlays: the model manager sheet, the general alert, the "Waiting on Ollama…" alert and the
// welcome sheet (kept by an OverlayController, Overlays.h). It owns the application model for the
// window's lifetime, shows its fields and hands every user action to it; it holds no chat
// logic of its own.
//
// The keyboard focus follows what the user is doing: the input box has it when the window
// opens, after Send or Stop, after a conversation is chosen in the sidebar with the mouse
// or with Return (the arrow keys leave it in the sidebar, to walk on), and after a sheet
// or an alert closes.
//
// The sidebar can be hidden and shown again (the header's sidebar button, Ctrl+B). It
// hides by itself while the window is narrower than `sidebarCollapseWidth` and comes back
// when it is wider, unless the user chose otherwise there; that choice is kept in the
// settings.
//
// Interface thread only.

#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "ConversationSettingsForm.h"
#include "MarkdownLinks.h"
#include "ModelMenu.h"
#include "ZoruveVede.h"

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QMimeData;
class QMessageBox;
class QPushButton;
class QSplitter;
class QToolButton;
class QUrl;

namespace parlote {

class ConversationListView;
class ConversationSearch;
class CustomTextView;
class DownloadIndicator;
class FindBar;
class ImageStore;
class ModelManagerView;
class OverlayController;
class PictureStrip;
class StorageBar;
class SystemPromptCard;
class TranscriptView;
class UndoBar;
class WelcomeView;

namespace views_detail {
class Banner;
class ElidedLabel;
class InputFrame;
}  // namespace views_detail

class MainView : public QWidget {
    Q_OBJECT
public:
    /// Half of a 1366-pixel screen.
    static constexpr int minimumWidth = 640;
    static constexpr int minimumHeight = 600;
    static constexpr int sidebarMinimumWidth = 200;
    static constexpr int sidebarMaximumWidth = 350;
    static constexpr int modelMenuWidth = 250;
    static constexpr int bannerHeight = 24;
    /// Narrower than this, the sidebar hides unless the user showed it.
    static constexpr int sidebarCollapseWidth = 720;
    /// The setting holding the user's sidebar choice where it differs from what the
    /// window's width would do (absent: follow the width).
    static const QString sidebarChoiceKey;

    static const QString notRunningText;
    static const QString loadAlertTitle;
    static const QString loadAlertMessage;

    /// Creates the application model from `services` and starts it. `images` serves the
    /// pictures of messages (the shared store when null).
    explicit MainView(ZoruveVedeServices services = ZoruveVedeServices::standard(),
                      QWidget* parent = nullptr, ImageStore* images = nullptr);
    ~MainView() override;

    ZoruveVede& viewModel() { return *model_; }

    /// The Send enabling rule: some text besides white space, and no reply under way.
    /// While a reply is under way the button is "Stop" instead, and enabled.
    static bool sendEnabled(const QString& inputText, bool inSendingMessage);

    /// Whether editLastMessage() can act: the shown thread holds a user message and no
    /// reply is being written.
    bool canEditLastMessage() const;
    /// Opens the last user message for editing in place in the transcript (also what Up
    /// does in the empty input box). Does nothing when it cannot act.
    void editLastMessage();

    /// Shows or hides the sidebar as the user's choice (the sidebar button and the "Show
    /// Sidebar" action do this), remembered in the settings.
    void setSidebarShown(bool shown);
    bool sidebarShown() const;
    /// The checkable "Show Sidebar" action (Ctrl+B) for the View menu; its shortcut works
    /// anywhere in the window.
    QAction* sidebarAction() const { return sidebarAction_; }

    /// "Conversation Settings…" (Ctrl+Shift+S): opens them for the conversation shown;
    /// disabled while none is. For the Conversation menu; its shortcut works anywhere in
    /// the window.
    QAction* conversationSettingsAction() const { return settingsAction_; }
    /// Opens "Conversation Settings" for the conversation shown, `focus` holding the
    /// keyboard: window-modal, OK applies the form to the conversation (which saves it),
    /// Cancel changes nothing. Does nothing while no conversation is shown; raises the
    /// dialog already open.
    void openConversationSettings(
        ConversationSettingsForm::Field focus = ConversationSettingsForm::Field::systemPrompt);
    /// Opens Preferences (the Edit menu's "Preferences…"): OK keeps the defaults of new
    /// conversations in the settings.
    void openPreferences();
    /// The dialogs while they are open, else null.
    ConversationSettingsDialog* conversationSettingsDialog() const;
    PreferencesDialog* preferencesDialog() const;

    /// "Attach Picture…" (Ctrl+Shift+A): asks for picture files and attaches them to the
    /// message being written. For the Conversation menu; its shortcut works anywhere in
    /// the window, and the button beside the input box does the same.
    QAction* attachPictureAction() const { return attachAction_; }
    /// Replaces the file dialog of "Attach Picture…" (tests): `choose` gives the files.
    void setPictureChooser(std::function<QStringList()> choose) {
        pictureChooser_ = std::move(choose);
    }
    /// Replaces what opens a picture's file when its thumbnail is clicked (the desktop's
    /// image viewer unless set).
    void setPictureOpener(LinkOpener opener) { pictureOpener_ = std::move(opener); }
    /// Attaches the pictures `source` holds (pasted or dropped): its picture files, else
    /// its image data. Does nothing for data without pictures.
    void attachPictures(const QMimeData* source);
    /// The attached pictures over the input box.
    PictureStrip* pictureStrip() const { return pictureStrip_; }

    /// Puts the keyboard focus into the input box.
    void focusInput();
    /// Shows the sidebar if hidden and puts the keyboard focus in its search field.
    void focusSearch();
    /// The search field at the top of the sidebar and its findings.
    ConversationSearch* search() const { return search_; }

    /// Opens or closes the model manager sheet.
    void setShowModelPopover(bool show);
    bool showModelPopover() const;

    /// How links (in messages, the welcome sheet and the model manager) are opened;
    /// QDesktopServices::openUrl unless replaced (tests do).
    void setUrlOpener(LinkOpener opener);

    // The parts, for tests and tools.
    QWidget* banner() const;
    StorageBar* storageBar() const { return storageBar_; }
    /// "Conversation deleted" with "Undo", while a deletion can be undone.
    UndoBar* undoBar() const { return undoBar_; }
    QSplitter* splitter() const { return splitter_; }
    ConversationListView* sidebar() const { return sidebar_; }
    QToolButton* sidebarButton() const { return sidebarButton_; }
    QToolButton* modelButton() const { return modelButton_; }
    /// The progress of a model download, beside the model menu while one runs.
    DownloadIndicator* downloadIndicator() const { return downloadIndicator_; }
    /// The header's bar, where the sidebar button, the model menu button and the
    /// description sit.
    QWidget* header() const { return header_; }
    ModelMenu* modelMenu() const { return modelMenu_; }
    /// The header's button that opens the conversation settings.
    QToolButton* settingsButton() const { return settingsButton_; }
    /// The system prompt's card over the transcript (hidden without a prompt).
    SystemPromptCard* systemPromptCard() const { return promptCard_; }
    QLabel* descriptionLabel() const;
    TranscriptView* transcript() const { return transcript_; }
    /// Find in the conversation, under the transcript (hidden until Ctrl+F); its actions
    /// are the window's.
    FindBar* findBar() const { return findBar_; }
    CustomTextView* input() const { return input_; }
    QWidget* inputFrame() const;
    QPushButton* sendButton() const { return send_; }
    /// The "Attach Picture" button beside the input box.
    QToolButton* attachButton() const { return attachButton_; }
    qreal textHeight() const { return textHeight_; }
    /// The overlays while they are shown, else null.
    QDialog* modelSheet() const;
    ModelManagerView* modelManager() const;
    QMessageBox* generalAlert() const;
    QMessageBox* loadAlert() const;
    QDialog* welcomeSheet() const;
    WelcomeView* welcomeView() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildChatPane();
    QWidget* buildHeader(QWidget* parent);
    QWidget* buildInputRow(QWidget* parent);
    void connectModel();
    void connectBanner();
    void connectStorageBar();
    void connectUndoBar();
    void connectSidebar();
    void connectSearch();
    /// Opens the conversation of a search finding with its message current.
    void openSearchFinding(const QUuid& conversation, const QUuid& message);
    void connectHeader();
    void connectTranscript();
    void connectSettings();
    void connectInputRow();
    void connectPictures();
    void updatePictureStrip();
    void choosePictures();
    void openPicture(const QString& reference);
    /// The loaded thumbnail of the picture `reference`; a null pixmap while it loads (the
    /// strip and the transcript are given it once it is there).
    QPixmap thumbnail(const QString& reference);

    void rebuildModelMenu();
    void updateModelButton();
    void updateDescription();
    void updateSendButton();
    void setTextHeight(qreal height);
    void sidebarSelectionChanged(const SidebarID& id);
    bool sidebarEvent(QObject* watched, QEvent* event);
    void applySidebarVisibility();

    std::unique_ptr<ZoruveVede> model_;
    qreal textHeight_ = 30.0;

    // The user's sidebar choice where it differs from what the width would do.
    std::optional<bool> sidebarChoice_;
    // A mouse press in the sidebar's list and the selection it found.
    std::optional<SidebarID> sidebarPressSelection_;
    // The sidebar's list and its viewport, whose events the view watches.
    QObject* sidebarList_ = nullptr;
    QObject* sidebarViewport_ = nullptr;

    views_detail::Banner* banner_ = nullptr;
    StorageBar* storageBar_ = nullptr;
    UndoBar* undoBar_ = nullptr;
    QSplitter* splitter_ = nullptr;
    ConversationListView* sidebar_ = nullptr;
    ConversationSearch* search_ = nullptr;
    QWidget* header_ = nullptr;
    QToolButton* sidebarButton_ = nullptr;
    QAction* sidebarAction_ = nullptr;
    QToolButton* modelButton_ = nullptr;
    DownloadIndicator* downloadIndicator_ = nullptr;
    ModelMenu* modelMenu_ = nullptr;
    views_detail::ElidedLabel* description_ = nullptr;
    QToolButton* settingsButton_ = nullptr;
    QAction* settingsAction_ = nullptr;
    SystemPromptCard* promptCard_ = nullptr;
    QPointer<ConversationSettingsDialog> settingsDialog_;
    QPointer<PreferencesDialog> preferencesDialog_;
    TranscriptView* transcript_ = nullptr;
    FindBar* findBar_ = nullptr;
    views_detail::InputFrame* inputFrame_ = nullptr;
    CustomTextView* input_ = nullptr;
    QPushButton* send_ = nullptr;
    QToolButton* attachButton_ = nullptr;
    QAction* attachAction_ = nullptr;
    PictureStrip* pictureStrip_ = nullptr;
    QWidget* chatPane_ = nullptr;         // takes dropped pictures
    QHash<QString, QPixmap> thumbnails_;  // loaded thumbnails, by picture name
    QSet<QString> loadingThumbnails_;
    std::function<QStringList()> pictureChooser_;
    LinkOpener pictureOpener_;

    std::unique_ptr<OverlayController> overlays_;  // the sheets and alerts
};

}  // namespace parlote
