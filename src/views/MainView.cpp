#include "MainView.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ConversationListView.h"
#include "CustomTextView.h"
#include "DisplayName.h"
#include "MarkdownStyle.h"
#include "ModelManagerView.h"
#include "ModelMenu.h"
#include "StorageBar.h"
#include "TranscriptView.h"
#include "WelcomeView.h"

namespace parlote {

const QString MainView::notRunningText =
    QStringLiteral("Ollama is not running. Please open the Ollama app before continuing.");
const QString MainView::loadAlertTitle = QStringLiteral("Waiting on Ollama…");
const QString MainView::loadAlertMessage = QStringLiteral(
    "It looks like Ollama isn’t running. Please launch the Ollama app, then press ‘Retry’ to "
    "continue.");

namespace {

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

// A window-modal dialog that hosts a sheet's content. The welcome sheet has one way out,
// its own button: Escape does nothing there, and closing the window counts as that button.
class SheetDialog : public QDialog {
public:
    SheetDialog(QWidget* parent, std::function<void()> onClose, bool escapeCloses)
        : QDialog(parent), onClose_(std::move(onClose)), escapeCloses_(escapeCloses) {
        setWindowModality(Qt::WindowModal);
    }
    void reject() override {
        if (escapeCloses_ && onClose_) onClose_();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (onClose_) onClose_();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && !escapeCloses_) return;
        QDialog::keyPressEvent(event);
    }

private:
    std::function<void()> onClose_;
    bool escapeCloses_;
};

}  // namespace

namespace views_detail {

// The warning strip over the whole window while Ollama does not answer: a yellow tint at
// opacity 0.2 with an orange outline at opacity 0.5 drawn inside its bounds.
class Banner : public QWidget {
public:
    explicit Banner(QWidget* parent) : QWidget(parent) {
        setFixedHeight(MainView::bannerHeight);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(16, 0, 16, 0);
        auto* icon = new QLabel(this);
        icon->setPixmap(
            QIcon::fromTheme(QStringLiteral("dialog-warning"),
                             QIcon(QStringLiteral(":/resources/icons/dialog-warning.svg")))
                .pixmap(16, 16));
        text_ = new QLabel(MainView::notRunningText, this);
        text_->setForegroundRole(QPalette::WindowText);
        row->addWidget(icon);
        row->addWidget(text_);
        row->addStretch(1);
    }
    QLabel* text() const { return text_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), withAlpha(QColor(Qt::yellow), 0.2));
        painter.setPen(withAlpha(QColor(255, 165, 0), 0.5));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }

private:
    QLabel* text_;
};

// One line of text, cut with an ellipsis when it does not fit, aligned to the right.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text, bool secondary) {
        full_ = text;
        secondary_ = secondary;
        setProperty("secondary", secondary);
        setToolTip(text);
        update();
    }
    QSize minimumSizeHint() const override { return QSize(0, fontMetrics().height()); }
    QSize sizeHint() const override {
        return QSize(fontMetrics().horizontalAdvance(full_) + 4, fontMetrics().height());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(secondary_ ? secondaryTextColor(palette())
                                  : palette().color(QPalette::WindowText));
        QString line = full_;
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter,
                         fontMetrics().elidedText(line, Qt::ElideRight, width()));
    }

private:
    QString full_;
    bool secondary_ = false;
};

// The input box's surround: 8 pixels of padding, the text background colour and a
// rounded outline in gray at opacity 0.5.
class InputFrame : public QWidget {
public:
    explicit InputFrame(QWidget* parent) : QWidget(parent) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(8, 8, 8, 8);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        painter.fillPath(outline, palette().color(QPalette::Base));
        painter.setPen(QPen(withAlpha(QColor(128, 128, 128), 0.5), 1));
        painter.drawPath(outline);
    }
};

}  // namespace views_detail

