#include "MainView.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ChatPaneParts.h"
#include "ConversationListView.h"
#include "ConversationSearch.h"
#include "CustomTextView.h"
#include "DisplayName.h"
#include "DownloadIndicator.h"
#include "FindBar.h"
#include "ModelMenu.h"
#include "Overlays.h"
#include "PictureStrip.h"
#include "ServerChoice.h"
#include "ServerSection.h"
#include "StorageBar.h"
#include "SystemPromptCard.h"
#include "TranscriptView.h"
#include "UndoBar.h"

namespace parlote {

const QString MainView::sidebarChoiceKey = QStringLiteral("sidebarVisible");
const QString MainView::notRunningText = QStringLiteral(
    "Ollama is not running. Start it with “systemctl start ollama” or “ollama serve”.");
const QString MainView::loadAlertTitle = QStringLiteral("Waiting on Ollama…");
const QString MainView::loadAlertMessage = QStringLiteral(
    "Ollama is not running. Start the Ollama service (for example with “systemctl start "
    "ollama” or “ollama serve”) before continuing.");

MainView::MainView(ZoruveVedeServices services, QWidget* parent, ImageStore* images)
    : QWidget(parent) {
    setMinimumSize(minimumWidth, minimumHeight);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    banner_ = new views_detail::Banner(this);
    banner_->hide();
    column->addWidget(banner_);
    storageBar_ = new StorageBar(this);
    column->addWidget(storageBar_);
    undoBar_ = new UndoBar(this);
    column->addWidget(undoBar_);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    sidebar_ = new ConversationListView(splitter_);
    sidebar_->setMinimumWidth(sidebarMinimumWidth);
    sidebar_->setMaximumWidth(sidebarMaximumWidth);
    splitter_->addWidget(sidebar_);
    transcript_ = new TranscriptView(nullptr, images);
    splitter_->addWidget(buildChatPane());
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({sidebarMinimumWidth, 800});
    column->addWidget(splitter_, 1);

    overlays_ = std::make_unique<OverlayController>(this);
    connect(overlays_.get(), &OverlayController::closed, this, &MainView::focusInput);

    // The model starts (reads the conversation list, asks Ollama for models) once the
    // window is ready to show what it finds.
    model_ = std::make_unique<ZoruveVede>(std::move(services));
    // A download that goes on after the model manager closed shows beside the model menu.
    downloadIndicator_ = new DownloadIndicator(*model_, header_);
    static_cast<QHBoxLayout*>(header_->layout())->insertWidget(2, downloadIndicator_);
    connectModel();
    connectSearch();
    setUrlOpener(browserLinkOpener(this));

    sidebarAction_ = new QAction(tr("Show &Sidebar"), this);
    sidebarAction_->setCheckable(true);
    sidebarAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    addAction(sidebarAction_);
    connect(sidebarAction_, &QAction::triggered, this, &MainView::setSidebarShown);
    connect(sidebarButton_, &QToolButton::clicked, this,
            [this] { setSidebarShown(!sidebarShown()); });
    const QVariant choice = model_->settings()->value(sidebarChoiceKey);
    if (choice.isValid()) sidebarChoice_ = choice.toBool();
    applySidebarVisibility();

    setTabOrder(search_->field(), search_->resultList());
    setTabOrder(search_->resultList(), sidebar_->listView());
    setTabOrder(sidebar_, sidebarButton_);
    setTabOrder(sidebarButton_, modelButton_);
    setTabOrder(modelButton_, downloadIndicator_->cancelButton());
    setTabOrder(downloadIndicator_->cancelButton(), settingsButton_);
    setTabOrder(settingsButton_, promptCard_);
    setTabOrder(promptCard_, transcript_);
    setTabOrder(transcript_, findBar_->field());
    setTabOrder(findBar_->field(), findBar_->previousButton());
    setTabOrder(findBar_->previousButton(), findBar_->nextButton());
    setTabOrder(findBar_->nextButton(), findBar_->closeButton());
    setTabOrder(findBar_->closeButton(), attachButton_);
    setTabOrder(attachButton_, input_->textView());
    setTabOrder(input_->textView(), send_);
    focusInput();  // typing starts a message as soon as the window shows
}

MainView::~MainView() {
    // Nothing the model still emits may reach widgets being destroyed, and the overlays
    // go first: their signals must not reach a model that is being destroyed.
    disconnect(model_.get(), nullptr, this, nullptr);
    overlays_.reset();
    delete splitter_;
}

QWidget* MainView::buildChatPane() {
    auto* pane = new QWidget;
    chatPane_ = pane;
    // Pictures dropped anywhere on the chat pane are attached to the message.
    pane->setAcceptDrops(true);
    pane->installEventFilter(this);
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader(pane));
    // The system prompt, over the transcript that follows from it.
    promptCard_ = new SystemPromptCard(pane);
    column->addWidget(promptCard_);
    transcript_->setParent(pane);
    column->addWidget(transcript_, 1);
    // Find in the conversation, under the transcript it searches; its commands work
    // anywhere in the window, also while it is closed.
    findBar_ = new FindBar(transcript_, pane);
    column->addWidget(findBar_);
    addActions(
        {findBar_->findAction(), findBar_->findNextAction(), findBar_->findPreviousAction()});
    column->addWidget(buildInputRow(pane));
    findBar_->setFallbackFocus(input_->textView());
    return pane;
}

