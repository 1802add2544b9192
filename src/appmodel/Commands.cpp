// ZoruveVede: the conversation commands, and model installation and removal.

#include <QHash>
#include <QSettings>
#include <algorithm>
#include <nlohmann/json.hpp>

#include "SearchService.h"
#include "Trash.h"
#include "ZoruveVede.h"

namespace parlote {

void ZoruveVede::selectConversation(const SidebarID& id) {
    for (const Conversation& entry : conversations_) {
        if (entry.id() != id) continue;
        setConversationDescription(entry.title());
        setCurrentConversation(pool_.managerFor(entry.id().uuid()));
        return;
    }
}

void ZoruveVede::whenReadyToSend(std::function<void()> action) {
    bridge_.testOllamaConfiguration().then(
        onInterfaceThread<bool>([this, action = std::move(action)](bool running) {
            if (!running) {
                waitForService([this, action] { whenReadyToSend(action); });
                return;
            }
            if (!selectedModel_) {
                raiseAlert(
                    QStringLiteral("Select a model"),
                    QStringLiteral("Please select a model first before chatting with Ollama"));
                return;
            }
            // Written only when it changed: every write replaces the settings file.
            if (auto s = settings(); s->value(selectedModelKey).toString() != *selectedModel_)
                s->setValue(selectedModelKey, *selectedModel_);
            action();
        }));
}

void ZoruveVede::sendMessage() {
    const QString text = inputText_.trimmed();
    // Pictures alone make a message too (a model that sees can be asked nothing more).
    if (text.isEmpty() && pendingImages_.isEmpty()) return;
    whenReadyToSend([this, text] {
        // Emptied first: the draft of the conversation the text was typed in is sent.
        const QStringList images = pendingImages_;
        setInputText(QString());
        setPendingImages({});
        if (!currentConversation_) {
            auto manager = ConversationManager::makeNew(pool_.context());
            // The Preferences' defaults; none set leaves the file as it always was.
            if (const ConversationSettings defaults = newConversationDefaults();
                !defaults.isEmpty())
                manager->setSettings(defaults);
            const SidebarID id = SidebarID::conversation(manager->id());
            pool_.insert(manager);
            setCurrentConversation(manager);
            QList<Conversation> list = conversations_;
            list.prepend(Conversation(id, newConversationTitle, QString()));
            setConversations(std::move(list));
            setConversationDescription(newConversationTitle);
            setSelectedConversation(id);
            saveConversationList();
        }
        if (selectedModel_ && currentConversation_)
            currentConversation_->send(text, *selectedModel_, images);
        yieldChunk();
    });
}

void ZoruveVede::setConversationSettings(const ConversationSettings& settings) {
    if (!currentConversation_) return;
    currentConversation_->setSettings(settings);
}

ConversationSettings ZoruveVede::newConversationDefaults() const {
    const QString text = settings()->value(newConversationSettingsKey).toString();
    if (text.isEmpty()) return {};
    const auto json = nlohmann::ordered_json::parse(text.toStdString(), nullptr, false);
    return ConversationSettings::fromJson(json);  // tolerant: a discarded parse is no object
}

void ZoruveVede::setNewConversationDefaults(const ConversationSettings& defaults) {
    const ConversationSettings kept = defaults.valid();
    const std::unique_ptr<QSettings> s = settings();
    if (kept.isEmpty()) {
        s->remove(newConversationSettingsKey);
        return;
    }
    s->setValue(newConversationSettingsKey, QString::fromStdString(kept.toJson().dump()));
}

void ZoruveVede::modelDetails(const QString& model,
                              std::function<void(const std::optional<ModelDetails>&)> deliver) {
    bridge_.modelDetails(model).then(onInterfaceThread<APIResult<ModelDetails>>(
        [deliver = std::move(deliver)](const APIResult<ModelDetails>& result) {
            deliver(result.isSuccess() ? std::optional<ModelDetails>(result.value())
                                       : std::nullopt);
        }));
}

void ZoruveVede::removeConversation(const SidebarID& id) {
    if (id.isNewConversation()) return;
    finishDeletion();  // one deletion can be undone at a time
    const auto at = std::find_if(conversations_.begin(), conversations_.end(),
                                 [&](const Conversation& entry) { return entry.id() == id; });
    if (at == conversations_.end()) return;
    PendingDeletion pending{*at, at - conversations_.begin(), drafts_.value(id.id()), {}, nullptr};
    // Out of the pool, so that nothing of the run reaches it; a reply still arriving goes
    // on and is saved, as the file stays until the deletion is final.
    if (pool_.contains(id.uuid())) pending.manager = pool_.managerFor(id.uuid());
    pool_.remove(id.uuid());
    QList<Conversation> list = conversations_;
    list.removeAt(pending.index);
    setConversations(std::move(list));
    saveConversationList();
    if (search_) search_->conversationRemoved(id.uuid());  // no longer found
    if (selectedConversation_ == id) {
        setSelectedConversation(SidebarID::newConversation());
        setCurrentConversation(nullptr);
        setConversationDescription(newConversationTitle);
    }
    // After leaving the conversation, which keeps the text typed in it under its id.
    if (drafts_.remove(id.id())) draftTimer_->start();
    pending.draftPictures = draftImages_.take(id.id());
    if (!pending.draftPictures.isEmpty()) draftTimer_->start();
    pendingDeletion_ = std::move(pending);
    undoTimer_->start();
    emit pendingDeletionChanged();
}

void ZoruveVede::undoDeletion() {
    if (!pendingDeletion_) return;
    undoTimer_->stop();
    PendingDeletion pending = std::move(*pendingDeletion_);
    pendingDeletion_.reset();
    const SidebarID id = pending.entry.id();
    if (pending.manager) pool_.insert(pending.manager);
    if (!pending.draft.isEmpty()) {
        drafts_.insert(id.id(), pending.draft);
        draftTimer_->start();
    }
    if (!pending.draftPictures.isEmpty()) {
        draftImages_.insert(id.id(), pending.draftPictures);
        draftTimer_->start();
    }
    QList<Conversation> list = conversations_;
    list.insert(std::min(pending.index, list.size()), pending.entry);
    setConversations(std::move(list));
    saveConversationList();
    // Indexed again from its file, which stayed where it was.
    if (search_) search_->rebuildIfNeeded(conversations_);
    setSelectedConversation(id);
    selectConversation(id);
    emit pendingDeletionChanged();
}

void ZoruveVede::finishDeletion() {
    if (!pendingDeletion_) return;
    undoTimer_->stop();
    PendingDeletion pending = std::move(*pendingDeletion_);
    pendingDeletion_.reset();
    // No write of the conversation may follow its file into the trash (or bring it back).
    if (pending.manager) pending.manager->discard();
    // Already out of the index; a save that came meanwhile was not indexed, but say so
    // again now that it is final.
    if (search_) search_->conversationRemoved(pending.entry.id().uuid());
    // Reading the other files to tell which pictures go takes a while: off this thread.
    const ChatStore* store = &store_;
    pool_.context().tasks->start([store, id = pending.entry.id().uuid()] {
        const QStringList pictures = store->attachmentsOnlyUsedBy(id);
        if (!moveToTrash(store->conversationPath(id))) return;  // no trash: all stays
        for (const QString& picture : pictures) moveToTrash(store->attachments().path(picture));
    });
    emit pendingDeletionChanged();
}

void ZoruveVede::setUndoDelay(std::chrono::milliseconds delay) {
    undoTimer_->setInterval(delay);
}

void ZoruveVede::renameConversation(const SidebarID& id, const QString& title) {
    if (id.isNewConversation()) return;
    if (title.trimmed().isEmpty()) {
        emit conversationsChanged();  // an editor that shows the blank text shows the old title
        return;
    }
    for (qsizetype i = 0; i < conversations_.size(); ++i) {
        if (conversations_[i].id() != id) continue;
        QList<Conversation> list = conversations_;
        list[i].setTitle(title);
        setConversations(std::move(list));
        if (id == selectedConversation_) setConversationDescription(title);
        saveConversationList();
        if (search_) search_->conversationRenamed(id.uuid(), title);
        return;
    }
}

void ZoruveVede::setPinned(const SidebarID& id, bool pinned) {
    for (qsizetype i = 0; i < conversations_.size(); ++i) {
        if (conversations_[i].id() != id) continue;
        if (conversations_[i].pinned() == pinned) return;
        QList<Conversation> list = conversations_;
        list[i].setPinned(pinned);
        setConversations(std::move(list));
        saveConversationList();
        return;
    }
}

void ZoruveVede::startModelInstall(const QString& name) {
    if (isInstalling_ || name.isEmpty()) return;
    installingModel_ = name;
    installCancelled_ = false;
    setInstallOutcome(InstallOutcome::None);
    setInstallationStatus(QString());
    setDownloadBytes(0, 0);
    setIsInstalling(true);
    bridge_.testOllamaConfiguration().then(onInterfaceThread<bool>([this, name](bool running) {
        if (!running) {
            setIsInstalling(false);
            waitForService([this, name] { startModelInstall(name); });
            return;
        }
        readInstallStream(name, bridge_.installModel(name));
    }));
}

void ZoruveVede::cancelModelInstall() {
    if (!isInstalling_) return;
    installCancelled_ = true;
    // Closing the request stops the download at the server; the reading task then ends.
    if (installStream_) installStream_->cancel();
}

void ZoruveVede::finishCancelledInstall() {
    installStream_.reset();
    setInstallationStatus(QStringLiteral("Cancelled"));
    setProgress(0);
    setComplete(0);
    setDownloadBytes(0, 0);
    setInstallOutcome(InstallOutcome::Cancelled);
    reloadModels([this] { setIsInstalling(false); });
}

namespace {

// The bytes of a whole pull. Ollama reports one layer after the other, each under a
// status of its own ("pulling 6a0746a1ec1a") with that layer's completed and total; the
// sums over the layers seen so far are what the download has done and will do.
class PullBytes {
public:
    void add(const OllamaInstallationStatus& status) {
        if (status.total <= 0) return;  // "pulling manifest", "verifying …": no layer
        Layer& layer = layers_[status.status];
        completed_ += status.complete - layer.completed;
        total_ += status.total - layer.total;
        layer = {status.complete, status.total};
    }
    qint64 completed() const { return completed_; }
    qint64 total() const { return total_; }

private:
    struct Layer {
        qint64 completed = 0;
        qint64 total = 0;
    };
    QHash<QString, Layer> layers_;
    qint64 completed_ = 0;
    qint64 total_ = 0;
};

}  // namespace

void ZoruveVede::readInstallStream(const QString& name,
                                   ThrowingStream<OllamaInstallationStatus> stream) {
    installStream_ = stream;
    if (installCancelled_) stream.cancel();  // cancelled while the service was asked
    // Reads the stream on a task of its own; every change goes to the interface thread.
    auto finishInstall = [this] {
        installStream_.reset();
        reloadModels([this] { setIsInstalling(false); });
    };
    pool_.context().tasks->start([this, alive = std::weak_ptr<int>(alive_), name, stream,
                                  finishInstall]() mutable {
        auto fail = [&](const QString& title, const QString& message) {
            post(alive, [this, name, title, message] {
                if (installCancelled_) return finishCancelledInstall();
                installStream_.reset();
                setInstallOutcome(InstallOutcome::Failed);
                raiseAlert(
                    title,
                    QStringLiteral("Model %1 could not be installed; error %2").arg(name, message));
                setIsInstalling(false);
            });
        };
        try {
            PullBytes bytes;  // this task's own
            while (auto status = stream.next()) {
                if (status->status.isEmpty()) {
                    post(alive, [this, name, finishInstall] {
                        setInstallOutcome(InstallOutcome::Failed);
                        raiseAlert(
                            QStringLiteral("Model Does Not Exist"),
                            QStringLiteral("Unable to install model %1; model does not exist.")
                                .arg(name));
                        finishInstall();
                    });
                    return;
                }
                bytes.add(*status);
                post(alive, [this, status = *status, completed = bytes.completed(),
                             total = bytes.total()] {
                    setInstallationStatus(status.status);
                    setProgress(status.complete);
                    setComplete(status.total);
                    setDownloadBytes(completed, total);
                });
            }
            post(alive, [this, name, finishInstall] {
                if (installCancelled_) return finishCancelledInstall();
                setInstallOutcome(InstallOutcome::Installed);
                raiseAlert(QStringLiteral("Model Installed"),
                           QStringLiteral("Model %1 was installed successfully.").arg(name),
                           AlertKind::Information);
                finishInstall();
            });
        } catch (const OllamaError& error) {
            fail(QStringLiteral("Error Installing Model"), error.message);
        } catch (const std::exception& error) {
            fail(QStringLiteral("Unexpected Error"), QString::fromUtf8(error.what()));
        } catch (...) {
            fail(QStringLiteral("Unexpected Error"), QStringLiteral("unknown error"));
        }
    });
}

void ZoruveVede::removeInstalledModel(const QString& name) {
    using Result = APIResult<std::monostate>;
    bridge_.testOllamaConfiguration().then(onInterfaceThread<bool>([this, name](bool running) {
        if (!running) {
            waitForService([this, name] { removeInstalledModel(name); });
            return;
        }
        bridge_.deleteOllamaModel(name).then(
            onInterfaceThread<Result>([this, name](const Result& result) {
                if (!result.isSuccess()) {
                    raiseAlert(QStringLiteral("Unable To Remove Model"),
                               QStringLiteral("Unable to remove model '%1': error %2")
                                   .arg(name, result.error().message));
                    return;
                }
                if (selectedModel_ == name) setSelectedModel(std::nullopt);
                QList<ChatModel> remaining = availableModels_;
                remaining.removeIf([&](const ChatModel& model) { return model.model == name; });
                setAvailableModels(std::move(remaining));
            }));
    }));
}

}  // namespace parlote