MainView::MainView(ZoruveVedeServices services, QWidget* parent, ImageStore* images)
    : QWidget(parent) {
    urlOpener_ = desktopLinkOpener();
    setMinimumSize(minimumWidth, minimumHeight);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    banner_ = new views_detail::Banner(this);
    banner_->hide();
    column->addWidget(banner_);
    storageBar_ = new StorageBar(this);
    column->addWidget(storageBar_);

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

    modelSheetDialog_ = new SheetDialog(
        this, [this] { setShowModelPopover(false); }, true);
    modelSheetDialog_->setWindowTitle(tr("Models"));
    auto* sheetLayout = new QVBoxLayout(modelSheetDialog_);
    sheetLayout->setContentsMargins(0, 0, 0, 0);
    modelManager_ = new ModelManagerView(modelSheetDialog_);
    sheetLayout->addWidget(modelManager_);

    // The model starts (reads the conversation list, asks Ollama for models) once the
    // window is ready to show what it finds.
    model_ = std::make_unique<ZoruveVede>(std::move(services));
    connectModel();
    setUrlOpener(urlOpener_);

    setTabOrder(sidebar_, modelButton_);
    setTabOrder(modelButton_, transcript_);
    setTabOrder(transcript_, input_->textView());
    setTabOrder(input_->textView(), send_);
}

MainView::~MainView() {
    // Nothing the model still emits may reach widgets being destroyed, and the overlays
    // go first: their signals must not reach a model that is being destroyed.
    disconnect(model_.get(), nullptr, this, nullptr);
    delete modelSheetDialog_;
    if (welcomeSheet_) delete welcomeSheet_.data();
    if (generalAlert_) delete generalAlert_.data();
    if (loadAlert_) delete loadAlert_.data();
    delete splitter_;
}

QWidget* MainView::buildChatPane() {
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader(pane));
    transcript_->setParent(pane);
    column->addWidget(transcript_, 1);
    column->addWidget(buildInputRow(pane));
    return pane;
}

QWidget* MainView::buildHeader(QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(10, 10, 10, 10);
    modelButton_ = new QToolButton(header);
    modelButton_->setObjectName(QStringLiteral("modelMenuButton"));
    modelButton_->setFixedWidth(modelMenuWidth);
    modelButton_->setPopupMode(QToolButton::InstantPopup);
    modelButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    modelButton_->setFocusPolicy(Qt::StrongFocus);
    modelButton_->setStyleSheet(QStringLiteral(
        "QToolButton#modelMenuButton { padding: 6px 12px; border: none; border-radius: 6px;"
        " background: rgba(128, 128, 128, 26); text-align: left; }"
        "QToolButton#modelMenuButton:focus { border: 1px solid palette(highlight); }"
        "QToolButton#modelMenuButton::menu-indicator { subcontrol-position: right center;"
        " subcontrol-origin: padding; right: 4px; }"));
    modelMenu_ = new ModelMenu(modelMenuWidth, modelButton_);
    modelButton_->setMenu(modelMenu_);
    connect(modelMenu_, &ModelMenu::modelChosen, this,
            [this](const QString& id) { model_->setSelectedModel(id); });
    connect(modelMenu_, &ModelMenu::manageRequested, this, [this] { setShowModelPopover(true); });
    row->addWidget(modelButton_);
    row->addStretch(1);
    description_ = new views_detail::ElidedLabel(header);
    description_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    row->addWidget(description_, 1);
    return header;
}

QWidget* MainView::buildInputRow(QWidget* parent) {
    auto* inputRow = new QWidget(parent);
    auto* row = new QHBoxLayout(inputRow);
    row->setContentsMargins(10, 10, 10, 10);
    inputFrame_ = new views_detail::InputFrame(inputRow);
    input_ = new CustomTextView(inputFrame_);
    inputFrame_->layout()->addWidget(input_);
    inputFrame_->setFixedHeight(CustomTextView::boxHeight(textHeight_));
    row->addWidget(inputFrame_, 1);
    send_ = new QPushButton(tr("Send"), inputRow);
    send_->setEnabled(false);
    row->addWidget(send_, 0, Qt::AlignVCenter);
    return inputRow;
}

