#include "ZoruveVede.h"

#include <QSettings>

namespace parlote {

const QString ZoruveVede::newConversationTitle = QStringLiteral("New Conversation");
const QString ZoruveVede::hasLaunchedKey = QStringLiteral("hasLaunched");
const QString ZoruveVede::selectedModelKey = QStringLiteral("selectedModel");

ZoruveVedeServices ZoruveVedeServices::standard() {
    ZoruveVedeServices services;
    services.pool = &ConversationPool::shared();
    return services;
}

ZoruveVede::ZoruveVede(ZoruveVedeServices services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      pool_(*services_.pool),
      store_(*pool_.context().store),
      bridge_(*pool_.context().bridge) {
    try {
        conversations_ = store_.loadTOC();
    } catch (const std::exception&) {
        conversations_.clear();  // a damaged list was kept aside by the store
    }
    setCurrentConversation(nullptr);
    setConversationDescription(newConversationTitle);

    // The start-up task runs once construction has finished.
    post(alive_, [this] { startUp(); });

    timer_ = std::make_unique<QTimer>();
    timer_->setInterval(services_.watchInterval);
    connect(timer_.get(), &QTimer::timeout, this, &ZoruveVede::refreshOllamaStatus);
    timer_->start();

    NotificationCenter& notifications = *pool_.context().notifications;
    notifications.observe(kLastMessageUpdated, alive_,
                          [this](const std::any& object) { applyUpdate(object, false); });
    notifications.observe(kTitleUpdated, alive_,
                          [this](const std::any& object) { applyUpdate(object, true); });
}

ZoruveVede::~ZoruveVede() {
    alive_.reset();  // steps still on their way find the model gone
    cancellables_.clear();
}

std::unique_ptr<QSettings> ZoruveVede::settings() const {
    if (services_.settingsFile.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("Parlote"), QStringLiteral("Parlote"));
    return std::make_unique<QSettings>(services_.settingsFile, QSettings::IniFormat);
}

// Observed fields: every assignment notifies, also when the value is unchanged.

void ZoruveVede::setAvailableModels(QList<ChatModel> models) {
    availableModels_ = std::move(models);
    emit availableModelsChanged();
    validateSelectedModel();
}
void ZoruveVede::setConversations(QList<Conversation> list) {
    conversations_ = std::move(list);
    emit conversationsChanged();
}
void ZoruveVede::setSelectedConversation(SidebarID id) {
    selectedConversation_ = std::move(id);
    emit selectedConversationChanged();
}
void ZoruveVede::setMessages(MessageList messages) {
    messages_ = std::move(messages);
    emit messagesChanged();
}
void ZoruveVede::setInSendingMessage(bool value) {
    inSendingMessage_ = value;
    emit inSendingMessageChanged();
}
void ZoruveVede::setStatusMessage(std::optional<QString> text) {
    statusMessage_ = std::move(text);
    emit statusMessageChanged();
}
void ZoruveVede::setInputText(QString text) {
    inputText_ = std::move(text);
    emit inputTextChanged();
}
void ZoruveVede::setSelectedModel(std::optional<QString> model) {
    selectedModel_ = std::move(model);
    emit selectedModelChanged();
}
void ZoruveVede::setConversationDescription(QString text) {
    conversationDescription_ = std::move(text);
    emit conversationDescriptionChanged();
}
void ZoruveVede::setIsInstalling(bool value) {
    isInstalling_ = value;
    emit isInstallingChanged();
}
void ZoruveVede::setInstallationStatus(QString text) {
    installationStatus_ = std::move(text);
    emit installationStatusChanged();
}
void ZoruveVede::setProgress(qint64 value) {
    progress_ = value;
    emit progressChanged();
}
void ZoruveVede::setComplete(qint64 value) {
    complete_ = value;
    emit completeChanged();
}
void ZoruveVede::setShowModalAlert(bool value) {
    showModalAlert_ = value;
    emit showModalAlertChanged();
}
void ZoruveVede::setModalAlertTitle(QString text) {
    modalAlertTitle_ = std::move(text);
    emit modalAlertTitleChanged();
}
void ZoruveVede::setModalAlertMessage(QString text) {
    modalAlertMessage_ = std::move(text);
    emit modalAlertMessageChanged();
}
void ZoruveVede::setShowLoadAlert(bool value) {
    showLoadAlert_ = value;
    emit showLoadAlertChanged();
}
void ZoruveVede::setFirstLaunch(bool value) {
    firstLaunch_ = value;
    emit firstLaunchChanged();
}
void ZoruveVede::setOllamaRunning(bool value) {
    ollamaRunning_ = value;
    emit ollamaRunningChanged();
}

void ZoruveVede::raiseAlert(const QString& title, const QString& message) {
    setModalAlertTitle(title);
    setModalAlertMessage(message);
    setShowModalAlert(true);
}

void ZoruveVede::yieldChunk() {
    chunk_.second.yield(ChunkSignal{});
    emit chunkArrived();
}

// Binding to the open conversation's manager.

template <class F>
auto ZoruveVede::forBinding(F step) {
    return [this, alive = std::weak_ptr<int>(alive_), binding = binding_, step](auto&&... value) {
        post(alive, [this, binding, step, value...] {
            if (binding_ == binding) step(value...);
        });
    };
}

template <class T, class Apply>
Subscription ZoruveVede::follow(Published<T>& field, Apply apply) {
    auto [subscription, current] =
        field.subscribe(forBinding([this, apply](const T& value) { (this->*apply)(value); }));
    (this->*apply)(current);  // the manager's state now, applied at once
    return std::move(subscription);
}

void ZoruveVede::setCurrentConversation(std::shared_ptr<ConversationManager> manager) {
    currentConversation_ = std::move(manager);
    cancellables_.clear();
    ++binding_;  // whatever the old manager still has on its way is dropped on arrival
    ConversationManager* m = currentConversation_.get();
    if (!m) {
        setMessages(MessageList());
        setInSendingMessage(false);
        setStatusMessage(std::nullopt);
        return;
    }
    cancellables_.push_back(follow(m->messages(), &ZoruveVede::setMessages));
    cancellables_.push_back(follow(m->inSendingMessage(), &ZoruveVede::setInSendingMessage));
    cancellables_.push_back(follow(m->statusMessage(), &ZoruveVede::setStatusMessage));
    cancellables_.push_back(m->chunkUpdated().subscribe(forBinding([this] { yieldChunk(); })));
}

// The two notifications of conversation managers.

void ZoruveVede::applyUpdate(const std::any& object, bool isTitle) {
    const auto* update = std::any_cast<UpdatedMessage>(&object);
    if (!update) return;
    const SidebarID id = SidebarID::conversation(update->id);
    if (isTitle) {
        renameConversation(id, update->string);  // the model's title, as a rename would
        return;
    }
    for (qsizetype i = 0; i < conversations_.size(); ++i) {
        if (conversations_[i].id() != id) continue;
        QList<Conversation> list = conversations_;
        list[i].setLastMessage(update->string);
        setConversations(std::move(list));
        saveConversationList();
        return;
    }
}

void ZoruveVede::saveConversationList() {
    try {
        store_.saveTOC(conversations_);
    } catch (const std::exception&) {
        // The list in memory keeps the change; the next save writes it.
    }
}

void ZoruveVede::applicationWillQuit() {
    timer_->stop();
    pool_.closeAll();
    bridge_.shutdown();
    pool_.context().tasks->waitForAll();
    // Titles and last messages announced before the end still reach "toc.json".
    InterfaceThread::drainNow();
}

}  // namespace parlote
