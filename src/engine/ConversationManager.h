#pragma once

// The live object behind one conversation: owns its transcript, sends it to the model,
// grows the streamed reply in place, asks for a title, saves the conversation file and
// announces the finished reply and each title through the notification centre.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "ChatStore.h"
#include "MessageList.h"
#include "ModelServiceBridge.h"
#include "NotificationCenter.h"
#include "Published.h"
#include "TaskRunner.h"

namespace parlote {

/// Payload of the "conversationSaved" notification: the shown thread as it was written.
struct SavedTranscript {
    QUuid id;
    MessageList messages;
};

/// What a conversation manager works with; all of it outlives the managers.
struct EngineContext {
    ChatStore* store = nullptr;
    ModelServiceBridge* bridge = nullptr;
    NotificationCenter* notifications = nullptr;
    TaskRunner* tasks = nullptr;

    /// The process-wide store, bridge, notification centre and task runner.
    static EngineContext standard();
};

/// The words shown while the first piece of a reply is awaited.
extern const QStringList kStatusWords;
/// The request appended (only in what is sent) to ask for a conversation's title.
extern const QString kTitlePrompt;

/// The text of a reply or title without a leading "<think>...</think>" block.
QString withoutThinkBlock(const QString& text);

/// A model's answer to the title request made fit for the sidebar: without a think
/// block, its first non-empty line, and at most limits::kMaxTitleLength characters (a
/// longer line is cut at a word boundary and ends with an ellipsis).
QString titleFromReply(const QString& reply);

/// The transcript notice for a conversation file that could not be read and was moved
/// aside to `keptAs`.
QString damagedFileNotice(const QString& problem, const QString& keptAs);

/// What a failure of the connection to Ollama (lost, refused, timed out, an HTTP error
/// status) means for the user, in plain words; empty for other failures, whose own text
/// already says it (an error Ollama reported, a malformed answer).
QString friendlyErrorText(const OllamaError& error);

/// The error that ends a reply that grew past limits::kMaxReplyLength.
extern const QString kReplyTooLongText;

class ConversationManager : public std::enable_shared_from_this<ConversationManager> {
public:
    /// A manager for a brand-new conversation, with a fresh id. Touches no file.
    static std::shared_ptr<ConversationManager> makeNew(EngineContext context);
    /// A manager for an existing conversation, its transcript read from its file
    /// (empty when the file is missing or damaged).
    static std::shared_ptr<ConversationManager> load(EngineContext context, const QUuid& id);

    const QUuid& id() const { return id_; }
    bool isNew() const { return isNew_; }

    Published<MessageList>& messages() { return messages_; }
    /// How this conversation talks to its model (see ConversationSettings): read from its
    /// file, used by every request made from then on (send, regenerate, edit, title).
    Published<ConversationSettings>& settings() { return settings_; }
    Published<bool>& inSendingMessage() { return inSendingMessage_; }
    Published<std::optional<QString>>& statusMessage() { return statusMessage_; }
    /// Fired each time the transcript changed in a way the window should follow.
    EventSource& chunkUpdated() { return chunkUpdated_; }

    /// Appends `text` as the user's message, with the pictures `images` (names given by
    /// the store's AttachmentStore), and streams the reply of `model` into the transcript.
    /// Ignored while a reply is being received. Returns at once.
    ///
    /// The pictures of the transcript's user messages go with every request to a model
    /// that can see (asked once per model, see ModelServiceBridge::modelDetails); other
    /// models get the text alone. A picture whose file is gone is left out.
    void send(const QString& text, const QString& model, const QStringList& images = {});

    /// Stops the reply being received: the request is closed, so the model stops
    /// generating; the text so far stays, marked as stopped, and is saved. A stop before
    /// the first piece of text leaves no reply. Returns at once.
    void stop();

    /// Streams a new reply to the last user message of the shown thread in place of the
    /// messages after it, which stay as another version. Ignored while a reply is being
    /// received or when there is no user message.
    void regenerate(const QString& model);

    /// Replaces the user message `id` and everything after it with `text` (keeping the
    /// message's pictures) and its reply; the replaced messages stay as another version. Ignored
    /// while a reply is being received or when `id` is not a user message of the shown thread.
    void editAndResend(const QUuid& id, const QString& text, const QString& model);

