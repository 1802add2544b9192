#pragma once

// The value records that every layer of Parlote passes around: sidebar ids,
// sidebar entries, chat messages, installed models and the payload of the
// "titleUpdated" / "lastMessageUpdated" notifications.

#include <QDateTime>
#include <QHashFunctions>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <cstdint>
#include <functional>
// Only the names: the JSON library itself reaches just the files that read or write JSON.
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <stdexcept>

namespace parlote {

/// A record read from a file did not have the expected shape.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The canonical text of a UUID: 36 characters, upper-case hexadecimal, 8-4-4-4-12.
QString uuidText(const QUuid& uuid);
/// Parses the 8-4-4-4-12 form (either case); anything else, braces included, gives nullopt.
std::optional<QUuid> uuidFromText(QStringView text);

/// A date as written to files: ISO 8601 in UTC, whole seconds, "Z" (2025-01-31T09:15:00Z).
/// Any fraction of a second is dropped.
QString dateText(const QDateTime& date);
/// Reads exactly the form `dateText` writes; fractions, offsets and other forms give nullopt.
std::optional<QDateTime> dateFromText(QStringView text);

/// Identifies one entry of the conversation sidebar: an existing conversation or the
/// new-conversation state.
class SidebarID {
public:
    static SidebarID newConversation() { return SidebarID(); }
    static SidebarID conversation(const QUuid& uuid) { return SidebarID(uuid); }

    bool isNewConversation() const { return !uuid_.has_value(); }
    bool isConversation() const { return uuid_.has_value(); }
    /// The conversation's UUID; the null UUID for the new-conversation state.
    QUuid uuid() const { return uuid_.value_or(QUuid()); }
    /// "new", or the conversation UUID's canonical text.
    QString id() const;

    friend bool operator==(const SidebarID&, const SidebarID&) = default;

private:
    SidebarID() = default;
    explicit SidebarID(const QUuid& uuid) : uuid_(uuid) {}
    std::optional<QUuid> uuid_;
};

size_t qHash(const SidebarID& id, size_t seed = 0) noexcept;

/// One entry of the conversation sidebar.
class Conversation {
public:
    Conversation(SidebarID id, QString title, QString lastMessage)
        : id_(std::move(id)), title_(std::move(title)), lastMessage_(std::move(lastMessage)) {}

    const SidebarID& id() const { return id_; }
    const QString& title() const { return title_; }
    const QString& lastMessage() const { return lastMessage_; }
    void setTitle(QString title) { title_ = std::move(title); }
    void setLastMessage(QString text) { lastMessage_ = std::move(text); }
    /// Whether the user pinned it: the sidebar shows pinned conversations in a group of
    /// their own above the others. Stored in "toc.json" as "pinned": true, only when set.
    bool pinned() const { return pinned_; }
    void setPinned(bool pinned) { pinned_ = pinned; }

    friend bool operator==(const Conversation&, const Conversation&) = default;

private:
    SidebarID id_;
    QString title_;
    QString lastMessage_;
    bool pinned_ = false;
};

/// `list` as the sidebar shows it: the pinned conversations first, then the others, each
/// group in the list's own order.
QList<Conversation> pinnedFirst(const QList<Conversation>& list);

size_t qHash(const Conversation& conversation, size_t seed = 0) noexcept;

/// Who wrote a message. The text forms are written to disk: do not change them.
enum class ChatMessageType { user, assistant, error };

QString toText(ChatMessageType type);
/// Fails (nullopt) for any text other than "user", "assistant" and "error".
std::optional<ChatMessageType> chatMessageTypeFromText(QStringView text);

inline size_t qHash(ChatMessageType type, size_t seed = 0) noexcept {
    return qHash(toText(type), seed);
}

/// What Ollama measured of one reply (the figures of its final record), and whether the
/// conversation filled the model's context. Counts in tokens, durations in nanoseconds;
/// a figure the server did not send is 0.
///
/// Stored with the reply, as "stats" after its other keys: an object with the figures
/// that are not 0 under Ollama's names (eval_count, eval_duration, prompt_eval_count,
/// prompt_eval_duration, load_duration, total_duration), then "context_length" when known
/// and "context_cut": true when set. Read tolerantly, as figures are: a bad value drops
/// that figure, a "stats" that is not an object drops the figures, never the message.
struct ReplyStats {
    qint64 evalCount = 0;           // generated tokens, thinking included
    qint64 evalDuration = 0;        // generating them
    qint64 promptEvalCount = 0;     // prompt tokens the model read, after any truncation
    qint64 promptEvalDuration = 0;  // reading the part of the prompt it had not cached
    qint64 loadDuration = 0;        // waiting for the model and loading it
    qint64 totalDuration = 0;       // the whole request
    /// The context the model ran with for this reply, in tokens: the conversation's
    /// num_ctx when set, else what Ollama reported for the loaded model when it was asked
    /// (see contextCut); 0 when not known.
    qint64 contextLength = 0;
    /// The prompt and the reply together reached the context length: Ollama then drops
    /// the oldest messages from what the model reads (or the oldest part of the context
    /// while it generates), so the model did not see the whole conversation.
    bool contextCut = false;

