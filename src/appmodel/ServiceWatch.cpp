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
                setAvailableModels(result.value());
            } else {
                setShowLoadAlert(true);
                setModalAlertMessage(result.error().message);
            }
            if (done) done();
        }));
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
        reloadModels([this] {
            const QVariant saved = settings()->value(selectedModelKey);
            if (!saved.isValid()) return;
            const QString name = saved.toString();
            for (const ChatModel& model : availableModels_) {
                if (model.id == name) {
                    setSelectedModel(name);
                    return;
                }
            }
        });
    });
}

void ZoruveVede::dismissWelcome() {
    setFirstLaunch(false);
    settings()->setValue(hasLaunchedKey, true);
    reloadModels();
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
