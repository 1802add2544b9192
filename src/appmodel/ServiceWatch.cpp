// ZoruveVede: start-up, the installed-model list and the service watch.

#include <QSettings>

#include "ZoruveVede.h"

namespace parlote {

namespace {
constexpr qint64 kReloadGapMs = 15000;
}  // namespace

void ZoruveVede::reloadModels(std::function<void()> done) {
    using Result = APIResult<QList<ChatModel>>;
    bridge_.loadAvailableModels().then(
        onInterfaceThread<Result>([this, done](const Result& result) {
            if (result.isSuccess()) {
                applyModelList(result.value());
            } else {
                // The banner says that Ollama does not answer; the waiting alert is kept
                // for when the user asks for something that needs the service.
                setOllamaRunning(false);
                setModalAlertMessage(result.error().message);
            }
            if (done) done();
        }));
}

void ZoruveVede::applyModelList(QList<ChatModel> models) {
    setAvailableModels(std::move(models));
    askModelDetails();  // new or changed models are described before the menu opens
    // The remembered model is chosen once a list holds it; only a list of models that
    // lacks it ends the wait (an empty list may come from a service still starting).
    if (!rememberedModel_ || availableModels_.isEmpty()) return;
    const QString name = *std::exchange(rememberedModel_, std::nullopt);
    if (selectedModel_) return;  // the user chose meanwhile
    for (const ChatModel& model : availableModels_) {
        if (model.id == name) {
            setSelectedModel(name);
            return;
        }
    }
}

void ZoruveVede::validateSelectedModel() {
    if (!selectedModel_) return;
    for (const ChatModel& model : availableModels_)
        if (model.id == *selectedModel_) return;
    setSelectedModel(std::nullopt);
}

void ZoruveVede::checkFirstLaunch(std::function<void(bool)> answer) {
    if (settings()->value(hasLaunchedKey, false).toBool()) {
        answer(false);
        return;
    }
    bridge_.testOllamaConfiguration().then(onInterfaceThread<bool>([this, answer](bool running) {
        if (running) settings()->setValue(hasLaunchedKey, true);
        answer(!running);
    }));
}

void ZoruveVede::startUp() {
    checkFirstLaunch([this](bool first) {
        if (first) {
            setFirstLaunch(true);
            return;
        }
        const QVariant saved = settings()->value(selectedModelKey);
        if (saved.isValid()) rememberedModel_ = saved.toString();
        reloadModels();
    });
}

void ZoruveVede::dismissWelcome() {
    setFirstLaunch(false);
    settings()->setValue(hasLaunchedKey, true);
    reloadModels();
}

void ZoruveVede::waitForService(std::function<void()> action) {
    waitingAction_ = std::move(action);
    setOllamaRunning(false);
    setShowLoadAlert(true);
}

void ZoruveVede::retryWaitingAction() {
    if (!waitingAction_) {
        refreshOllamaStatus();
        return;
    }
    bridge_.testOllamaConfiguration().then(onInterfaceThread<bool>([this](bool running) {
        setOllamaRunning(running);
        if (!running) {
            if (waitingAction_) setShowLoadAlert(true);  // still waiting
            return;
        }
        setShowLoadAlert(false);
        if (auto action = std::exchange(waitingAction_, nullptr)) action();
        refreshOllamaStatus();  // the model list, as after any check that finds the service
    }));
}

void ZoruveVede::cancelWaitingAction() {
    waitingAction_ = nullptr;
    setShowLoadAlert(false);
}

void ZoruveVede::refreshOllamaStatus() {
    // A check already running is not stopped: its answer still counts when it arrives.
    bridge_.testOllamaConfiguration().then(onInterfaceThread<bool>([this](bool running) {
        setOllamaRunning(running);
        if (!running) return;
        setShowLoadAlert(false);
        const QDateTime now = services_.clock();
        if (lastModelReloadTime_ && lastModelReloadTime_->msecsTo(now) < kReloadGapMs) return;
        reloadModels([this, now] { lastModelReloadTime_ = now; });
    }));
}

}  // namespace parlote