    /// Generation speed, eval_count / eval_duration; nullopt without both figures.
    std::optional<double> tokensPerSecond() const;
    /// Prompt reading speed, prompt_eval_count / prompt_eval_duration; nullopt without both.
    /// Inflated on newer servers by cached tokens, which count but take no time.
    std::optional<double> promptTokensPerSecond() const;

    friend bool operator==(const ReplyStats&, const ReplyStats&) = default;

    nlohmann::ordered_json toJson() const;
    /// Never throws: see above.
    static ReplyStats fromJson(const nlohmann::ordered_json& object);
};

/// One message of a conversation. Immutable: a reply that grows is replaced by new
/// records that keep its id, type and timestamp.
class ChatMessage {
public:
    ChatMessage(QUuid id, QString content, ChatMessageType type, QDateTime timestamp)
        : id_(id), content_(std::move(content)), type_(type), timestamp_(std::move(timestamp)) {}

    /// A new message with a fresh random id, stamped now.
    static ChatMessage make(QString content, ChatMessageType type);

    const QUuid& id() const { return id_; }
    const QString& content() const { return content_; }
    ChatMessageType type() const { return type_; }
    const QDateTime& timestamp() const { return timestamp_; }

    /// Whether the user stopped this reply before the model ended it. Stored, as
    /// "stopped": true after the four keys, only when set.
    bool stopped() const { return stopped_; }
    /// The pictures sent with this message, as AttachmentStore names, in order. Stored,
    /// as "images": [...] after "stopped", only when there are any. Only a user message's
    /// pictures are sent, and only to a model that can see.
    const QStringList& images() const { return images_; }
    /// The figures of a reply that Ollama ended (not of one stopped or failed); stored.
    const std::optional<ReplyStats>& stats() const { return stats_; }
    /// How long the model thought before it began to answer, in seconds, when that was
    /// measured while the reply streamed; unknown for a reply read from a file. Not stored.
    std::optional<double> thinkingSeconds() const { return thinkingSeconds_; }
    /// Where the conversation can take another course at this message (a regenerated reply,
    /// an edited message): which of the `variantCount()` versions this is, from 0. A count
    /// below 2 means there is no other version. Kept by the conversation, not the message:
    /// not stored with it.
    int variantIndex() const { return variantIndex_; }
    int variantCount() const { return variantCount_; }
    bool hasVariants() const { return variantCount_ > 1; }

    /// A copy with other content and the same id, type, timestamp and marks.
    ChatMessage withContent(QString content) const {
        ChatMessage copy = *this;
        copy.content_ = std::move(content);
        return copy;
    }
    ChatMessage withStopped(bool stopped) const {
        ChatMessage copy = *this;
        copy.stopped_ = stopped;
        return copy;
    }
    ChatMessage withImages(QStringList references) const {
        ChatMessage copy = *this;
        copy.images_ = std::move(references);
        return copy;
    }
    ChatMessage withStats(std::optional<ReplyStats> stats) const {
        ChatMessage copy = *this;
        copy.stats_ = std::move(stats);
        return copy;
    }
    ChatMessage withThinkingSeconds(std::optional<double> seconds) const {
        ChatMessage copy = *this;
        copy.thinkingSeconds_ = seconds;
        return copy;
    }
    ChatMessage withVariants(int index, int count) const {
        ChatMessage copy = *this;
        copy.variantIndex_ = index;
        copy.variantCount_ = count;
        return copy;
    }

    friend bool operator==(const ChatMessage&, const ChatMessage&) = default;

    /// {"id":…,"content":…,"type":…,"timestamp":…} in this key order, then "stopped",
    /// "images" and "stats" when set.
    nlohmann::ordered_json toJson() const;
    /// Requires the four keys with values of the right kind; reads "stopped" when it is
    /// `true`; ignores other keys. "images", when present, is what the user sent and is
    /// read strictly, as the four keys are: anything but an array of picture names
    /// (AttachmentStore::isReference) throws, so that the file is kept aside rather than
    /// saved again without them. Throws DecodingError.
    static ChatMessage fromJson(const nlohmann::ordered_json& object);

private:
    QUuid id_;
    QString content_;
    ChatMessageType type_;
    QDateTime timestamp_;
    bool stopped_ = false;
    QStringList images_;
    std::optional<ReplyStats> stats_;
    std::optional<double> thinkingSeconds_;
    int variantIndex_ = 0;
    int variantCount_ = 0;
};

/// One model installed in the local Ollama service.
struct ChatModel {
    QString id;
    QString model;
    QString digest;
    std::uint64_t size = 0;
    QString family;
    QString format;
    QString paramSize;
    QString quantLevel;

    friend bool operator==(const ChatModel&, const ChatModel&) = default;
};

/// Payload of the "titleUpdated" and "lastMessageUpdated" notifications.
struct UpdatedMessage {
    QUuid id;
    QString string;

    friend bool operator==(const UpdatedMessage&, const UpdatedMessage&) = default;
};

}  // namespace parlote

template <>
struct std::hash<parlote::SidebarID> {
    size_t operator()(const parlote::SidebarID& id) const noexcept { return parlote::qHash(id); }
};
template <>
struct std::hash<parlote::Conversation> {
    size_t operator()(const parlote::Conversation& c) const noexcept { return parlote::qHash(c); }
};

Q_DECLARE_METATYPE(parlote::ChatModel)
Q_DECLARE_METATYPE(parlote::Conversation)
Q_DECLARE_METATYPE(parlote::SidebarID)
