#pragma once

// The one way Parlote reaches the Ollama service. Each operation runs its blocking
// client calls on a background job with a client of its own, and answers through a
// future (one-shot operations) or a ThrowingStream (installation and streamed chat).
//
// Jobs never starve each other: every job gets its own thread, so a long reply, a model
// download and the liveness checks all progress together.

#include <QHash>
#include <QList>
#include <cstdint>
#include <mutex>
#include <unordered_set>
#include <variant>

#include "BridgeRecords.h"
#include "ChatRecords.h"
#include "ConversationSettings.h"
#include "Future.h"
#include "ModelClient.h"
#include "TaskRunner.h"
#include "ThrowingStream.h"

namespace parlote {

using SwiftLLMChatOptions = kestrelix::llm::SwiftLLMChatOptions;

/// What a chat request carries besides the transcript and the model options.
struct ChatExtras {
    /// The conversation's settings, applied over the options: the temperature replaces
    /// the options' own, the system prompt goes first as a message with role "system",
    /// and num_ctx, seed and think are sent when set (and only then).
    ConversationSettings settings = {};
    /// Pictures sent with user messages, by message id: each the bytes of a picture file.
    /// Pictures of other messages are not sent. The caller sends pictures only to a model
    /// that can see (ModelDetails::supportsVision()): other models ignore them, or fail.
    QHash<QUuid, QList<QByteArray>> images = {};
};

class ModelServiceBridge {
public:
    /// A bridge whose operations use clients made by `factory`.
    explicit ModelServiceBridge(ModelClientFactory factory = ollamaClientFactory());
    /// Aborts every operation still running and waits for its job to end.
    ~ModelServiceBridge();
    ModelServiceBridge(const ModelServiceBridge&) = delete;
    ModelServiceBridge& operator=(const ModelServiceBridge&) = delete;

    /// The process-wide bridge to the Ollama server of OLLAMA_HOST.
    static ModelServiceBridge& shared();

    /// True when the service answers.
    Future<bool> testOllamaConfiguration();
    /// Tries the server `config` names (address and API key) without using it: the
    /// version it reports (/api/version), or the exact error: an unusable address, a key
    /// that would go over plain http to another machine, a refused connection, a 401 from
    /// a proxy that wants a key. Waits at most config.livenessTimeout.
    Future<APIResult<QString>> testConnection(kestrelix::llm::ZuvodAzeduvConfig config);
    /// Makes every later operation use the server `config` names; operations under way go
    /// on with the server they began with. What modelDetails() knew is forgotten.
    void useServer(kestrelix::llm::ZuvodAzeduvConfig config);
    /// Makes every later operation use clients made by `factory` (see useServer()).
    void setClientFactory(ModelClientFactory factory);
    /// How many times useServer() or setClientFactory() was called: an answer meant for
    /// the server in use at one count is out of date at another.
    std::uint64_t serverChanges() const;
    /// The installed models, sorted by name (code point order, case-sensitive).
    Future<APIResult<QList<ChatModel>>> loadAvailableModels();
    Future<APIResult<std::monostate>> deleteOllamaModel(const QString& name);
    /// Progress of downloading `name`; ends normally when the model is installed.
    ThrowingStream<OllamaInstallationStatus> installModel(const QString& name);
    /// The whole reply to `messages` (error messages are not sent).
    Future<APIResult<QString>> sendChat(const QList<ChatMessage>& messages,
                                        const SwiftLLMChatOptions& options,
                                        const ChatExtras& extras = {});
    /// The reply to `messages`, piece by piece.
    ThrowingStream<ZoruveVedeChunk> streamChat(const QList<ChatMessage>& messages,
                                               const SwiftLLMChatOptions& options,
                                               const ChatExtras& extras = {});

    /// What model `name` can do (/api/show). Asked once per model for the run: later
    /// calls are answered from memory, and calls made while the answer is awaited share
    /// its request. A model whose digest changes in a later loadAvailableModels() (it
    /// was pulled again), or that deleteOllamaModel() removed, is asked again; so is one
    /// whose request failed.
    Future<APIResult<ModelDetails>> modelDetails(const QString& name);
    /// The models loaded in memory (/api/ps), most recently used first.
    Future<APIResult<QList<RunningModel>>> runningModels();
    /// Loads `name` into memory ahead of a chat; the future is set once it is loaded,
    /// which can take minutes.
    Future<APIResult<std::monostate>> loadModel(const QString& name);
    /// Asks Ollama to free the memory of `name` (once no request uses it). Succeeds also
    /// when it was not loaded.
    Future<APIResult<std::monostate>> unloadModel(const QString& name);

    /// Ends every operation in progress at once (their results are errors) and makes
    /// later operations fail the same way.
    void abortAll();
    /// abortAll(), then waits until every job has ended. Called when the application
    /// quits, before the objects that receive answers go away.
    void shutdown();

    /// The transcript as the model sees it: the system prompt of `extras` first when
    /// set, then the user and assistant messages, in order.
    static std::vector<kestrelix::llm::OllamaMessage> convertMessages(
        const QList<ChatMessage>& messages, const ChatExtras& extras = {});
    /// The options and extra request parts for `options` under `settings`.
    static std::pair<SwiftLLMChatOptions, kestrelix::llm::OllamaChatExtras> requestOptions(
        SwiftLLMChatOptions options, const ConversationSettings& settings);

private:
    class ClientLease;

    /// Runs `job` and sets the future to its result, or to `onFailure(what)` should the
    /// job throw (out of memory, say): a caller waiting on the future is never left hanging.
    template <class T, class Job, class OnFailure>
    Future<T> runJob(Job job, OnFailure onFailure);

    /// Forgets what modelDetails() knows of `name` (an answer under way is not kept).
    void forgetDetails(const QString& name);

    ModelClientFactory factory_;       // guarded by mutex_
    std::uint64_t serverChanges_ = 0;  // guarded by mutex_

    // What modelDetails() knows, by model name. Guarded by detailsMutex_.
    struct DetailsEntry {
        QString digest;  // as the model list last said, when it has said
        std::optional<ModelDetails> details;
        bool asking = false;  // a request is under way; `waiting` wait for it
        bool stale = false;   // forgotten while asked: the answer is handed out, not kept
        std::vector<Future<APIResult<ModelDetails>>::Promise> waiting;
    };
    std::mutex detailsMutex_;
    QHash<QString, DetailsEntry> details_;
    mutable std::mutex mutex_;  // guards factory_, serverChanges_, live_ and aborting_
    std::unordered_set<ModelClient*> live_;
    bool aborting_ = false;
    TaskRunner jobs_;  // last member: destroyed first, after shutdown() has ended every job
};

}  // namespace parlote