    /// Shows version `index` of the message `id`: the thread from there on becomes that
    /// version's. Ignored while a reply is being received.
    void showVariant(const QUuid& id, int index);

    /// Replaces the conversation's settings; a reply being received keeps the settings
    /// it was asked with. Written to the conversation file at once, in the background,
    /// when the conversation has a file or messages; a new conversation without messages
    /// keeps them until its first message is saved. Returns at once.
    void setSettings(const ConversationSettings& settings);

    /// Ends the sending state and writes the conversation file.
    void save();

    /// For the application's last moments: writes the transcript as it stands, and from
    /// now on replies still arriving change nothing.
    void close();

    /// For a conversation being deleted for good: stops every reply (the requests close,
    /// so the model stops generating), and from now on nothing is written to the file.
    /// Returns once a write under way has ended, so the file can then be moved away.
    void discard();

    /// Writes the file again if it is behind the transcript (after a failed save).
    /// Blocks for the write; returns whether the file is now up to date.
    bool retrySave();

private:
    ConversationManager(EngineContext context, QUuid id, bool isNew, MessageList messages);

    /// Where a reply's version began (the index its reply takes in the thread) and which
    /// version to show again should a stop leave it with nothing.
    struct ReplyPlace {
        qsizetype at = 0;
        std::optional<int> previousVersion;
    };
    /// Publishes the transcript that is to be answered, enters the sending state and
    /// starts the reply task. Called under stateMutex_.
    void beginReply(MessageList transcript, const QString& model, ReplyPlace place);
    void runReply(MessageList transcript, kestrelix::llm::SwiftLLMChatOptions options,
                  ChatExtras extras, ChatMessage placeholder, ReplyPlace place);
    /// Ends a reply the user stopped: the text so far stays, marked; nothing at all leaves
    /// no reply. Called under stateMutex_.
    void finishStopped(const ChatMessage& placeholder, const QString& text, bool placed,
                       const ReplyPlace& place);
    /// The shown thread's last reply without its think block (the sidebar's preview), or
    /// nullopt when it has none. Called under stateMutex_.
    std::optional<QString> lastReplyText() const;
    void requestTitle(const kestrelix::llm::SwiftLLMChatOptions& options, const ChatExtras& extras);
    /// The pictures of `transcript`'s user messages, read from their files, when `model`
    /// can see; none otherwise. Blocks: called by the reply task.
    QHash<QUuid, QList<QByteArray>> picturesToSend(const MessageList& transcript,
                                                   const std::string& model) const;
    /// `stats` of a reply of `model` completed with the context length in effect and
    /// whether the conversation reached it. Asks Ollama which context the model was loaded
    /// with (/api/ps) only when that decides it. Blocks: called by the reply task.
    ReplyStats replyFigures(ReplyStats stats, const ConversationSettings& settings,
                            const std::string& model) const;
    /// Returns whether the file now holds the transcript as it was when called.
    bool writeFile();
    /// Publishes `text` as the reply's content, placing the reply on first use.
    /// Called under stateMutex_.
    void publishReply(const ChatMessage& placeholder, const QString& text, bool& placed);

    const EngineContext context_;
    const QUuid id_;
    const bool isNew_;

    // Serialises the read-modify-write steps of send, the reply task and the title task,
    // which run on different threads.
    mutable std::mutex stateMutex_;
    std::atomic<bool> closed_{false};
    std::uint64_t version_ = 0;  // counts changes of the transcript
    VariantPoints variants_;     // the versions not shown
    // The replies being received (normally one; a title request that ends the sending
    // state lets another begin), by their message id, so that stop() can close them.
    struct ActiveReply {
        std::optional<ThrowingStream<ZoruveVedeChunk>> stream;  // once the request is made
        bool stopRequested = false;
    };
    QHash<QUuid, ActiveReply> activeReplies_;

    std::mutex fileMutex_;              // taken before stateMutex_ when both are needed
    std::uint64_t writtenVersion_ = 0;  // the version last written to disk; under fileMutex_
    QString saveError_;                 // the reason of the last failed write; under fileMutex_
    bool discarded_ = false;            // discard() ran: no more writes; under fileMutex_

    Published<MessageList> messages_;
    Published<ConversationSettings> settings_;
    Published<bool> inSendingMessage_{false};
    Published<std::optional<QString>> statusMessage_;
    EventSource chunkUpdated_;
};

}  // namespace parlote