void MainView::connectModel() {
    ZoruveVede* m = model_.get();

    // Banner.
    connect(m, &ZoruveVede::ollamaRunningChanged, this,
            [this] { banner_->setVisible(!model_->ollamaRunning()); });
    banner_->setVisible(!m->ollamaRunning());

    // Saving problems: shown until everything is on disk, with a way to try again.
    connect(m, &ZoruveVede::storageProblemChanged, this,
            [this] { storageBar_->setProblem(model_->storageProblem()); });
    connect(storageBar_, &StorageBar::retryRequested, m, &ZoruveVede::retrySaving);
    storageBar_->setProblem(m->storageProblem());

    // Sidebar, bound both ways to the list and the selection.
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
    sidebar_->setConversations(m->conversations());
    sidebar_->setSelectedConversation(m->selectedConversation());

    // Header.
    connect(m, &ZoruveVede::availableModelsChanged, this, [this] {
        rebuildModelMenu();
        modelManager_->setModels(model_->availableModels());
    });
    connect(m, &ZoruveVede::selectedModelChanged, this, &MainView::updateModelButton);
    connect(m, &ZoruveVede::conversationDescriptionChanged, this, &MainView::updateDescription);
    rebuildModelMenu();
    updateModelButton();
    updateDescription();

    // Transcript, and following the reply: one scroll for the signals of the chunk stream
    // that are there when the window looks (they arrive on this thread).
    connect(m, &ZoruveVede::messagesChanged, this,
            [this] { transcript_->setMessages(model_->messages()); });
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

    // Input row.
    connect(input_, &CustomTextView::textEdited, this,
            [this](const QString& text) { model_->setInputText(text); });
    connect(m, &ZoruveVede::inputTextChanged, this, [this] {
        input_->setText(model_->inputText());
        updateSendButton();
    });
    connect(input_, &CustomTextView::heightChanged, this, &MainView::setTextHeight);
    connect(m, &ZoruveVede::inSendingMessageChanged, this, &MainView::updateSendButton);
    input_->setOnSubmit([this] { model_->sendMessage(); });
    connect(send_, &QPushButton::clicked, this, [this] { model_->sendMessage(); });
    input_->setText(m->inputText());
    updateSendButton();

    // Model manager.
    connect(m, &ZoruveVede::isInstallingChanged, this, &MainView::updateInstallState);
    connect(m, &ZoruveVede::installationStatusChanged, this, &MainView::updateInstallState);
    connect(m, &ZoruveVede::progressChanged, this, &MainView::updateInstallState);
    connect(m, &ZoruveVede::completeChanged, this, &MainView::updateInstallState);
    connect(modelManager_, &ModelManagerView::addModelRequested, this,
            [this](const QString& name) { model_->startModelInstall(name); });
    connect(modelManager_, &ModelManagerView::deleteModelRequested, this,
            [this](const QString& name) { model_->removeInstalledModel(name); });
    connect(modelManager_, &ModelManagerView::dismissRequested, this,
            [this] { setShowModelPopover(false); });
    connect(modelManager_, &ModelManagerView::alertClosed, this,
            [this] { model_->setShowModalAlert(false); });
    modelManager_->setModels(m->availableModels());
    updateInstallState();

    // Alerts and the welcome sheet.
    connect(m, &ZoruveVede::showModalAlertChanged, this, &MainView::updateGeneralAlert);
    connect(m, &ZoruveVede::modalAlertTitleChanged, this, &MainView::updateGeneralAlert);
    connect(m, &ZoruveVede::modalAlertMessageChanged, this, &MainView::updateGeneralAlert);
    connect(m, &ZoruveVede::showLoadAlertChanged, this, &MainView::updateLoadAlert);
    connect(m, &ZoruveVede::firstLaunchChanged, this, &MainView::updateWelcomeSheet);
    updateGeneralAlert();
    updateLoadAlert();
    updateWelcomeSheet();
}

bool MainView::sendEnabled(const QString& inputText, bool inSendingMessage) {
    return !inputText.trimmed().isEmpty() && !inSendingMessage;
}

