#include "ConversationManager.h"

#include <QRandomGenerator>

namespace parlote {

namespace llm = kestrelix::llm;

const QStringList kStatusWords = {
    QStringLiteral("Pondering"),  QStringLiteral("Contemplating"), QStringLiteral("Thinking"),
    QStringLiteral("Ruminating"), QStringLiteral("Considering"),   QStringLiteral("Analyzing"),
    QStringLiteral("Evaluating"), QStringLiteral("Cogitating"),    QStringLiteral("Reviewing")};

const QString kTitlePrompt = QStringLiteral("Please summarize this conversation in 10 words or less");

namespace {

constexpr double kTemperature = 0.7;
constexpr std::int32_t kMaxTokens = 2147483647;

llm::SwiftLLMChatOptions chatOptions(const QString& model) {
    return {model.toStdString(), kTemperature, kMaxTokens};
}

/// The transcript line for a reply that failed.
QString errorText(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const OllamaError& error) {
        return QStringLiteral("Error: ") + error.message;
    } catch (const std::exception& error) {
        return QStringLiteral("OS Error: ") + QString::fromUtf8(error.what());
    } catch (...) {
        return QStringLiteral("OS Error: unknown error");
    }
}

}  // namespace

EngineContext EngineContext::standard() {
    // Made first, so destroyed last: by then the bridge has ended every stream that the
    // runner's tasks read, and waiting for them cannot hang.
    TaskRunner& tasks = TaskRunner::shared();
    return {&ChatStore::shared(), &ModelServiceBridge::shared(), &NotificationCenter::shared(),
            &tasks};
}

QString withoutThinkBlock(const QString& text) {
    static const QString open = QStringLiteral("<think>");
    static const QString close = QStringLiteral("</think>");
    if (!text.startsWith(open)) return text;
    const qsizetype end = text.indexOf(close);
    if (end < 0) return text;
    return text.mid(end + close.size()).trimmed();
}

ConversationManager::ConversationManager(EngineContext context, QUuid id, bool isNew,
                                         MessageList messages)
    : context_(context), id_(id), isNew_(isNew), messages_(std::move(messages)) {}

std::shared_ptr<ConversationManager> ConversationManager::makeNew(EngineContext context) {
    return std::shared_ptr<ConversationManager>(
        new ConversationManager(context, QUuid::createUuid(), true, MessageList()));
}

std::shared_ptr<ConversationManager> ConversationManager::load(EngineContext context,
                                                               const QUuid& id) {
    MessageList transcript(context.store->readConversation(id));
    return std::shared_ptr<ConversationManager>(
        new ConversationManager(context, id, false, std::move(transcript)));
}

void ConversationManager::send(const QString& text, const QString& model) {
    MessageList transcript;
    ChatMessage placeholder = ChatMessage::make(QString(), ChatMessageType::assistant);
    {
        std::lock_guard lock(stateMutex_);
        if (inSendingMessage_.get() || closed_) return;
        ++version_;
        messages_.update([&](MessageList& list) {
            list.append(ChatMessage::make(text, ChatMessageType::user));
            transcript = list;
        });
        inSendingMessage_.set(true);
        chunkUpdated_.fire();
        statusMessage_.set(kStatusWords[QRandomGenerator::global()->bounded(kStatusWords.size())]);
    }
    auto self = shared_from_this();
    context_.tasks->start([self, transcript, options = chatOptions(model), placeholder] {
        self->runReply(transcript, options, placeholder);
    });
}

void ConversationManager::runReply(MessageList transcript, llm::SwiftLLMChatOptions options,
                                   ChatMessage placeholder) {
    // The user's message is on disk before the reply starts, so that neither a crash nor
    // quitting during a long reply loses it.
    writeFile();

    auto stream = context_.bridge->streamChat(transcript.toList(), options);
    QString accumulated;
    bool placed = false;
    try {
        while (auto chunk = stream.next()) {
            std::lock_guard lock(stateMutex_);
            if (closed_) return;
            accumulated += chunk->content;
            // The published text gets storage of its own: `accumulated` keeps growing in
            // place here while readers on other threads hold earlier versions.
            ChatMessage reply =
                placeholder.withContent(QString(accumulated.constData(), accumulated.size()));
            ++version_;
            const bool first = !placed;
            messages_.update([&](MessageList& list) {
                // The reply grows at its own message, wherever a later send has put it.
                const std::optional<qsizetype> at = placed ? list.lastIndexOf(placeholder.id()) : std::nullopt;
                if (at) {
                    list.replace(*at, reply);
                } else {
                    list.append(reply);
                    placed = true;
                }
            });
            chunkUpdated_.fire();
            if (first) statusMessage_.set(std::nullopt);  // the waiting word ends with the first chunk
        }
    } catch (...) {
        {
            std::lock_guard lock(stateMutex_);
            if (closed_) return;
            const QString text = errorText(std::current_exception());
            ++version_;
            messages_.update(
                [&](MessageList& list) { list.append(ChatMessage::make(text, ChatMessageType::error)); });
            chunkUpdated_.fire();
            statusMessage_.set(std::nullopt);
        }
        save();
        return;
    }
    if (closed_) return;
    context_.notifications->post(kLastMessageUpdated,
                                 UpdatedMessage{id_, withoutThinkBlock(accumulated)});
    if (isNew_) requestTitle(options);
    save();
}

void ConversationManager::requestTitle(const llm::SwiftLLMChatOptions& options) {
    QList<ChatMessage> request = messages_.get().toList();
    request.append(ChatMessage::make(kTitlePrompt, ChatMessageType::user));
    auto self = shared_from_this();
    context_.bridge->sendChat(request, options).then([self](const APIResult<QString>& result) {
        std::lock_guard lock(self->stateMutex_);
        if (self->closed_) return;
        if (!result.isSuccess()) {
            self->statusMessage_.set(QStringLiteral("Unable to get title: ") + result.error().message);
        } else {
            self->context_.notifications->post(
                kTitleUpdated, UpdatedMessage{self->id_, withoutThinkBlock(result.value())});
        }
        self->inSendingMessage_.set(false);
    });
}

void ConversationManager::save() {
    {
        std::lock_guard lock(stateMutex_);
        if (closed_) return;
        inSendingMessage_.set(false);
    }
    writeFile();
}

void ConversationManager::writeFile() {
    // Each write takes the transcript as it is at that moment; writes of one manager are
    // serialised so that an older transcript never replaces a newer one on disk.
    std::lock_guard lock(fileMutex_);
    MessageList transcript;
    std::uint64_t version;
    {
        std::lock_guard state(stateMutex_);
        transcript = messages_.get();
        version = version_;
    }
    if (context_.store->writeConversation(id_, transcript.toList())) writtenVersion_ = version;
}

void ConversationManager::close() {
    {
        std::lock_guard lock(stateMutex_);
        if (closed_.exchange(true)) return;
    }
    std::uint64_t version, written;
    {
        std::lock_guard file(fileMutex_);
        std::lock_guard state(stateMutex_);
        version = version_;
        written = writtenVersion_;
    }
    // A reply still arriving, or a write that failed, leaves the file behind the transcript.
    if (version != written) writeFile();
}

}  // namespace parlote
