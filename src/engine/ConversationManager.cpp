#include "ConversationManager.h"

#include <QLocale>
#include <QRandomGenerator>
#include <algorithm>
#include <chrono>

#include "Limits.h"

namespace parlote {

namespace llm = kestrelix::llm;

const QStringList kStatusWords = {
    QStringLiteral("Pondering"),  QStringLiteral("Contemplating"), QStringLiteral("Thinking"),
    QStringLiteral("Ruminating"), QStringLiteral("Considering"),   QStringLiteral("Analyzing"),
    QStringLiteral("Evaluating"), QStringLiteral("Cogitating"),    QStringLiteral("Reviewing")};

const QString kTitlePrompt =
    QStringLiteral("Please summarize this conversation in 10 words or less");

const QString kReplyTooLongText =
    QStringLiteral(
        "Error: The reply grew past %1 characters, the longest Parlote keeps; it "
        "was stopped there. The text above is kept.")
        .arg(QLocale::c().toString(static_cast<qlonglong>(limits::kMaxReplyLength)));

namespace {

/// The reply is shown at most this often while it streams: a burst of chunks from a fast
/// server becomes one update, while a model's normal pace (tens of milliseconds between
/// chunks) is shown chunk by chunk as before.
constexpr auto kPublishInterval = std::chrono::milliseconds(16);
using Clock = std::chrono::steady_clock;

/// Thrown into the reply's error path when it passes the length limit.
struct ReplyTooLong {};

constexpr double kTemperature = 0.7;
constexpr std::int32_t kMaxTokens = 2147483647;

llm::SwiftLLMChatOptions chatOptions(const QString& model) {
    return {model.toStdString(), kTemperature, kMaxTokens};
}

}  // namespace

QString friendlyErrorText(const OllamaError& error) {
    switch (error.errorCode) {
        case llm::kConnectionLost:
            return QStringLiteral(
                "The connection to Ollama was lost while the reply was streaming.");
        case llm::kConnectionFailed:
            return QStringLiteral(
                "Parlote could not connect to Ollama. Start the Ollama service and try again.");
        case llm::kTimedOut:
            return QStringLiteral("Ollama stopped answering: nothing arrived in time.");
        case llm::kHttpStatus:
            return QStringLiteral("Ollama answered with an error (HTTP status %1).")
                .arg(error.osError);
        default:
            return {};
    }
}

namespace {

/// The transcript line for a reply that failed: for a failure of the connection itself,
/// words a person understands, with the technical text after them as details.
QString errorText(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ReplyTooLong&) {
        return kReplyTooLongText;
    } catch (const OllamaError& error) {
        const QString friendly = friendlyErrorText(error);
        if (!friendly.isEmpty())
            return QStringLiteral("Error: %1\nDetails: %2").arg(friendly, error.message);
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

QString titleFromReply(const QString& reply) {
    const QString text = withoutThinkBlock(reply);
    QString line;
    for (QStringView candidate : QStringView(text).split(QLatin1Char('\n'))) {
        line = candidate.trimmed().toString();
        if (!line.isEmpty()) break;
    }
    if (line.size() <= limits::kMaxTitleLength) return line;
    // Cut at the last space that keeps the title within the limit, ellipsis included.
    const qsizetype room = limits::kMaxTitleLength - 1;
    qsizetype cut = line.lastIndexOf(QLatin1Char(' '), room);
    if (cut < room / 2) cut = room;                            // one very long word: cut inside it
    if (cut > 0 && line.at(cut - 1).isHighSurrogate()) --cut;  // never split a character
    return line.left(cut).trimmed() + QChar(0x2026);
}

QString damagedFileNotice(const QString& problem, const QString& keptAs) {
    if (keptAs.isEmpty())
        return QStringLiteral("Error: This conversation's file could not be read (%1).")
            .arg(problem);
    return QStringLiteral(
               "Error: This conversation's file could not be read (%1). It was kept unchanged "
               "as \"%2\"; new messages are saved to a new file.")
        .arg(problem, keptAs);
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
    TranscriptRead read = context.store->readConversationFile(id);
    if (!read.setAsidePath.isEmpty() || !read.problem.isEmpty())
        read.messages.append(ChatMessage::make(damagedFileNotice(read.problem, read.setAsidePath),
                                               ChatMessageType::error));
    MessageList transcript(std::move(read.messages));
    markVariants(transcript, read.variants);
    auto manager = std::shared_ptr<ConversationManager>(
        new ConversationManager(context, id, false, std::move(transcript)));
    manager->variants_ = std::move(read.variants);
    manager->settings_.set(std::move(read.settings));
    return manager;
}

void ConversationManager::send(const QString& text, const QString& model,
                               const QStringList& images) {
    std::lock_guard lock(stateMutex_);
    if (inSendingMessage_.get() || closed_) return;
    ++version_;
    MessageList transcript;
    messages_.update([&](MessageList& list) {
        list.append(ChatMessage::make(text, ChatMessageType::user).withImages(images));
        transcript = list;
    });
    beginReply(transcript, model, {transcript.size(), std::nullopt});
}

void ConversationManager::regenerate(const QString& model) {
    std::lock_guard lock(stateMutex_);
    if (inSendingMessage_.get() || closed_) return;
    MessageList thread = messages_.get();
    qsizetype lastUser = thread.size() - 1;
    while (lastUser >= 0 && thread.at(lastUser).type() != ChatMessageType::user) --lastUser;
    if (lastUser < 0) return;
    // The messages after the user's are kept as a version; the new reply takes their place.
    const ReplyPlace place{lastUser + 1, branchAt(thread, variants_, lastUser + 1)};
    markVariants(thread, variants_);
    ++version_;
    messages_.set(thread);
    beginReply(std::move(thread), model, place);
}

void ConversationManager::editAndResend(const QUuid& id, const QString& text,
                                        const QString& model) {
    std::lock_guard lock(stateMutex_);
    if (inSendingMessage_.get() || closed_) return;
    MessageList thread = messages_.get();
    const std::optional<qsizetype> at = thread.lastIndexOf(id);
    if (!at || thread.at(*at).type() != ChatMessageType::user) return;
    const QStringList images = thread.at(*at).images();
    branchAt(thread, variants_, *at);  // the edited message and all after it are kept
    thread.append(ChatMessage::make(text, ChatMessageType::user).withImages(images));
    markVariants(thread, variants_);
    ++version_;
    messages_.set(thread);
    beginReply(thread, model, {thread.size(), std::nullopt});
}

void ConversationManager::showVariant(const QUuid& id, int index) {
    std::optional<QString> preview;
    {
        std::lock_guard lock(stateMutex_);
        if (inSendingMessage_.get() || closed_) return;
        MessageList thread = messages_.get();
        const std::optional<qsizetype> at = thread.lastIndexOf(id);
        if (!at || !switchVariant(thread, variants_, *at, index)) return;
        markVariants(thread, variants_);
        ++version_;
        messages_.set(std::move(thread));
        preview = lastReplyText();
    }
    if (preview) context_.notifications->post(kLastMessageUpdated, UpdatedMessage{id_, *preview});
    auto self = shared_from_this();
    context_.tasks->start([self] { self->writeFile(); });
}

void ConversationManager::setSettings(const ConversationSettings& settings) {
    bool write;
    {
        std::lock_guard lock(stateMutex_);
        if (closed_ || settings_.get() == settings) return;
        ++version_;
        settings_.set(settings);
        write = !isNew_ || !messages_.get().isEmpty();
    }
    if (!write) return;
    auto self = shared_from_this();
    context_.tasks->start([self] { self->writeFile(); });
}

void ConversationManager::stop() {
    std::vector<ThrowingStream<ZoruveVedeChunk>> streams;
    {
        std::lock_guard lock(stateMutex_);
        if (closed_) return;
        for (ActiveReply& reply : activeReplies_) {
            reply.stopRequested = true;
            if (reply.stream) streams.push_back(*reply.stream);
        }
    }
    // Closes the requests (the model stops generating); a reply task still before its
    // request sees the stop and closes the request as soon as it is made.
    for (auto& stream : streams) stream.cancel();
}

void ConversationManager::beginReply(MessageList transcript, const QString& model,
                                     ReplyPlace place) {
    ChatMessage placeholder = ChatMessage::make(QString(), ChatMessageType::assistant);
    for (const VariantPoint& point : variants_)
        if (point.at == place.at)
            placeholder = placeholder.withVariants(point.shown, point.count());
    inSendingMessage_.set(true);
    activeReplies_.insert(placeholder.id(), ActiveReply{});
    chunkUpdated_.fire();
    statusMessage_.set(kStatusWords[QRandomGenerator::global()->bounded(kStatusWords.size())]);
    auto self = shared_from_this();
    ChatExtras extras{settings_.get()};
    context_.tasks->start([self, transcript = std::move(transcript), options = chatOptions(model),
                           extras = std::move(extras), placeholder, place] {
        self->runReply(transcript, options, extras, placeholder, place);
    });
}

void ConversationManager::publishReply(const ChatMessage& placeholder, const QString& text,
                                       bool& placed) {
    // The published text gets storage of its own: the reply keeps growing in place in
    // the reply task while readers on other threads hold this version.
    ChatMessage reply = placeholder.withContent(QString(text.constData(), text.size()));
    ++version_;
    const bool first = !placed;
    messages_.update([&](MessageList& list) {
        // The reply grows at its own message, wherever a later send has put it.
        const std::optional<qsizetype> at =
            placed ? list.lastIndexOf(placeholder.id()) : std::nullopt;
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

std::optional<QString> ConversationManager::lastReplyText() const {
    const MessageList thread = messages_.get();
    for (qsizetype i = thread.size() - 1; i >= 0; --i)
        if (thread.at(i).type() == ChatMessageType::assistant)
            return withoutThinkBlock(thread.at(i).content());
    return std::nullopt;
}

void ConversationManager::finishStopped(const ChatMessage& placeholder, const QString& text,
                                        bool placed, const ReplyPlace& place) {
    MessageList thread = messages_.get();
    const qsizetype at = placed ? thread.lastIndexOf(placeholder.id()).value_or(-1) : -1;
    if (!text.isEmpty()) {
        ChatMessage reply =
            placeholder.withContent(QString(text.constData(), text.size())).withStopped(true);
        if (at >= 0) {
            thread.replace(at, std::move(reply));
        } else {
            thread.append(std::move(reply));
        }
    } else {
        // Stopped before the first word: no empty reply stays behind, and a regenerated
        // reply that came to nothing gives its place back to the one it replaced.
        if (at >= 0) {
            QList<ChatMessage> list = thread.toList();
            list.removeAt(at);
            thread = MessageList(list);
        }
        if (place.previousVersion)
            discardEmptyVersion(thread, variants_, place.at, *place.previousVersion);
        markVariants(thread, variants_);
    }
    ++version_;
    messages_.set(std::move(thread));
    chunkUpdated_.fire();
    statusMessage_.set(std::nullopt);
    inSendingMessage_.set(false);
    if (closed_) return;
    if (auto preview = lastReplyText())
        context_.notifications->post(kLastMessageUpdated, UpdatedMessage{id_, *preview});
}

void ConversationManager::runReply(MessageList transcript, llm::SwiftLLMChatOptions options,
                                   ChatExtras extras, ChatMessage placeholder, ReplyPlace place) {
    // The user's message is on disk before the reply starts, so that neither a crash nor
    // quitting during a long reply loses it.
    writeFile();

    extras.images = picturesToSend(transcript, options.model);
    // A model known not to think refuses any "think" but false: a setting chosen with
    // another model, or a default of new conversations, is left out of its requests (and
    // of its title's) rather than failing every reply.
    if (extras.settings.think && *extras.settings.think != ThinkSetting::off) {
        const auto details =
            context_.bridge->modelDetails(QString::fromStdString(options.model)).result();
        if (details.isSuccess() && details.value().capabilitiesKnown &&
            !details.value().supportsThinking())
            extras.settings.think.reset();
    }
    auto stream = context_.bridge->streamChat(transcript.toList(), options, extras);
    bool stopNow;
    {
        std::lock_guard lock(stateMutex_);
        ActiveReply& active = activeReplies_[placeholder.id()];
        active.stream = stream;
        stopNow = active.stopRequested;
    }
    if (stopNow) stream.cancel();
    // The reply grows here, in place; what the window sees is published from it at most
    // once per kPublishInterval, so the cost of a chunk does not grow with the reply.
    QString accumulated;
    bool placed = false;
    bool unpublished = false;  // `accumulated` holds text not yet published
    Clock::time_point publishedAt;
    // A reply that opens with a think block: when the thinking began, until its end is seen.
    static const QString thinkOpen = QStringLiteral("<think>");
    static const QString thinkClose = QStringLiteral("</think>");
    std::optional<Clock::time_point> thinkingSince;
    bool thinkingKnown = false;  // the block's end was seen, or there is no block
    auto measureThinking = [&](qsizetype sizeBefore) {
        if (thinkingKnown) return;
        if (!thinkingSince) {
            if (accumulated.size() < thinkOpen.size()) return;
            if (!accumulated.startsWith(thinkOpen)) {
                thinkingKnown = true;
                return;
            }
            thinkingSince = Clock::now();
        }
        // Only the new text (and the few characters a split tag can start in) is searched.
        const qsizetype from = std::max<qsizetype>(0, sizeBefore - thinkClose.size());
        if (accumulated.indexOf(thinkClose, from) < 0) return;
        thinkingKnown = true;
        const std::chrono::duration<double> took = Clock::now() - *thinkingSince;
        placeholder = placeholder.withThinkingSeconds(took.count());
    };
    // Shows what `accumulated` holds now; called with stateMutex_ held.
    auto publishPending = [&] {
        if (!unpublished) return;
        publishReply(placeholder, accumulated, placed);
        publishedAt = Clock::now();
        unpublished = false;
    };
    // The reply task's part ends: stop() no longer reaches this request. Under stateMutex_.
    auto endRequest = [&] { return activeReplies_.take(placeholder.id()).stopRequested; };
    // The user stopped the reply: what came stays, and is saved.
    auto keepStopped = [&] {
        finishStopped(placeholder, accumulated, placed, place);
        // Outside the lock; save() would do nothing once the application is closing.
    };
    // Once close() has run (the application quits), the text received since the last
    // publication still reaches the transcript and the file; nothing else happens.
    auto keepAfterClose = [&] {
        stream.cancel();
        {
            std::lock_guard lock(stateMutex_);
            endRequest();
            if (!unpublished) return;
            publishPending();
        }
        writeFile();
    };
    try {
        for (;;) {
            std::optional<ZoruveVedeChunk> chunk;
            if (unpublished) {
                // Wait no longer than the rest of the interval for more text.
                const auto wait = std::max(Clock::duration::zero(),
                                           publishedAt + kPublishInterval - Clock::now());
                bool timedOut = false;
                chunk = stream.nextWithin(wait, timedOut);
                if (timedOut) {
                    if (closed_) return keepAfterClose();
                    std::lock_guard lock(stateMutex_);
                    publishPending();
                    continue;
                }
            } else {
                chunk = stream.next();
            }
            if (!chunk) break;
            if (chunk->stats)
                placeholder = placeholder.withStats(
                    replyFigures(*chunk->stats, extras.settings, options.model));
            std::unique_lock lock(stateMutex_);
            const qsizetype sizeBefore = accumulated.size();
            accumulated += chunk->content;
            if (accumulated.size() > limits::kMaxReplyLength) {
                stream.cancel();  // closes the connection: Ollama stops generating
                qsizetype keep = limits::kMaxReplyLength;
                if (accumulated.at(keep - 1).isHighSurrogate()) --keep;
                accumulated.truncate(keep);
                unpublished = true;  // the error path publishes what is kept
                throw ReplyTooLong{};
            }
            measureThinking(sizeBefore);
            if (placed && chunk->content.isEmpty() && !chunk->stats) continue;  // nothing new
            unpublished = true;
            if (closed_ && !activeReplies_.value(placeholder.id()).stopRequested) {
                lock.unlock();
                return keepAfterClose();
            }
            if (!placed || Clock::now() - publishedAt >= kPublishInterval) publishPending();
        }
        bool stopped;
        {
            std::lock_guard lock(stateMutex_);
            stopped = endRequest();
            if (stopped) keepStopped();
        }
        if (stopped) {
            writeFile();
            return;
        }
        if (closed_) return keepAfterClose();
        std::lock_guard lock(stateMutex_);
        publishPending();
    } catch (...) {
        bool stopped;
        {
            std::lock_guard lock(stateMutex_);
            stopped = endRequest();
            if (stopped) keepStopped();  // a request closed by a stop is no error
        }
        if (stopped) {
            writeFile();
            return;
        }
        if (closed_) return keepAfterClose();
        {
            std::lock_guard lock(stateMutex_);
            publishPending();  // what came before the failure is kept
            const QString text = errorText(std::current_exception());
            ++version_;
            messages_.update([&](MessageList& list) {
                list.append(ChatMessage::make(text, ChatMessageType::error));
            });
            chunkUpdated_.fire();
            statusMessage_.set(std::nullopt);
        }
        save();
        return;
    }
    if (closed_) return;
    context_.notifications->post(kLastMessageUpdated,
                                 UpdatedMessage{id_, withoutThinkBlock(accumulated)});
    if (isNew_) requestTitle(options, extras);
    save();
}

ReplyStats ConversationManager::replyFigures(ReplyStats stats, const ConversationSettings& settings,
                                             const std::string& model) const {
    // Below this no server runs a model unless a request or its configuration asks for
    // less: a conversation that has not used this much cannot have filled the context.
    constexpr qint64 kSmallestDefaultContext = 2048;
    const qint64 used = stats.promptEvalCount + stats.evalCount;
    if (const auto asked = settings.valid().contextLength) {
        stats.contextLength = *asked;
    } else if (used >= kSmallestDefaultContext) {
        // The context the server chose (its default, OLLAMA_CONTEXT_LENGTH, the Modelfile,
        // the GPU's size on newer servers) is what /api/ps reports for the loaded model.
        const auto running = context_.bridge->runningModels().result();
        if (running.isSuccess())
            for (const RunningModel& loaded : running.value())
                if (sameModelName(loaded.name, QString::fromStdString(model)) &&
                    loaded.contextLength > 0)
                    stats.contextLength = loaded.contextLength;
        if (stats.contextLength == 0) stats.contextLength = kDefaultContextLength;
    }
    stats.contextCut = stats.contextLength > 0 && used >= stats.contextLength;
    return stats;
}

QHash<QUuid, QList<QByteArray>> ConversationManager::picturesToSend(
    const MessageList& transcript, const std::string& model) const {
    const auto hasPictures = [](const ChatMessage& message) {
        return message.type() == ChatMessageType::user && !message.images().isEmpty();
    };
    if (std::none_of(transcript.begin(), transcript.end(), hasPictures)) return {};
    // Asked only for a conversation with pictures; answered from memory after the first time.
    const auto details = context_.bridge->modelDetails(QString::fromStdString(model)).result();
    if (!details.isSuccess() || !details.value().supportsVision()) return {};
    QHash<QUuid, QList<QByteArray>> pictures;
    for (const ChatMessage& message : transcript) {
        if (!hasPictures(message)) continue;
        QList<QByteArray>& list = pictures[message.id()];
        for (const QString& reference : message.images())
            if (auto bytes = context_.store->attachments().read(reference))
                list.append(std::move(*bytes));
    }
    return pictures;
}

void ConversationManager::requestTitle(const llm::SwiftLLMChatOptions& options,
                                       const ChatExtras& extras) {
    QList<ChatMessage> request = messages_.get().toList();
    request.append(ChatMessage::make(kTitlePrompt, ChatMessageType::user));
    auto self = shared_from_this();
    // The same settings as the reply: a different context length would make Ollama load
    // the model again just for the title.
    ChatExtras titleExtras{extras.settings};
    context_.bridge->sendChat(request, options, titleExtras)
        .then([self](const APIResult<QString>& result) {
            std::lock_guard lock(self->stateMutex_);
            if (self->closed_) return;
            if (!result.isSuccess()) {
                self->statusMessage_.set(QStringLiteral("Unable to get title: ") +
                                         result.error().message);
            } else {
                self->context_.notifications->post(
                    kTitleUpdated, UpdatedMessage{self->id_, titleFromReply(result.value())});
            }
            // A later reply may have begun while the title was awaited: the transcript is
            // idle only once no reply is being received.
            if (self->activeReplies_.isEmpty()) self->inSendingMessage_.set(false);
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

bool ConversationManager::writeFile() {
    // Each write takes the transcript as it is at that moment; writes of one manager are
    // serialised so that an older transcript never replaces a newer one on disk.
    std::lock_guard lock(fileMutex_);
    if (discarded_) return true;  // the conversation is deleted: its file is not written again
    MessageList transcript;
    VariantPoints variants;
    ConversationSettings settings;
    std::uint64_t version;
    {
        std::lock_guard state(stateMutex_);
        transcript = messages_.get();
        variants = variants_;
        settings = settings_.get();
        version = version_;
    }
    const WriteResult result =
        context_.store->writeConversation(id_, transcript.toList(), variants, settings);
    const bool wasFailing = !saveError_.isEmpty();
    if (result) {
        writtenVersion_ = version;
        saveError_.clear();
        if (wasFailing) context_.notifications->post(kSaveStateChanged, UpdatedMessage{id_, {}});
        context_.notifications->post(kConversationSaved, SavedTranscript{id_, transcript});
        return true;
    }
    // The transcript stays in memory; the user is told, and the next change, a retry or
    // quitting writes it again.
    saveError_ = result.error;
    context_.notifications->post(kSaveStateChanged, UpdatedMessage{id_, result.error});
    return false;
}

bool ConversationManager::retrySave() {
    {
        std::lock_guard file(fileMutex_);
        std::lock_guard state(stateMutex_);
        if (version_ == writtenVersion_ && saveError_.isEmpty()) return true;
    }
    return writeFile();
}

void ConversationManager::discard() {
    std::vector<ThrowingStream<ZoruveVedeChunk>> streams;
    {
        // Taking the file lock waits for a write under way; none starts after this.
        std::lock_guard file(fileMutex_);
        std::lock_guard lock(stateMutex_);
        discarded_ = true;
        closed_ = true;
        for (ActiveReply& reply : activeReplies_) {
            reply.stopRequested = true;
            if (reply.stream) streams.push_back(*reply.stream);
        }
    }
    for (auto& stream : streams) stream.cancel();
}

void ConversationManager::close() {
    {
        std::lock_guard lock(stateMutex_);
        if (closed_.exchange(true)) return;
    }
    // A reply still arriving, or a write that failed, leaves the file behind the transcript.
    retrySave();
}

}  // namespace parlote
