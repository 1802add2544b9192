#include "ModelServiceBridge.h"

#include <algorithm>

namespace parlote {

namespace llm = kestrelix::llm;

namespace {

OllamaError errorFrom(const llm::OllamaErrorInfo& info) {
    return OllamaError(info.errorCode, info.osErrorType, info.osError,
                       QString::fromStdString(info.message));
}

/// What a one-shot operation answers when its job failed outside the client.
template <class Result>
Result failWith(const char* what) {
    return Result::failure(
        OllamaError(-1, 0, 0, QStringLiteral("Unexpected error: %1").arg(QString::fromUtf8(what))));
}

/// Ends a stream after its last poll: normally on the end-of-stream code, else with the error.
template <class Producer>
void endStream(Producer& producer, const llm::OllamaErrorInfo& error) {
    if (error.errorCode == llm::kEndOfStream)
        producer.finish();
    else
        producer.fail(errorFrom(error));
}

/// Runs a stream's job; anything it throws (out of memory, say) ends the stream with
/// that error instead of leaving the consumer waiting forever.
template <class Producer, class Job>
void failOnException(Producer& producer, Job&& job) {
    try {
        job();
    } catch (...) {
        producer.fail(std::current_exception());
    }
}

}  // namespace

/// A client made for one job and known to the bridge while it lives, so that abortAll()
/// can reach it.
class ModelServiceBridge::ClientLease {
public:
    explicit ClientLease(ModelServiceBridge& bridge)
        : ClientLease(bridge, [&bridge] {
              std::lock_guard lock(bridge.mutex_);
              return bridge.factory_;
          }()) {}
    /// A client made by `factory` rather than the bridge's own.
    ClientLease(ModelServiceBridge& bridge, const ModelClientFactory& factory)
        : bridge_(bridge), client_(factory()) {
        std::lock_guard lock(bridge_.mutex_);
        bridge_.live_.insert(client_.get());
        if (bridge_.aborting_) client_->abort();
    }
    ~ClientLease() {
        std::lock_guard lock(bridge_.mutex_);
        bridge_.live_.erase(client_.get());
    }
    ModelClient* operator->() const { return client_.get(); }

private:
    ModelServiceBridge& bridge_;
    std::unique_ptr<ModelClient> client_;
};

ModelServiceBridge::ModelServiceBridge(ModelClientFactory factory) : factory_(std::move(factory)) {}

ModelServiceBridge::~ModelServiceBridge() {
    shutdown();
}

void ModelServiceBridge::shutdown() {
    abortAll();
    jobs_.waitForAll();
}

template <class T, class Job, class OnFailure>
Future<T> ModelServiceBridge::runJob(Job job, OnFailure onFailure) {
    auto [future, promise] = Future<T>::make();
    jobs_.start([promise = std::move(promise), job = std::move(job), onFailure]() mutable {
        try {
            promise.set(job());
        } catch (const std::exception& error) {
            promise.set(onFailure(error.what()));
        } catch (...) {
            promise.set(onFailure("unknown error"));
        }
    });
    return future;
}

ModelServiceBridge& ModelServiceBridge::shared() {
    static ModelServiceBridge bridge;
    return bridge;
}

void ModelServiceBridge::abortAll() {
    std::lock_guard lock(mutex_);
    aborting_ = true;
    for (ModelClient* client : live_) client->abort();
}

std::pair<SwiftLLMChatOptions, llm::OllamaChatExtras> ModelServiceBridge::requestOptions(
    SwiftLLMChatOptions options, const ConversationSettings& settings) {
    const ConversationSettings kept = settings.valid();
    llm::OllamaChatExtras extras;
    if (kept.temperature) options.temperature = *kept.temperature;
    extras.contextLength = kept.contextLength;
    extras.seed = kept.seed;
    // The two enumerations list the same values in the same order.
    static_assert(int(llm::OllamaThink::off) == int(ThinkSetting::off) &&
                  int(llm::OllamaThink::on) == int(ThinkSetting::on) &&
                  int(llm::OllamaThink::low) == int(ThinkSetting::low) &&
                  int(llm::OllamaThink::max) == int(ThinkSetting::max));
    if (kept.think) extras.think = llm::OllamaThink(int(*kept.think));
    return {std::move(options), extras};
}

std::vector<llm::OllamaMessage> ModelServiceBridge::convertMessages(
    const QList<ChatMessage>& messages, const ChatExtras& extras) {
    std::vector<llm::OllamaMessage> converted;
    converted.reserve(messages.size() + 1);
    if (extras.settings.systemPrompt)
        converted.push_back({"system", extras.settings.systemPrompt->toStdString()});
    for (const ChatMessage& message : messages) {
        switch (message.type()) {
            case ChatMessageType::user: {
                llm::OllamaMessage user{"user", message.content().toStdString()};
                for (const QByteArray& picture : extras.images.value(message.id()))
                    user.images.push_back(picture.toBase64().toStdString());
                converted.push_back(std::move(user));
                break;
            }
            case ChatMessageType::assistant:
                converted.push_back({"assistant", message.content().toStdString()});
                break;
            case ChatMessageType::error:
                break;  // shown to the user, never sent to the model
        }
    }
    return converted;
}

Future<bool> ModelServiceBridge::testOllamaConfiguration() {
    return runJob<bool>(
        [this] {
            ClientLease client(*this);
            return client->testConfiguration() == 0;
        },
        [](const char*) { return false; });
}

Future<APIResult<QString>> ModelServiceBridge::testConnection(llm::ZuvodAzeduvConfig config) {
    using Result = APIResult<QString>;
    return runJob<Result>(
        [this, config = std::move(config)] {
            ClientLease client(*this, ollamaClientFactory(config));
            const std::string version = client->serverVersion();
            const llm::OllamaErrorInfo error = client->lastError();
            if (error.errorCode != 0) return Result::failure(errorFrom(error));
            return Result::success(QString::fromStdString(version));
        },
        failWith<Result>);
}

void ModelServiceBridge::useServer(llm::ZuvodAzeduvConfig config) {
    setClientFactory(ollamaClientFactory(std::move(config)));
}

void ModelServiceBridge::setClientFactory(ModelClientFactory factory) {
    {
        std::lock_guard lock(mutex_);
        factory_ = std::move(factory);
        ++serverChanges_;
    }
    // Another server may have other models under the same names.
    std::lock_guard lock(detailsMutex_);
    for (auto entry = details_.begin(); entry != details_.end();) {
        if (entry->asking) {
            entry->stale = true;
            ++entry;
        } else {
            entry = details_.erase(entry);
        }
    }
}

std::uint64_t ModelServiceBridge::serverChanges() const {
    std::lock_guard lock(mutex_);
    return serverChanges_;
}

Future<APIResult<QList<ChatModel>>> ModelServiceBridge::loadAvailableModels() {
    using Result = APIResult<QList<ChatModel>>;
    return runJob<Result>(
        [this] {
            ClientLease client(*this);
            std::vector<llm::OllamaModelInfo> infos = client->getAvailableModels();
            const llm::OllamaErrorInfo error = client->lastError();
            if (error.errorCode != 0) return Result::failure(errorFrom(error));
            // Byte order of UTF-8 is code point order: case-sensitive, not locale-aware.
            std::stable_sort(infos.begin(), infos.end(),
                             [](const auto& a, const auto& b) { return a.name < b.name; });
            // A model pulled again since its details were asked is asked again.
            {
                std::lock_guard lock(detailsMutex_);
                for (const llm::OllamaModelInfo& info : infos) {
                    const auto entry = details_.find(QString::fromStdString(info.name));
                    if (entry == details_.end()) continue;
                    const QString digest = QString::fromStdString(info.digest);
                    if (!entry->digest.isEmpty() && entry->digest != digest) {
                        if (entry->asking) {
                            entry->stale = true;
                        } else {
                            details_.erase(entry);
                            continue;
                        }
                    }
                    entry->digest = digest;
                }
            }
            QList<ChatModel> models;
            models.reserve(qsizetype(infos.size()));
            for (const llm::OllamaModelInfo& info : infos) {
                const QString name = QString::fromStdString(info.name);
                models.push_back(ChatModel{
                    name, name, QString::fromStdString(info.digest),
                    static_cast<std::uint64_t>(info.size), QString::fromStdString(info.family),
                    QString::fromStdString(info.format), QString::fromStdString(info.parameterSize),
                    QString::fromStdString(info.quantizationLevel)});
            }
            return Result::success(std::move(models));
        },
        failWith<Result>);
}

Future<APIResult<std::monostate>> ModelServiceBridge::deleteOllamaModel(const QString& name) {
    using Result = APIResult<std::monostate>;
    return runJob<Result>(
        [this, name = name.toStdString()] {
            ClientLease client(*this);
            if (client->removeModel(name) != 0)
                return Result::failure(errorFrom(client->lastError()));
            forgetDetails(QString::fromStdString(name));
            return Result::success({});
        },
        failWith<Result>);
}

void ModelServiceBridge::forgetDetails(const QString& name) {
    std::lock_guard lock(detailsMutex_);
    const auto entry = details_.find(name);
    if (entry == details_.end()) return;
    if (entry->asking)
        entry->stale = true;
    else
        details_.erase(entry);
}

namespace {

ModelDetails detailsFrom(const llm::OllamaModelDetails& info) {
    ModelDetails details;
    for (const std::string& capability : info.capabilities)
        details.capabilities.append(QString::fromStdString(capability));
    details.capabilitiesKnown = info.capabilitiesKnown;
    details.architecture = QString::fromStdString(info.architecture);
    details.contextLength = info.contextLength;
    details.system = QString::fromStdString(info.system);
    details.parameters = QString::fromStdString(info.parameters);
    return details;
}

}  // namespace

Future<APIResult<ModelDetails>> ModelServiceBridge::modelDetails(const QString& name) {
    using Result = APIResult<ModelDetails>;
    auto [future, promise] = Future<Result>::make();
    {
        std::lock_guard lock(detailsMutex_);
        DetailsEntry& entry = details_[name];
        if (entry.details && !entry.stale) {
            promise.set(Result::success(*entry.details));
            return future;
        }
        entry.waiting.push_back(promise);
        if (entry.asking) return future;
        entry.asking = true;
        entry.stale = false;
    }
    // Every waiting caller gets the answer; only a success that nothing made stale is kept.
    auto answer = [this, name](const Result& result) {
        std::vector<Future<Result>::Promise> waiting;
        {
            std::lock_guard lock(detailsMutex_);
            const auto entry = details_.find(name);
            if (entry == details_.end()) return;
            waiting = std::move(entry->waiting);
            entry->waiting.clear();
            entry->asking = false;
            if (result.isSuccess() && !entry->stale) {
                entry->details = result.value();
            } else {
                details_.erase(entry);
            }
        }
        for (auto& waiter : waiting) waiter.set(result);
    };
    runJob<Result>(
        [this, name = name.toStdString()] {
            ClientLease client(*this);
            const llm::OllamaModelDetails info = client->show(name);
            const llm::OllamaErrorInfo error = client->lastError();
            if (error.errorCode != 0) return Result::failure(errorFrom(error));
            return Result::success(detailsFrom(info));
        },
        failWith<Result>)
        .then(answer);
    return future;
}

Future<APIResult<QList<RunningModel>>> ModelServiceBridge::runningModels() {
    using Result = APIResult<QList<RunningModel>>;
    return runJob<Result>(
        [this] {
            ClientLease client(*this);
            const std::vector<llm::OllamaRunningModel> infos = client->runningModels();
            const llm::OllamaErrorInfo error = client->lastError();
            if (error.errorCode != 0) return Result::failure(errorFrom(error));
            QList<RunningModel> models;
            for (const llm::OllamaRunningModel& info : infos)
                models.append(RunningModel{
                    QString::fromStdString(info.name), QString::fromStdString(info.digest),
                    info.size, info.sizeVram, info.contextLength,
                    dateFromRfc3339(QString::fromStdString(info.expiresAt))});
            return Result::success(std::move(models));
        },
        failWith<Result>);
}

Future<APIResult<std::monostate>> ModelServiceBridge::loadModel(const QString& name) {
    using Result = APIResult<std::monostate>;
    return runJob<Result>(
        [this, name = name.toStdString()] {
            ClientLease client(*this);
            if (client->load(name) != 0) return Result::failure(errorFrom(client->lastError()));
            return Result::success({});
        },
        failWith<Result>);
}

Future<APIResult<std::monostate>> ModelServiceBridge::unloadModel(const QString& name) {
    using Result = APIResult<std::monostate>;
    return runJob<Result>(
        [this, name = name.toStdString()] {
            ClientLease client(*this);
            if (client->unload(name) != 0) return Result::failure(errorFrom(client->lastError()));
            return Result::success({});
        },
        failWith<Result>);
}

namespace {

/// While it lives, a consumer that cancels the stream of `producer` aborts `client`'s
/// transfer, which closes the connection.
template <class Producer, class Lease>
class CloseOnCancel {
public:
    CloseOnCancel(Producer& producer, Lease& client) : producer_(producer) {
        producer_.setOnCancel([&client] { client->abort(); });
    }
    ~CloseOnCancel() { producer_.setOnCancel(nullptr); }  // before the client goes
    CloseOnCancel(const CloseOnCancel&) = delete;
    CloseOnCancel& operator=(const CloseOnCancel&) = delete;

private:
    Producer& producer_;
};

}  // namespace

ThrowingStream<OllamaInstallationStatus> ModelServiceBridge::installModel(const QString& name) {
    auto [stream, producer] = ThrowingStream<OllamaInstallationStatus>::make();
    jobs_.start([this, producer = producer, name = name.toStdString()]() mutable {
        failOnException(producer, [&] {
            ClientLease client(*this);
            // A consumer that cancels closes the connection, which stops the download.
            CloseOnCancel closing(producer, client);
            if (client->startInstallModel(name) != 0) {
                producer.fail(errorFrom(client->lastError()));
                return;
            }
            while (auto record = client->getNextInstallStatus()) {
                producer.yield(OllamaInstallationStatus{QString::fromStdString(record->status),
                                                        record->total, record->completed});
            }
            endStream(producer, client->lastError());
        });
    });
    return stream;
}

Future<APIResult<QString>> ModelServiceBridge::sendChat(const QList<ChatMessage>& messages,
                                                        const SwiftLLMChatOptions& options,
                                                        const ChatExtras& extras) {
    using Result = APIResult<QString>;
    return runJob<Result>(
        [this, converted = convertMessages(messages, extras),
         request = requestOptions(options, extras.settings)] {
            ClientLease client(*this);
            const std::string reply = client->chat(converted, request.first, request.second);
            const llm::OllamaErrorInfo error = client->lastError();
            if (error.errorCode != 0) return Result::failure(errorFrom(error));
            return Result::success(QString::fromStdString(reply));
        },
        failWith<Result>);
}

ThrowingStream<ZoruveVedeChunk> ModelServiceBridge::streamChat(const QList<ChatMessage>& messages,
                                                               const SwiftLLMChatOptions& options,
                                                               const ChatExtras& extras) {
    auto [stream, producer] = ThrowingStream<ZoruveVedeChunk>::make();
    jobs_.start([this, producer = producer, converted = convertMessages(messages, extras),
                 request = requestOptions(options, extras.settings)]() mutable {
        failOnException(producer, [&] {
            ClientLease client(*this);
            // A consumer that cancels closes the connection, which stops Ollama generating.
            CloseOnCancel closing(producer, client);
            if (client->startChat(converted, request.first, request.second) != 0) {
                producer.fail(errorFrom(client->lastError()));
                return;
            }
            while (auto chunk = client->getNextChunk()) {
                std::optional<ReplyStats> stats;
                if (chunk->stats) {
                    const llm::OllamaReplyStats& figures = *chunk->stats;
                    stats = ReplyStats{figures.evalCount,       figures.evalDuration,
                                       figures.promptEvalCount, figures.promptEvalDuration,
                                       figures.loadDuration,    figures.totalDuration};
                }
                producer.yield(ZoruveVedeChunk{
                    chunk->isComplete, QString::fromStdString(chunk->content), std::move(stats)});
                if (chunk->isComplete) {
                    producer.finish();
                    return;
                }
            }
            endStream(producer, client->lastError());
        });
    });
    return stream;
}

}  // namespace parlote
