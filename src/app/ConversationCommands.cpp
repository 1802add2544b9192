#include "ConversationCommands.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <algorithm>

#include "ConversationListView.h"
#include "CustomTextView.h"
#include "MainView.h"
#include "ShortcutsWindow.h"
#include "ZoruveVede.h"

namespace parlote {

namespace {

/// The last reply of the model in `messages`, searched from the end (where it usually is).
const ChatMessage* lastReply(const MessageList& messages) {
    for (qsizetype i = messages.size() - 1; i >= 0; --i)
        if (messages.at(i).type() == ChatMessageType::assistant) return &messages.at(i);
    return nullptr;
}

}  // namespace

ConversationCommands::ConversationCommands(MainView* view) : QObject(view), view_(view) {
    using Group = ShortcutsWindow::Group;
    ZoruveVede& model = view_->viewModel();

    newConversation_ = make(QStringLiteral("document-new"), tr("&New Conversation"));
    newConversation_->setShortcut(QKeySequence::New);
    ShortcutsWindow::setGroup(newConversation_, Group::Conversation);
    connect(newConversation_, &QAction::triggered, this, [this] {
        selectRow(0);
        view_->focusInput();
    });

    search_ = make(QStringLiteral("edit-find"), tr("Searc&h Conversations…"));
    search_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    ShortcutsWindow::setGroup(search_, Group::Conversation);
    connect(search_, &QAction::triggered, this, [this] { view_->focusSearch(); });

    stop_ = make(QStringLiteral("process-stop"), tr("&Stop"));
    stop_->setShortcut(QKeySequence(Qt::Key_Escape));
    ShortcutsWindow::setGroup(stop_, Group::Conversation, tr("while a reply is written"));
    connect(stop_, &QAction::triggered, this, [this] {
        view_->viewModel().stopReply();
        view_->focusInput();
    });

    regenerate_ = make(QStringLiteral("view-refresh"), tr("&Regenerate"));
    regenerate_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    ShortcutsWindow::setGroup(regenerate_, Group::Conversation);
    connect(regenerate_, &QAction::triggered, this,
            [this] { view_->viewModel().regenerateReply(); });

    editLast_ = make(QStringLiteral("document-edit"), tr("&Edit Last Message"));
    connect(editLast_, &QAction::triggered, this, [this] { view_->editLastMessage(); });

    copyLastReply_ = make(QStringLiteral("edit-copy"), tr("&Copy Last Reply"));
    copyLastReply_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    ShortcutsWindow::setGroup(copyLastReply_, Group::Conversation);
    connect(copyLastReply_, &QAction::triggered, this, [this] {
        if (const ChatMessage* reply = lastReply(view_->viewModel().messages()))
            QGuiApplication::clipboard()->setText(reply->content());
    });

    // Enabled by the view, while a conversation is shown.
    settings_ = view_->conversationSettingsAction();
    ShortcutsWindow::setGroup(settings_, Group::Conversation);
    // Always enabled: pictures can be attached to any message being written.
    attachPicture_ = view_->attachPictureAction();
    ShortcutsWindow::setGroup(attachPicture_, Group::Conversation);

    rename_ = make(QStringLiteral("edit-rename"), tr("Rena&me…"));
    rename_->setShortcut(QKeySequence(Qt::Key_F2));
    ShortcutsWindow::setGroup(rename_, Group::Sidebar);
    connect(rename_, &QAction::triggered, this,
            [this] { view_->sidebar()->startRename(view_->viewModel().selectedConversation()); });

    pin_ = make(QStringLiteral("window-pin"), tr("P&in Conversation"));
    pin_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    ShortcutsWindow::setGroup(pin_, Group::Sidebar);
    connect(pin_, &QAction::triggered, this, [this] {
        ZoruveVede& model = view_->viewModel();
        const SidebarID selected = model.selectedConversation();
        for (const Conversation& entry : model.conversations())
            if (entry.id() == selected) model.setPinned(selected, !entry.pinned());
    });

    // Delete belongs to the sidebar: anywhere else the key is a text field's.
    remove_ = make(QStringLiteral("edit-delete"), tr("&Delete…"));
    remove_->setShortcut(QKeySequence(QKeySequence::Delete));
    remove_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ShortcutsWindow::setGroup(remove_, Group::Sidebar, tr("in the sidebar"));
    connect(remove_, &QAction::triggered, this,
            [this] { view_->sidebar()->askDelete(view_->viewModel().selectedConversation()); });

    previous_ = make(QStringLiteral("go-up"), tr("&Previous Conversation"));
    previous_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageUp));
    ShortcutsWindow::setGroup(previous_, Group::Sidebar);
    connect(previous_, &QAction::triggered, this, [this] {
        selectRow(selectedRow() - 1);
        view_->focusInput();
    });

    next_ = make(QStringLiteral("go-down"), tr("Ne&xt Conversation"));
    next_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_PageDown));
    ShortcutsWindow::setGroup(next_, Group::Sidebar);
    connect(next_, &QAction::triggered, this, [this] {
        selectRow(selectedRow() + 1);
        view_->focusInput();
    });

    focusInput_ = make(QString(), tr("&Focus Input"));
    focusInput_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    ShortcutsWindow::setGroup(focusInput_, Group::Input);
    connect(focusInput_, &QAction::triggered, this, [this] { view_->focusInput(); });

    for (QAction* action : menuLayout())
        if (action && action != remove_) view_->addAction(action);
    view_->sidebar()->listView()->addAction(remove_);
    view_->installEventFilter(this);

    for (auto signal : {&ZoruveVede::inSendingMessageChanged, &ZoruveVede::messagesChanged,
                        &ZoruveVede::selectedConversationChanged, &ZoruveVede::conversationsChanged,
                        &ZoruveVede::conversationOpened})
        connect(&model, signal, this, &ConversationCommands::updateEnabled);
    updateEnabled();
}