void MainView::setUrlOpener(LinkOpener opener) {
    urlOpener_ = std::move(opener);
    transcript_->setUrlOpener(urlOpener_);
    modelManager_->setUrlOpener(urlOpener_);
    if (welcomeView_) welcomeView_->setUrlOpener(urlOpener_);
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
    return showModelPopover_ ? modelSheetDialog_ : nullptr;
}
QDialog* MainView::welcomeSheet() const {
    return welcomeSheet_;
}
QMessageBox* MainView::generalAlert() const {
    return generalAlert_;
}
QMessageBox* MainView::loadAlert() const {
    return loadAlert_;
}
WelcomeView* MainView::welcomeView() const {
    return welcomeView_;
}

// ---- header ------------------------------------------------------------------------------

void MainView::rebuildModelMenu() {
    modelMenu_->setModels(model_->availableModels());
}

void MainView::updateModelButton() {
    const std::optional<QString>& selected = model_->selectedModel();
    const int room = modelMenuWidth - 24 - 20;  // padding and the menu arrow
    if (!selected) {
        modelButton_->setText(tr("Select Model"));
        modelButton_->setToolTip(tr("Select Model"));
        return;
    }
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
}

// ---- input ---------------------------------------------------------------------------------

void MainView::updateSendButton() {
    send_->setEnabled(sendEnabled(model_->inputText(), model_->inSendingMessage()));
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

// ---- overlays ------------------------------------------------------------------------------

void MainView::setShowModelPopover(bool show) {
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
}

void MainView::updateInstallState() {
    modelManager_->setInstallState(model_->isInstalling(), model_->installationStatus(),
                                   model_->progress(), model_->complete());
}

void MainView::updateGeneralAlert() {
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
        modelManager_->showAlert(title, message);
        return;
    }
    if (!generalAlert_) {
        auto* box = new QMessageBox(this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->setIcon(QMessageBox::Warning);
        box->setTextFormat(Qt::PlainText);
        QPushButton* ok = box->addButton(tr("OK"), QMessageBox::AcceptRole);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
        connect(box, &QDialog::finished, this, [this] {
            generalAlert_ = nullptr;  // deleted later; a new alert needs a new box
            if (!movingGeneralAlert_ && model_->showModalAlert()) model_->setShowModalAlert(false);
        });
        generalAlert_ = box;
        box->open();
    }
    // The texts may quote a model's name: shown so that it cannot pass for another.
    generalAlert_->setWindowTitle(views::displayMessage(title));
    generalAlert_->setText(views::displayMessage(title));
    generalAlert_->setInformativeText(views::displayMessage(message));
}

void MainView::updateLoadAlert() {
    if (!model_->showLoadAlert()) {
        if (loadAlert_) {
            closingLoadAlert_ = true;
            loadAlert_->close();
            closingLoadAlert_ = false;
        }
        return;
    }
    if (loadAlert_) return;
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(loadAlertTitle);
    box->setText(loadAlertTitle);
    box->setInformativeText(loadAlertMessage);
    QPushButton* retry = box->addButton(tr("Retry"), QMessageBox::AcceptRole);
    box->setDefaultButton(retry);
    box->setEscapeButton(retry);
    // "Retry" is its one button: Escape and the window's close button mean it too. Only a
    // close on the model's behalf (the flag went false) checks nothing.
    connect(box, &QDialog::finished, this, [this] {
        loadAlert_ = nullptr;  // deleted later; a new alert needs a new box
        if (closingLoadAlert_) return;
        if (model_->showLoadAlert()) model_->setShowLoadAlert(false);
        model_->refreshOllamaStatus();
    });
    loadAlert_ = box;
    box->open();
}

void MainView::updateWelcomeSheet() {
    if (!model_->firstLaunch()) {
        if (welcomeSheet_) {
            welcomeSheet_->hide();
            welcomeSheet_->deleteLater();
            welcomeSheet_ = nullptr;
            welcomeView_ = nullptr;
        }
        return;
    }
    if (welcomeSheet_) return;
    // Made anew each time it is presented: the document is read again.
    auto* dialog = new SheetDialog(
        this, [this] { model_->dismissWelcome(); }, false);
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