namespace parlote {

void ZoruveVede::stopReply() {
    if (currentConversation_) currentConversation_->stop();
}

bool ZoruveVede::canRegenerate() const {
    return currentConversation_ && !inSendingMessage_ && lastUserMessage().has_value();
}

void ZoruveVede::regenerateReply() {
    if (!canRegenerate()) return;
    // The request goes to the conversation open now, even if another is opened meanwhile.
    whenReadyToSend([this, manager = currentConversation_] {
        manager->regenerate(*selectedModel_);
        if (manager == currentConversation_) yieldChunk();
    });
}

std::optional<QUuid> ZoruveVede::lastUserMessage() const {
    for (qsizetype i = messages_.size() - 1; i >= 0; --i)
        if (messages_.at(i).type() == ChatMessageType::user) return messages_.at(i).id();
    return std::nullopt;
}

void ZoruveVede::editAndResend(const QUuid& id, const QString& text) {
    const QString trimmed = text.trimmed();
    if (!currentConversation_ || inSendingMessage_ || trimmed.isEmpty()) return;
    whenReadyToSend([this, manager = currentConversation_, id, trimmed] {
        manager->editAndResend(id, trimmed, *selectedModel_);
        if (manager == currentConversation_) yieldChunk();
    });
}

void ZoruveVede::showVariant(const QUuid& id, int index) {
    if (currentConversation_) currentConversation_->showVariant(id, index);
}

}  // namespace parlote
