#include "ZoruveVede.h"

#include <QSet>
#include <QSettings>
#include <algorithm>
#include <mutex>

#include "SearchService.h"

namespace parlote {

const QString ZoruveVede::newConversationTitle = QStringLiteral("New Conversation");
const QString ZoruveVede::hasLaunchedKey = QStringLiteral("hasLaunched");
const QString ZoruveVede::selectedModelKey = QStringLiteral("selectedModel");
const QString ZoruveVede::newConversationSettingsKey = QStringLiteral("newConversations/settings");

ZoruveVedeServices ZoruveVedeServices::standard() {
    ZoruveVedeServices services;
    services.pool = &ConversationPool::shared();
    services.searchIndex = SearchService::defaultIndexPath();
    return services;
}

ZoruveVede::ZoruveVede(ZoruveVedeServices services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      pool_(*services_.pool),
      store_(*pool_.context().store),
      bridge_(*pool_.context().bridge) {
    // While something could not be saved, try again now and then: space may come back
    // without the user doing anything.
    saveRetryTimer_ = std::make_unique<QTimer>();
    saveRetryTimer_->setInterval(std::chrono::seconds(15));
    connect(saveRetryTimer_.get(), &QTimer::timeout, this, &ZoruveVede::retrySaving);

    // Drafts are written a moment after typing pauses, not at every key.
    draftTimer_ = std::make_unique<QTimer>();
    draftTimer_->setSingleShot(true);
    draftTimer_->setInterval(std::chrono::milliseconds(800));
    connect(draftTimer_.get(), &QTimer::timeout, this, &ZoruveVede::saveDrafts);
    drafts_ = store_.loadDrafts();

    undoTimer_ = std::make_unique<QTimer>();
    undoTimer_->setSingleShot(true);
    undoTimer_->setInterval(std::chrono::seconds(8));
    connect(undoTimer_.get(), &QTimer::timeout, this, &ZoruveVede::finishDeletion);
    inputText_ = drafts_.value(selectedConversation_.id());

    try {
        conversations_ = store_.loadTOC();
    } catch (const std::exception&) {
        conversations_.clear();  // a damaged list was kept aside by the store
    }
    // Drafts of conversations no longer in the list go, with the pictures attached to them.
    QSet<QString> known{SidebarID::newConversation().id()};
    for (const Conversation& c : std::as_const(conversations_)) known.insert(c.id().id());
    drafts_.removeIf([&](auto it) { return !known.contains(it.key()); });
    draftImages_ = store_.loadDraftPictures();
    draftImages_.removeIf([&](auto it) { return !known.contains(it.key()); });
    pendingImages_ = draftImages_.take(selectedConversation_.id());
    setCurrentConversation(nullptr);
    setConversationDescription(newConversationTitle);
    startSearch();

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
    notifications.observe(kSaveStateChanged, alive_,
                          [this](const std::any& object) { applySaveState(object); });
    notifications.observe(kConversationSaved, alive_,
                          [this](const std::any& object) { applySavedTranscript(object); });
}

ZoruveVede::~ZoruveVede() {
    if (draftTimer_->isActive()) saveDrafts();
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
    // The text being typed stays with the conversation it was typed in.
    const bool switching = !(id == selectedConversation_);
    if (switching) {
        if (inputText_.isEmpty()) {
            drafts_.remove(selectedConversation_.id());
        } else {
            drafts_.insert(selectedConversation_.id(), inputText_);
        }
    }
    if (switching) {
        if (pendingImages_.isEmpty())
            draftImages_.remove(selectedConversation_.id());
        else
            draftImages_.insert(selectedConversation_.id(), pendingImages_);
    }
    selectedConversation_ = std::move(id);
    emit selectedConversationChanged();
    if (switching) {
        setInputText(drafts_.value(selectedConversation_.id()));
        setPendingImages(draftImages_.take(selectedConversation_.id()));
    }
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
void ZoruveVede::applyConversationSettings(ConversationSettings settings) {
    conversationSettings_ = std::move(settings);
    emit conversationSettingsChanged();
}
void ZoruveVede::setInputText(QString text) {
    const bool changed = text != inputText_;
    inputText_ = std::move(text);
    emit inputTextChanged();
    if (!changed) return;
    if (inputText_.isEmpty()) {
        drafts_.remove(selectedConversation_.id());
    } else {
        drafts_.insert(selectedConversation_.id(), inputText_);
    }
    draftTimer_->start();
}

void ZoruveVede::saveDrafts() {
    draftTimer_->stop();
    store_.saveDrafts(drafts_);  // a draft that cannot be written is not worth an alarm
    QHash<QString, QStringList> pictures = draftImages_;
    if (!pendingImages_.isEmpty()) pictures.insert(selectedConversation_.id(), pendingImages_);
    store_.saveDraftPictures(pictures);
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

void ZoruveVede::setDownloadBytes(qint64 completed, qint64 total) {
    downloadCompleted_ = completed;
    downloadTotal_ = total;
    emit downloadBytesChanged();
}
void ZoruveVede::setInstallOutcome(InstallOutcome outcome) {
    installOutcome_ = outcome;
    emit installOutcomeChanged();
}

void ZoruveVede::raiseAlert(const QString& title, const QString& message, AlertKind kind) {
    // The kind first: whoever shows the alert when its flag turns on finds it set.
    modalAlertKind_ = kind;
    emit modalAlertKindChanged();
    setModalAlertTitle(title);
    setModalAlertMessage(message);
    setShowModalAlert(true);
}

void ZoruveVede::yieldChunk() {
    chunk_.second.yield(ChunkSignal{});
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

struct ZoruveVede::TranscriptMailbox {
    std::mutex mutex;
    std::optional<MessageList> messages;
    bool chunk = false;
    bool scheduled = false;
};

void ZoruveVede::deliverTranscript(const std::shared_ptr<TranscriptMailbox>& mailbox,
                                   std::uint64_t binding) {
    std::optional<MessageList> messages;
    bool chunk;
    {
        std::lock_guard lock(mailbox->mutex);
        messages.swap(mailbox->messages);
        chunk = std::exchange(mailbox->chunk, false);
        mailbox->scheduled = false;
    }
    if (binding_ != binding) return;
    if (messages) setMessages(std::move(*messages));
    if (chunk) yieldChunk();
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
        applyConversationSettings({});
        emit conversationOpened();
        updateStorageProblem();  // "this conversation" is no longer open
        return;
    }
    // The transcript and its chunk signals go through one mailbox, so that a burst of
    // chunks costs the interface thread one update, not one per chunk.
    auto mailbox = std::make_shared<TranscriptMailbox>();
    auto schedule = [this, alive = std::weak_ptr<int>(alive_), binding = binding_,
                     mailbox](auto&& change) {
        bool first;
        {
            std::lock_guard lock(mailbox->mutex);
            change(*mailbox);
            first = !std::exchange(mailbox->scheduled, true);
        }
        if (first) post(alive, [this, mailbox, binding] { deliverTranscript(mailbox, binding); });
    };
    auto [messagesSubscription, current] =
        m->messages().subscribe([schedule](const MessageList& list) {
            schedule([&](TranscriptMailbox& box) { box.messages = list; });
        });
    cancellables_.push_back(std::move(messagesSubscription));
    setMessages(std::move(current));
    emit conversationOpened();
    cancellables_.push_back(follow(m->inSendingMessage(), &ZoruveVede::setInSendingMessage));
    cancellables_.push_back(follow(m->statusMessage(), &ZoruveVede::setStatusMessage));
    cancellables_.push_back(follow(m->settings(), &ZoruveVede::applyConversationSettings));
    cancellables_.push_back(m->chunkUpdated().subscribe(
        [schedule] { schedule([](TranscriptMailbox& box) { box.chunk = true; }); }));
    updateStorageProblem();  // "this conversation" now means another one
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
    QString error;
    try {
        store_.saveTOC(conversations_);
    } catch (const StoreError& e) {
        // The list in memory keeps the change; the next change or a retry writes it.
        error = e.reason().isEmpty() ? QString::fromUtf8(e.what()) : e.reason();
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    listSaveError_ = error;
    updateStorageProblem();  // also after a deletion: its unsaved words no longer count
}

// Saving failures: shown in the window, tried again, never silent.

void ZoruveVede::applySaveState(const std::any& object) {
    const auto* update = std::any_cast<UpdatedMessage>(&object);
    if (!update) return;
    if (update->string.isEmpty())
        unsavedConversations_.remove(update->id);
    else
        unsavedConversations_.insert(update->id, update->string);
    updateStorageProblem();
}

void ZoruveVede::updateStorageProblem() {
    // Only conversations still in the list count: a deleted one's words are gone anyway.
    for (auto it = unsavedConversations_.begin(); it != unsavedConversations_.end();) {
        const SidebarID id = SidebarID::conversation(it.key());
        const bool listed = std::any_of(conversations_.begin(), conversations_.end(),
                                        [&](const Conversation& c) { return c.id() == id; });
        it = listed ? std::next(it) : unsavedConversations_.erase(it);
    }
    QString text;
    const QUuid current = currentConversation_ ? currentConversation_->id() : QUuid();
    if (!current.isNull() && unsavedConversations_.contains(current)) {
        text = tr("Could not save this conversation: %1").arg(unsavedConversations_.value(current));
    } else if (!unsavedConversations_.isEmpty()) {
        const QString reason = unsavedConversations_.begin().value();
        text = unsavedConversations_.size() == 1
                   ? tr("Could not save another conversation: %1").arg(reason)
                   : tr("Could not save %1 other conversations: %2")
                         .arg(unsavedConversations_.size())
                         .arg(reason);
    } else if (!listSaveError_.isEmpty()) {
        text = tr("Could not save the conversation list: %1").arg(listSaveError_);
    }
    if (text.isEmpty())
        saveRetryTimer_->stop();
    else if (!saveRetryTimer_->isActive())
        saveRetryTimer_->start();
    if (text == storageProblem_) return;
    storageProblem_ = text;
    emit storageProblemChanged();
}

void ZoruveVede::retrySaving() {
    if (!listSaveError_.isEmpty()) saveConversationList();
    for (const QUuid& id : unsavedConversations_.keys()) {
        if (!pool_.contains(id)) continue;
        std::shared_ptr<ConversationManager> manager = pool_.managerFor(id);
        // A successful write posts its new state, which clears the bar.
        pool_.context().tasks->start([manager] { manager->retrySave(); });
    }
}

QStringList ZoruveVede::unsavedAfterLastTry() {
    if (!listSaveError_.isEmpty()) saveConversationList();
    QStringList titles;
    for (const QUuid& id : unsavedConversations_.keys()) {
        if (pool_.contains(id) && pool_.managerFor(id)->retrySave()) continue;
        const SidebarID sidebarId = SidebarID::conversation(id);
        for (const Conversation& c : conversations_)
            if (c.id() == sidebarId) titles.append(c.title());
    }
    if (!listSaveError_.isEmpty()) titles.append(tr("the conversation list"));
    return titles;
}

// Search: the index is opened and brought up to date on its own thread; the model tells it
// of each change it makes, in the order it makes them.

void ZoruveVede::startSearch() {
    if (services_.searchIndex.isEmpty()) return;
    search_ = std::make_unique<SearchService>(services_.searchIndex, store_);
    search_->rebuildIfNeeded(conversations_);
}

void ZoruveVede::applySavedTranscript(const std::any& object) {
    const auto* saved = std::any_cast<SavedTranscript>(&object);
    if (!saved || !search_) return;
    // A conversation waiting for its deletion to become final stays out of the index; an
    // undone deletion indexes it again from its file.
    const SidebarID id = SidebarID::conversation(saved->id);
    for (const Conversation& entry : conversations_)
        if (entry.id() == id)
            search_->conversationChanged(saved->id, entry.title(), saved->messages);
}

void ZoruveVede::searchConversations(const QString& text, int limit,
                                     std::function<void(const SearchAnswer&)> deliver) {
    if (!search_) {
        post(alive_, [text, deliver = std::move(deliver)] {
            SearchAnswer answer;
            answer.text = text;
            answer.available = false;
            deliver(answer);
        });
        return;
    }
    search_->query(text, limit, [deliver = std::move(deliver)](const SearchResults& results) {
        SearchAnswer answer{results.text, {}, results.complete, results.available};
        answer.findings.reserve(results.hits.size());
        for (const SearchHit& hit : results.hits) {
            SearchFinding finding{hit.conversation, hit.title,   hit.message,
                                  hit.date,         hit.snippet, {}};
            for (const TextRange& range : hit.matches)
                finding.matches.append({range.start, range.length});
            answer.findings.append(std::move(finding));
        }
        deliver(answer);
    });
}

void ZoruveVede::cancelSearch() {
    if (search_) search_->cancelQuery();
}

void ZoruveVede::whenSearchIdle(std::function<void()> done) {
    if (search_)
        search_->whenIdle(std::move(done));
    else
        done();
}

void ZoruveVede::applicationWillQuit() {
    finishDeletion();  // its files go to the trash before the tasks are waited for
    if (draftTimer_->isActive()) saveDrafts();
    timer_->stop();
    saveRetryTimer_->stop();
    pool_.closeAll();
    bridge_.shutdown();
    pool_.context().tasks->waitForAll();
    // Titles and last messages announced before the end still reach "toc.json".
    InterfaceThread::drainNow();
    // The index follows what was saved up to here; its worker ends after the step it takes.
    search_.reset();
}

}  // namespace parlote