QAction* ConversationCommands::make(const QString& iconName, const QString& text) {
    auto* action = new QAction(text, this);
    if (!iconName.isEmpty()) action->setIcon(QIcon::fromTheme(iconName));
    return action;
}

QList<QAction*> ConversationCommands::menuLayout() const {
    return {newConversation_, search_,   nullptr,   stop_,   regenerate_, editLast_, copyLastReply_,
            attachPicture_,   nullptr,   settings_, nullptr, pin_,        rename_,   remove_,
            nullptr,          previous_, next_,     nullptr, focusInput_};
}

void ConversationCommands::updateEnabled() {
    const ZoruveVede& model = view_->viewModel();
    const int row = selectedRow();
    const bool inConversation = row > 0;
    stop_->setEnabled(model.inSendingMessage());
    regenerate_->setEnabled(model.canRegenerate());
    editLast_->setEnabled(view_->canEditLastMessage());
    copyLastReply_->setEnabled(lastReply(model.messages()) != nullptr);
    rename_->setEnabled(inConversation);
    remove_->setEnabled(inConversation);
    pin_->setEnabled(inConversation);
    const QList<Conversation>& list = model.conversations();
    const SidebarID& selected = model.selectedConversation();
    const bool pinned = std::any_of(list.begin(), list.end(), [&](const Conversation& c) {
        return c.id() == selected && c.pinned();
    });
    pin_->setText(pinned ? tr("&Unpin Conversation") : tr("P&in Conversation"));
    previous_->setEnabled(row > 0);
    next_->setEnabled(row < model.conversations().size());
}

int ConversationCommands::selectedRow() const {
    const ZoruveVede& model = view_->viewModel();
    const SidebarID& selected = model.selectedConversation();
    if (selected.isNewConversation()) return 0;
    // Counted without copying the list: this runs for every change of the transcript.
    const QList<Conversation>& list = model.conversations();
    const auto at = std::find_if(list.begin(), list.end(),
                                 [&](const Conversation& c) { return c.id() == selected; });
    if (at == list.end()) return -1;
    const bool pinned = at->pinned();
    // Pinned ones come first: before a pinned one, the pinned ones above it; before another,
    // every pinned one and the others above it.
    int row = 1;
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->pinned() ? (!pinned || it < at) : (!pinned && it < at)) ++row;
    return row;
}

void ConversationCommands::selectRow(int row) {
    ZoruveVede& model = view_->viewModel();
    const QList<Conversation> rows = pinnedFirst(model.conversations());
    if (row < 0 || row > rows.size()) return;
    // As a click in the sidebar does: the sidebar follows the model's selection and
    // reports the change, and the view opens the conversation.
    model.setSelectedConversation(row == 0 ? SidebarID::newConversation() : rows[row - 1].id());
}

bool ConversationCommands::ownsEscape(const QWidget* widget) const {
    if (!widget || widget == view_->input()->textView()) return false;
    if (auto* line = qobject_cast<const QLineEdit*>(widget)) return !line->isReadOnly();
    if (auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) return !plain->isReadOnly();
    if (auto* rich = qobject_cast<const QTextEdit*>(widget)) return !rich->isReadOnly();
    return false;
}

bool ConversationCommands::eventFilter(QObject* watched, QEvent* event) {
    // Qt offers a key to the focused widget and its parents as ShortcutOverride before
    // it tries the shortcuts; accepting it here hands Escape to a text field of its own.
    if (watched == view_ && event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier &&
            ownsEscape(QApplication::focusWidget())) {
            key->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace parlote
