// ZoruveVede: what the installed models can do (/api/show), which of them are loaded
// (/api/ps), loading a chosen model in the background and unloading one.

#include <algorithm>

#include "ZoruveVede.h"

namespace parlote {

ModelState ZoruveVede::modelState(const QString& id) const {
    ModelState state;
    const auto details = modelDetails_.constFind(id);
    if (details != modelDetails_.cend()) state.details = *details;
    if (!unloadingModels_.contains(id)) {
        for (const RunningModel& running : runningModels_) {
            if (sameModelName(id, running.name)) {
                state.running = running;
                break;
            }
        }
    }
    state.loading = loadingModels_.contains(id);
    return state;
}

QHash<QString, ModelState> ZoruveVede::modelStates() const {
    QHash<QString, ModelState> states;
    for (const ChatModel& model : availableModels_) states.insert(model.id, modelState(model.id));
    return states;
}

void ZoruveVede::refreshModelStatus() {
    detailsFailed_.clear();  // asked again now that someone looks
    askModelDetails();
    refreshRunningModels();
}

void ZoruveVede::askModelDetails() {
    using Result = APIResult<ModelDetails>;
    QHash<QString, QString> listed;  // id -> digest
    for (const ChatModel& model : availableModels_) listed.insert(model.id, model.digest);
    // A description goes with the model it describes: gone from the list or pulled again,
    // it is forgotten (the bridge asks again for a new digest).
    bool forgot = false;
    for (auto it = detailsDigest_.begin(); it != detailsDigest_.end();) {
        const auto now = listed.constFind(it.key());
        if (now != listed.cend() && *now == it.value()) {
            ++it;
            continue;
        }
        modelDetails_.remove(it.key());
        it = detailsDigest_.erase(it);
        forgot = true;
    }
    if (forgot) emit modelStatesChanged();

    for (auto it = listed.cbegin(); it != listed.cend(); ++it) {
        const QString id = it.key();
        if (modelDetails_.contains(id) || askingDetails_.contains(id) ||
            detailsFailed_.contains(id))
            continue;
        askingDetails_.insert(id);
        bridge_.modelDetails(id).then(
            onInterfaceThread<Result>([this, id, digest = it.value()](const Result& result) {
                askingDetails_.remove(id);
                if (!result.isSuccess()) {
                    detailsFailed_.insert(id);  // not asked again at every list reload
                    return;
                }
                // An answer for a model that left the list, or changed meanwhile, is dropped.
                const bool current = std::any_of(
                    availableModels_.cbegin(), availableModels_.cend(),
                    [&](const ChatModel& m) { return m.id == id && m.digest == digest; });
                if (!current) return;
                modelDetails_.insert(id, result.value());
                detailsDigest_.insert(id, digest);
                emit modelStatesChanged();
            }));
    }
}

void ZoruveVede::refreshRunningModels() {
    using Result = APIResult<QList<RunningModel>>;
    const std::uint64_t asked = ++runningAsked_;
    bridge_.runningModels().then(onInterfaceThread<Result>([this, asked](const Result& result) {
        if (asked != runningAsked_) return;  // a later question is under way
        if (result.isSuccess()) {
            applyRunningModels(result.value());
            return;
        }
        // A server that cannot say which models are loaded shows none as loaded, rather
        // than what it said some time ago.
        if (!runningKnown_ && runningModels_.isEmpty()) return;
        runningKnown_ = false;
        runningModels_.clear();
        emit modelStatesChanged();
    }));
}

void ZoruveVede::applyRunningModels(QList<RunningModel> running) {
    // Ollama frees a model's memory after an unload request in its own time: until the
    // list no longer holds it, it is shown as unloaded already.
    for (auto it = unloadingModels_.begin(); it != unloadingModels_.end();) {
        const bool listed =
            std::any_of(running.cbegin(), running.cend(),
                        [&](const RunningModel& m) { return sameModelName(*it, m.name); });
        it = listed ? std::next(it) : unloadingModels_.erase(it);
    }
    if (runningKnown_ && running == runningModels_) return;
    runningKnown_ = true;
    runningModels_ = std::move(running);
    emit modelStatesChanged();
}

void ZoruveVede::chooseModel(const QString& id) {
    if (!modelState(id).canChat()) return;
    setSelectedModel(id);
    unloadingModels_.remove(id);
    if (loadingModels_.contains(id)) return;  // its load is under way
    loadingModels_.insert(id);
    emit modelStatesChanged();
    using Result = APIResult<std::monostate>;
    bridge_.loadModel(id).then(onInterfaceThread<Result>([this, id](const Result&) {
        // A failed load says nothing: the chat request that follows reports its error.
        loadingModels_.remove(id);
        emit modelStatesChanged();
        refreshRunningModels();
    }));
}

void ZoruveVede::unloadModel(const QString& id) {
    loadingModels_.remove(id);
    unloadingModels_.insert(id);
    emit modelStatesChanged();
    using Result = APIResult<std::monostate>;
    bridge_.unloadModel(id).then(onInterfaceThread<Result>([this, id](const Result& result) {
        // Refused: the server keeps the model, and the next answer of /api/ps shows it.
        if (!result.isSuccess()) unloadingModels_.remove(id);
        refreshRunningModels();
    }));
}

}  // namespace parlote