QWidget* MainView::buildHeader(QWidget* parent) {
    auto* header = new QWidget(parent);
    header_ = header;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(10, 10, 10, 10);
    sidebarButton_ = new views_detail::SidebarButton(header);
    sidebarButton_->setAccessibleDescription(tr("Hides or shows the list of conversations"));
    row->addWidget(sidebarButton_);
    modelButton_ = new QToolButton(header);
    modelButton_->setObjectName(QStringLiteral("modelMenuButton"));
    modelButton_->setFixedWidth(modelMenuWidth);
    modelButton_->setPopupMode(QToolButton::InstantPopup);
    modelButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    modelButton_->setFocusPolicy(Qt::StrongFocus);
    modelButton_->setAccessibleDescription(
        tr("Opens the list of installed models, to choose the one that answers, and Manage "
           "Models"));
    modelButton_->setStyleSheet(QStringLiteral(
        "QToolButton#modelMenuButton { padding: 6px 12px; border: none; border-radius: 6px;"
        " background: rgba(128, 128, 128, 26); text-align: left; }"
        "QToolButton#modelMenuButton:focus { border: 1px solid palette(highlight); }"
        "QToolButton#modelMenuButton::menu-indicator { subcontrol-position: right center;"
        " subcontrol-origin: padding; right: 4px; }"));
    modelMenu_ = new ModelMenu(modelMenuWidth, modelButton_);
    modelButton_->setMenu(modelMenu_);
    // Choosing a model also loads it in the background; opening the menu asks the server
    // afresh what the models can do and which are loaded.
    connect(modelMenu_, &ModelMenu::modelChosen, this,
            [this](const QString& id) { model_->chooseModel(id); });
    connect(modelMenu_, &ModelMenu::unloadRequested, this,
            [this](const QString& id) { model_->unloadModel(id); });
    connect(modelMenu_, &QMenu::aboutToShow, this, [this] { model_->refreshModelStatus(); });
    connect(modelMenu_, &ModelMenu::manageRequested, this, [this] { setShowModelPopover(true); });
    row->addWidget(modelButton_);
    // The title takes all the width left, and is cut only when that is not enough.
    description_ = new views_detail::ElidedLabel(header);
    description_->setAccessibleDescription(tr("The title of the conversation"));
    description_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(description_, 1);
    settingsButton_ = new QToolButton(header);
    settingsButton_->setObjectName(QStringLiteral("conversationSettingsButton"));
    settingsButton_->setAutoRaise(true);
    settingsButton_->setFocusPolicy(Qt::StrongFocus);
    const QIcon settingsIcon = QIcon::fromTheme(QStringLiteral("document-properties"),
                                                QIcon::fromTheme(QStringLiteral("configure")));
    if (settingsIcon.isNull()) {
        settingsButton_->setText(tr("Settings"));
    } else {
        settingsButton_->setIcon(settingsIcon);
        settingsButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    settingsButton_->setAccessibleName(tr("Conversation Settings"));
    settingsButton_->setAccessibleDescription(
        tr("The system prompt, temperature, context length, seed and thinking of this "
           "conversation"));
    row->addWidget(settingsButton_);
    return header;
}

QWidget* MainView::buildInputRow(QWidget* parent) {
    auto* area = new QWidget(parent);
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    pictureStrip_ = new PictureStrip(area);
    column->addWidget(pictureStrip_);
    auto* inputRow = new QWidget(area);
    column->addWidget(inputRow);
    auto* row = new QHBoxLayout(inputRow);
    row->setContentsMargins(10, 10, 10, 10);
    attachButton_ = new QToolButton(inputRow);
    attachButton_->setIcon(QIcon::fromTheme(QStringLiteral("mail-attachment"),
                                            QIcon::fromTheme(QStringLiteral("insert-image"))));
    if (attachButton_->icon().isNull()) attachButton_->setText(QStringLiteral("+"));
    attachButton_->setAutoRaise(true);
    attachButton_->setAccessibleName(tr("Attach Picture"));
    attachButton_->setAccessibleDescription(
        tr("Attaches picture files to the message; pictures can also be pasted or dropped"));
    row->addWidget(attachButton_, 0, Qt::AlignVCenter);
    inputFrame_ = new views_detail::InputFrame(inputRow);
    input_ = new CustomTextView(inputFrame_);
    inputFrame_->layout()->addWidget(input_);
    input_->textView()->setAccessibleName(tr("Message"));
    input_->textView()->setAccessibleDescription(
        tr("The message to send: Return sends it, Shift+Return starts a new line"));
    inputFrame_->setFixedHeight(CustomTextView::boxHeight(textHeight_));
    row->addWidget(inputFrame_, 1);
    // Wide enough for either of its two texts, so that the row does not move.
    send_ = new QPushButton(tr("Stop"), inputRow);
    const int stopWidth = send_->sizeHint().width();
    send_->setText(tr("Send"));
    send_->setMinimumWidth(qMax(stopWidth, send_->sizeHint().width()));
    send_->setEnabled(false);
    row->addWidget(send_, 0, Qt::AlignVCenter);
    return area;
}

void MainView::connectModel() {
    connectBanner();
    connectStorageBar();
    connectUndoBar();
    connectSidebar();
    connectHeader();
    connectTranscript();
    connectSettings();
    connectInputRow();
    connectPictures();
    overlays_->connectModel(model_.get());  // the model manager, the alerts, the welcome sheet
}

// The banner shows while Ollama does not answer.
void MainView::connectBanner() {
    connect(model_.get(), &ZoruveVede::ollamaRunningChanged, this,
            [this] { banner_->setVisible(!model_->ollamaRunning()); });
    banner_->setVisible(!model_->ollamaRunning());
}

// Saving problems: shown until everything is on disk, with a way to try again.
void MainView::connectStorageBar() {
    ZoruveVede* m = model_.get();
    connect(m, &ZoruveVede::storageProblemChanged, this,
            [this] { storageBar_->setProblem(model_->storageProblem()); });
    connect(storageBar_, &StorageBar::retryRequested, m, &ZoruveVede::retrySaving);
    storageBar_->setProblem(m->storageProblem());
}

// A deletion that can still be undone: the bar shows until it is undone or final. Undo
// brings the conversation back selected, with the keyboard in the input box, as a
// conversation chosen in the sidebar.
void MainView::connectUndoBar() {
    ZoruveVede* m = model_.get();
    connect(m, &ZoruveVede::pendingDeletionChanged, this, [this] {
        const bool shown = model_->hasPendingDeletion();
        // The keyboard does not stay on a button that goes away.
        const bool hadFocus = undoBar_->isAncestorOf(QApplication::focusWidget());
        undoBar_->setVisible(shown);
        if (!shown && hadFocus) focusInput();
    });
    connect(undoBar_, &UndoBar::undoRequested, this, [this] {
        if (!model_->hasPendingDeletion()) return;
        model_->undoDeletion();
        focusInput();
    });
    undoBar_->setVisible(m->hasPendingDeletion());
}

// The sidebar, bound both ways to the list and the selection.
void MainView::connectSidebar() {
    ZoruveVede* m = model_.get();
    connect(m, &ZoruveVede::conversationsChanged, this,
            [this] { sidebar_->setConversations(model_->conversations()); });
    connect(m, &ZoruveVede::selectedConversationChanged, this,
            [this] { sidebar_->setSelectedConversation(model_->selectedConversation()); });
    connect(sidebar_, &ConversationListView::selectionChanged, this,
            &MainView::sidebarSelectionChanged);
    connect(sidebar_, &ConversationListView::renameRequested, this,
            [this](const SidebarID& id, const QString& title) {
                model_->renameConversation(id, title);
            });
    connect(sidebar_, &ConversationListView::deleteRequested, this,
            [this](const SidebarID& id) { model_->removeConversation(id); });
    connect(sidebar_, &ConversationListView::pinRequested, m, &ZoruveVede::setPinned);
    sidebar_->setConversations(m->conversations());
    sidebar_->setSelectedConversation(m->selectedConversation());
}

// The header: the model menu and the conversation's description.
void MainView::connectHeader() {
    ZoruveVede* m = model_.get();
    connect(m, &ZoruveVede::availableModelsChanged, this, &MainView::rebuildModelMenu);
    connect(m, &ZoruveVede::modelStatesChanged, this,
            [this] { modelMenu_->setModelStates(model_->modelStates()); });
    connect(m, &ZoruveVede::selectedModelChanged, this, &MainView::updateModelButton);
    connect(m, &ZoruveVede::conversationDescriptionChanged, this, &MainView::updateDescription);
    rebuildModelMenu();
    updateModelButton();
    updateDescription();
}

// The transcript, and following the reply: one scroll for the signals of the chunk stream
// that are there when the window looks (they arrive on this thread). What the user asks of
// a message in the transcript (another reply, an edit, another version) goes to the model.
void MainView::connectTranscript() {
    ZoruveVede* m = model_.get();
    connect(m, &ZoruveVede::messagesChanged, this,
            [this] { transcript_->setMessages(model_->messages()); });
    connect(m, &ZoruveVede::inSendingMessageChanged, this,
            [this] { transcript_->setReplyInProgress(model_->inSendingMessage()); });
    connect(transcript_, &TranscriptView::regenerateRequested, m,
            [m](const QUuid&) { m->regenerateReply(); });
    connect(transcript_, &TranscriptView::editSubmitted, m, &ZoruveVede::editAndResend);
    connect(transcript_, &TranscriptView::variantRequested, m, &ZoruveVede::showVariant);
    transcript_->setReplyInProgress(m->inSendingMessage());
    connect(m, &ZoruveVede::conversationOpened, this,
            [this] { transcript_->openTranscript(model_->messages()); });
    connect(m, &ZoruveVede::statusMessageChanged, this,
            [this] { transcript_->setStatusMessage(model_->statusMessage()); });
    m->chunkStream().setOnChange([this] {
        bool ended = false;
        bool any = false;
        while (model_->chunkStream().tryNext(ended)) any = true;
        if (any && transcript_->isVisible()) transcript_->scrollToLastMessage(true);
    });
    transcript_->openTranscript(m->messages());
    transcript_->setStatusMessage(m->statusMessage());
}

// The conversation's settings: the action, the header's button, the system prompt's card
// and the transcript's "Context full" link all open them.
void MainView::connectSettings() {
    ZoruveVede* m = model_.get();
    settingsAction_ = new QAction(tr("Conversation Se&ttings…"), this);
    settingsAction_->setIcon(QIcon::fromTheme(QStringLiteral("document-properties")));
    settingsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    addAction(settingsAction_);
    connect(settingsAction_, &QAction::triggered, this, [this] { openConversationSettings(); });
    connect(settingsButton_, &QToolButton::clicked, this, [this] { openConversationSettings(); });
    connect(promptCard_, &SystemPromptCard::activated, this,
            [this] { openConversationSettings(ConversationSettingsForm::Field::systemPrompt); });
    connect(transcript_, &TranscriptView::contextSettingsRequested, this,
            [this] { openConversationSettings(ConversationSettingsForm::Field::contextLength); });
    auto update = [this] {
        const bool shown = model_->currentConversation() != nullptr;
        settingsAction_->setEnabled(shown);
        settingsButton_->setEnabled(shown);
        const QString keys = settingsAction_->shortcut().toString(QKeySequence::NativeText);
        settingsButton_->setToolTip(tr("Conversation Settings (%1)").arg(keys));
        promptCard_->setPrompt(model_->conversationSettings().systemPrompt.value_or(QString()));
    };
    connect(m, &ZoruveVede::conversationSettingsChanged, this, update);
    connect(m, &ZoruveVede::conversationOpened, this, update);
    update();
}

void MainView::openConversationSettings(ConversationSettingsForm::Field focus) {
    const std::shared_ptr<ConversationManager> manager = model_->currentConversation();
    if (!manager) return;
    if (settingsDialog_) {
        settingsDialog_->form()->focusField(focus);
        settingsDialog_->raise();
        settingsDialog_->activateWindow();
        return;
    }
    auto* dialog = new ConversationSettingsDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    settingsDialog_ = dialog;
    ConversationSettingsForm* form = dialog->form();
    // The model that answers next: its longest context, whether it thinks.
    const QString modelName = model_->selectedModel().value_or(QString());
    form->setModel(modelName, std::nullopt);
    form->setSettings(manager->settings().get());
    if (!modelName.isEmpty()) {
        model_->modelDetails(modelName, [dialog = QPointer<ConversationSettingsDialog>(dialog),
                                         modelName](const std::optional<ModelDetails>& details) {
            if (dialog && details) dialog->form()->setModel(modelName, details);
        });
    }
    // The settings go to the conversation they were opened for, even if another is shown
    // by then.
    std::weak_ptr<ConversationManager> target = manager;
    connect(dialog, &QDialog::accepted, this, [dialog, target] {
        if (const auto conversation = target.lock())
            conversation->setSettings(dialog->form()->settings());
    });
    connect(dialog, &QDialog::finished, this, [this] {
        if (!QApplication::activeModalWidget()) focusInput();
    });
    dialog->open();
    form->focusField(focus);
}

void MainView::openPreferences() {
    if (preferencesDialog_) {
        preferencesDialog_->raise();
        preferencesDialog_->activateWindow();
        return;
    }
    auto* dialog = new PreferencesDialog(model_->bridge(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    preferencesDialog_ = dialog;
    dialog->newConversationForm()->setSettings(model_->newConversationDefaults());
    ServerSection* server = dialog->serverSection();
    SecretStore& store = SecretStore::shared();
    {
        const std::unique_ptr<QSettings> settings = model_->settings();
        server->setAddress(savedServerAddress(*settings));
        server->setKeyKeptInStore(store.persistent());
        // The key comes when the store answers (unless the user typed one meanwhile).
        QPointer<ServerSection> guard(server);
        readChosenApiKey(*settings, store, [guard, &store](const QString& key) {
            if (!guard) return;
            if (guard->apiKey().isEmpty()) guard->setApiKey(key);
            guard->setKeyKeptInStore(store.persistent());
        });
    }
    const QString addressBefore = server->address();
    connect(dialog, &QDialog::accepted, this, [this, dialog, addressBefore] {
        model_->setNewConversationDefaults(dialog->newConversationForm()->settings());
        ServerSection* server = dialog->serverSection();
        if (server->address() == addressBefore && !server->keyEdited()) return;
        const std::unique_ptr<QSettings> settings = model_->settings();
        chooseServer(model_->bridge(), *settings, SecretStore::shared(), server->address(),
                     server->apiKey());
        // The watch and the model list ask the new server now.
        model_->refreshOllamaStatus();
        model_->reloadModels();
    });
    dialog->open();
    dialog->newConversationForm()->focusField(ConversationSettingsForm::Field::systemPrompt);
}

ConversationSettingsDialog* MainView::conversationSettingsDialog() const {
    return settingsDialog_;
}

PreferencesDialog* MainView::preferencesDialog() const {
    return preferencesDialog_;
}

// The input row: the text both ways, Return and "Send" (or "Stop"), Up in the empty box.
void MainView::connectInputRow() {
    ZoruveVede* m = model_.get();
    connect(input_, &CustomTextView::textEdited, this,
            [this](const QString& text) { model_->setInputText(text); });
    connect(m, &ZoruveVede::inputTextChanged, this, [this] {
        input_->setText(model_->inputText());
        updateSendButton();
    });
    connect(input_, &CustomTextView::heightChanged, this, &MainView::setTextHeight);
    connect(m, &ZoruveVede::inSendingMessageChanged, this, &MainView::updateSendButton);
    input_->setOnSubmit([this] { model_->sendMessage(); });
    connect(send_, &QPushButton::clicked, this, [this] {
        if (model_->inSendingMessage())
            model_->stopReply();
        else
            model_->sendMessage();
        focusInput();  // the next message, or the next words of this one
    });
    input_->textView()->installEventFilter(this);
    sidebarList_ = sidebar_->listView();
    sidebarViewport_ = sidebar_->listView()->viewport();
    sidebarList_->installEventFilter(this);
    sidebarViewport_->installEventFilter(this);
    input_->setText(m->inputText());
    updateSendButton();
}

bool MainView::eventFilter(QObject* watched, QEvent* event) {
    if (sidebarEvent(watched, event)) return true;
    if (watched == chatPane_ &&
        (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
         event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!holdsPictures(drop->mimeData())) return false;
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop) attachPictures(drop->mimeData());
        return true;
    }
    // Up in the empty input box edits the last message, as in a shell's history; with
    // text in the box it moves the cursor as usual. The event's type is tested first: the
    // filter also sees the events sent while the input box is being destroyed, when it is
    // no longer a CustomTextView to ask for its text view.
    if (event->type() == QEvent::KeyPress && watched == input_->textView()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up && key->modifiers() == Qt::NoModifier &&
            input_->textView()->document()->isEmpty() && canEditLastMessage()) {
            editLastMessage();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- pictures ------------------------------------------------------------------------------

// The attached pictures: the action and the button, paste and drop, the strip's
// thumbnails (loaded off the interface thread, kept once loaded) and its note.
void MainView::connectPictures() {
    ZoruveVede* m = model_.get();
    attachAction_ = new QAction(tr("&Attach Picture…"), this);
    attachAction_->setIcon(attachButton_->icon());
    attachAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    addAction(attachAction_);
    connect(attachAction_, &QAction::triggered, this, &MainView::choosePictures);
    connect(attachButton_, &QToolButton::clicked, this, &MainView::choosePictures);
    attachButton_->setToolTip(
        tr("Attach Picture (%1)")
            .arg(attachAction_->shortcut().toString(QKeySequence::NativeText)));
    input_->setOnPictures([this](const QMimeData* source) { attachPictures(source); });
    connect(pictureStrip_, &PictureStrip::removeRequested, this, [this](const QString& reference) {
        const bool hadFocus = pictureStrip_->isAncestorOf(QApplication::focusWidget());
        model_->removePendingImage(reference);
        if (hadFocus) focusInput();  // the thumbnail with the focus is gone
    });
    connect(pictureStrip_, &PictureStrip::openRequested, this, &MainView::openPicture);
    connect(transcript_, &TranscriptView::pictureRequested, this, &MainView::openPicture);
    transcript_->setPictureSource(
        [this](const QString& reference) { return thumbnail(reference); });
    connect(pictureStrip_, &PictureStrip::thumbnailsChanged, this, [this] {
        QWidget* previous = findBar_->closeButton();
        for (PictureThumbnail* thumbnail : pictureStrip_->thumbnails()) {
            setTabOrder(previous, thumbnail);
            setTabOrder(thumbnail, thumbnail->removeButton());
            previous = thumbnail->removeButton();
        }
        setTabOrder(previous, attachButton_);
    });
    connect(m, &ZoruveVede::pendingImagesChanged, this, &MainView::updatePictureStrip);
    connect(m, &ZoruveVede::pendingImagesChanged, this, &MainView::updateSendButton);
    connect(m, &ZoruveVede::modelStatesChanged, this, &MainView::updatePictureStrip);
    connect(m, &ZoruveVede::selectedModelChanged, this, &MainView::updatePictureStrip);
    updatePictureStrip();
}

void MainView::updatePictureStrip() {
    const QStringList pictures = model_->pendingImages();
    pictureStrip_->setPictures(pictures);
    for (const QString& reference : pictures)
        if (const QPixmap pixmap = thumbnail(reference); !pixmap.isNull())
            pictureStrip_->setThumbnail(reference, pixmap);
    const QString blind = model_->modelThatCannotSee();
    pictureStrip_->setNote(
        blind.isEmpty() ? QString()
                        : tr("%1 cannot see pictures: they are kept with the message but not "
                             "sent.")
                              .arg(views::displayName(blind)));
}

QPixmap MainView::thumbnail(const QString& reference) {
    if (const auto found = thumbnails_.constFind(reference); found != thumbnails_.cend())
        return *found;
    if (loadingThumbnails_.contains(reference)) return {};
    loadingThumbnails_.insert(reference);
    // One size for the strip and the transcript: the larger, the transcript's.
    const qreal scale = devicePixelRatioF();
    model_->loadThumbnail(
        reference, int(TranscriptView::pictureSide * scale),
        [this, reference, scale, alive = QPointer<MainView>(this)](const QImage& image) {
            if (!alive) return;
            loadingThumbnails_.remove(reference);
            QPixmap pixmap = QPixmap::fromImage(image);
            pixmap.setDevicePixelRatio(scale);
            thumbnails_.insert(reference, pixmap);
            pictureStrip_->setThumbnail(reference, pixmap);
            transcript_->pictureLoaded();
        });
    return {};
}

void MainView::choosePictures() {
    const QStringList files =
        pictureChooser_
            ? pictureChooser_()
            : QFileDialog::getOpenFileNames(this, tr("Attach Picture"), QString(),
                                            tr("Pictures (*.png *.jpg *.jpeg *.webp *.gif *.bmp)"));
    for (const QString& file : files) model_->attachPictureFile(file);
    if (!files.isEmpty()) focusInput();
}

void MainView::attachPictures(const QMimeData* source) {
    const QStringList files = pictureFilesIn(source);
    if (!files.isEmpty()) {
        for (const QString& file : files) model_->attachPictureFile(file);
        return;
    }
    // The bytes as they came where the source offers them encoded: no decoding and
    // encoding again on this thread.
    if (const QString format = pictureFormatIn(source); !format.isEmpty()) {
        model_->attachPictureData(source->data(format));
        return;
    }
    if (source->hasImage()) model_->attachPictureImage(qvariant_cast<QImage>(source->imageData()));
}

void MainView::openPicture(const QString& reference) {
    const QUrl url = QUrl::fromLocalFile(model_->picturePath(reference));
    if (pictureOpener_) {
        pictureOpener_(url);
        return;
    }
    if (QDesktopServices::openUrl(url)) return;
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Could not open the picture"),
                                tr("No program to show pictures was found. The picture is "
                                   "kept in:\n%1")
                                    .arg(url.toLocalFile()),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->show();
}

bool MainView::canEditLastMessage() const {
    return !model_->inSendingMessage() && model_->lastUserMessage().has_value();
}

void MainView::editLastMessage() {
    if (!canEditLastMessage()) return;
    transcript_->beginEditing(*model_->lastUserMessage());
}

bool MainView::sendEnabled(const QString& inputText, bool inSendingMessage) {
    return !inputText.trimmed().isEmpty() && !inSendingMessage;
}

void MainView::setUrlOpener(LinkOpener opener) {
    transcript_->setUrlOpener(opener);
    overlays_->setUrlOpener(std::move(opener));
}

void MainView::focusInput() {
    input_->textView()->setFocus(Qt::OtherFocusReason);
}

// ---- search --------------------------------------------------------------------------------

// The search field sits at the top of the sidebar; its findings take the list's place
// while it holds text.
void MainView::connectSearch() {
    search_ = new ConversationSearch(*model_, sidebar_);
    sidebar_->setSearch(search_->field(), search_->resultsPanel());
    connect(search_, &ConversationSearch::activeChanged, sidebar_,
            &ConversationListView::showSearchResults);
    connect(search_, &ConversationSearch::openRequested, this, &MainView::openSearchFinding);
    connect(search_, &ConversationSearch::dismissed, this, &MainView::focusInput);
}

void MainView::focusSearch() {
    if (!sidebarShown()) setSidebarShown(true);
    search_->focusField();
}

void MainView::openSearchFinding(const QUuid& conversation, const QUuid& message) {
    const SidebarID id = SidebarID::conversation(conversation);
    const QList<Conversation>& list = model_->conversations();
    if (std::none_of(list.begin(), list.end(), [&](const Conversation& c) { return c.id() == id; }))
        return;  // deleted since it was found
    // Selecting it in the sidebar opens it, as a click would.
    sidebar_->setSelectedConversation(id);
    if (!(model_->selectedConversation() == id)) sidebarSelectionChanged(id);
    const std::optional<qsizetype> row =
        message.isNull() ? std::nullopt : transcript_->messages().lastIndexOf(message);
    if (!row) {
        focusInput();  // the title matched: the conversation is what was looked for
        return;
    }
    // The message becomes the current one, in view, where Up and Down go on from.
    transcript_->setFocus(Qt::OtherFocusReason);
    transcript_->setCurrentRow(int(*row));
}

void MainView::setShowModelPopover(bool show) {
    overlays_->setShowModelPopover(show);
}
bool MainView::showModelPopover() const {
    return overlays_->showModelPopover();
}

QWidget* MainView::banner() const {
    return banner_;
}
QLabel* MainView::descriptionLabel() const {
    return description_;
}
QWidget* MainView::inputFrame() const {
    return inputFrame_;
}
QDialog* MainView::modelSheet() const {
    return overlays_->modelSheet();
}
ModelManagerView* MainView::modelManager() const {
    return overlays_->modelManager();
}
QMessageBox* MainView::generalAlert() const {
    return overlays_->generalAlert();
}
QMessageBox* MainView::loadAlert() const {
    return overlays_->loadAlert();
}
QDialog* MainView::welcomeSheet() const {
    return overlays_->welcomeSheet();
}
WelcomeView* MainView::welcomeView() const {
    return overlays_->welcomeView();
}

// ---- header ------------------------------------------------------------------------------

void MainView::rebuildModelMenu() {
    modelMenu_->setModels(model_->availableModels());
    modelMenu_->setModelStates(model_->modelStates());
    modelMenu_->setCurrentModel(model_->selectedModel());
}

void MainView::updateModelButton() {
    const std::optional<QString>& selected = model_->selectedModel();
    modelMenu_->setCurrentModel(selected);
    const int room = modelMenuWidth - 24 - 20;  // padding and the menu arrow
    if (!selected) {
        modelButton_->setText(tr("Select Model"));
        modelButton_->setToolTip(tr("Select Model"));
        modelButton_->setAccessibleName(tr("Model: none selected"));
        return;
    }
    modelButton_->setAccessibleName(tr("Model: %1").arg(views::displayName(*selected)));
    // Cut to fit first, then '&' doubled: the button reads it as a shortcut marker.
    modelButton_->setText(views::withLiteralAmpersands(
        views::displayName(*selected, modelButton_->fontMetrics(), room)));
    modelButton_->setToolTip(views::plainToolTip(views::displayName(*selected)));
}

void MainView::updateDescription() {
    const QString& text = model_->conversationDescription();
    if (text.isEmpty())
        description_->setFullText(tr("No description"), true);
    else
        description_->setFullText(text, false);
    description_->setAccessibleName(description_->toolTip());
}

// ---- input ---------------------------------------------------------------------------------

void MainView::updateSendButton() {
    const bool replying = model_->inSendingMessage();
    send_->setText(replying ? tr("Stop") : tr("Send"));
    send_->setToolTip(
        replying ? tr("Stop the reply (%1)")
                       .arg(QKeySequence(Qt::Key_Escape).toString(QKeySequence::NativeText))
                 : QString());
    send_->setEnabled(replying || sendEnabled(model_->inputText(), false) ||
                      !model_->pendingImages().isEmpty());
    send_->setAccessibleDescription(replying ? tr("Stops the reply being written")
                                             : tr("Sends the message in the input box"));
}

void MainView::setTextHeight(qreal height) {
    textHeight_ = height;
    inputFrame_->setFixedHeight(CustomTextView::boxHeight(textHeight_));
}

// ---- sidebar -------------------------------------------------------------------------------

void MainView::sidebarSelectionChanged(const SidebarID& id) {
    if (!(model_->selectedConversation() == id)) model_->setSelectedConversation(id);
    if (id.isNewConversation()) {
        model_->setCurrentConversation(nullptr);
        model_->setConversationDescription(ZoruveVede::newConversationTitle);
    } else {
        model_->selectConversation(id);
    }
}

// A conversation chosen with the mouse (a press that changed the selection) or with
// Return hands the keyboard to the input box; the arrow keys leave it in the list. Only
// the watched objects' addresses are compared, and only for the events looked at: the
// filter also sees the events sent while the sidebar is being destroyed.
bool MainView::sidebarEvent(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::KeyPress)
        return false;
    if (watched == sidebarViewport_) {
        if (type == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            sidebarPressSelection_ = model_->selectedConversation();
        } else if (type == QEvent::MouseButtonRelease && sidebarPressSelection_) {
            const bool chosen = !(*sidebarPressSelection_ == model_->selectedConversation());
            sidebarPressSelection_.reset();
            if (chosen && !sidebar_->editingConversation()) focusInput();
        }
    } else if (watched == sidebarList_ && type == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers() == Qt::NoModifier) {
            focusInput();
            return true;
        }
    }
    return false;
}

void MainView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    applySidebarVisibility();
}

bool MainView::sidebarShown() const {
    return !sidebar_->isHidden();
}

void MainView::setSidebarShown(bool shown) {
    // Only a choice the width would not make is kept: choosing what the width shows
    // hands the sidebar back to the width.
    if (shown == (width() >= sidebarCollapseWidth))
        sidebarChoice_.reset();
    else
        sidebarChoice_ = shown;
    const std::unique_ptr<QSettings> settings = model_->settings();
    if (sidebarChoice_)
        settings->setValue(sidebarChoiceKey, *sidebarChoice_);
    else
        settings->remove(sidebarChoiceKey);
    applySidebarVisibility();
}

void MainView::applySidebarVisibility() {
    if (!sidebarAction_) return;  // still being built
    const bool shown = sidebarChoice_.value_or(width() >= sidebarCollapseWidth);
    // The keyboard does not stay in a sidebar that goes away.
    if (!shown && sidebar_->isAncestorOf(window()->focusWidget())) focusInput();
    sidebar_->setHidden(!shown);
    sidebarAction_->setChecked(shown);
    const QString keys = sidebarAction_->shortcut().toString(QKeySequence::NativeText);
    const QString name = shown ? tr("Hide Sidebar") : tr("Show Sidebar");
    sidebarButton_->setToolTip(tr("%1 (%2)").arg(name, keys));
    sidebarButton_->setAccessibleName(name);
}

}  // namespace parlote
