#pragma once

// The conversation store: the data folder with "toc.json" (the sidebar's table of
// contents) and one "<UUID>.json" file per conversation.

#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>
#include <chrono>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "AtomicFile.h"
#include "AttachmentStore.h"
#include "ChatRecords.h"
#include "ConversationSettings.h"
#include "Future.h"
#include "Limits.h"
#include "Variants.h"

namespace parlote {

/// Reading or writing "toc.json" failed.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const std::string& what, QString reason = {})
        : std::runtime_error(what), reason_(std::move(reason)) {}
    /// Why a write failed, in the system's words ("No space left on device"); empty when
    /// the failure was not a write.
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

/// The outcome of writing a conversation file: true when written, else why not.
struct WriteResult {
    QString error;  // empty on success
    explicit operator bool() const { return error.isEmpty(); }
};

/// A conversation file as read: its transcript, and where a file that existed but could
/// not be decoded was moved (empty when the file was fine or missing).
struct TranscriptRead {
    QList<ChatMessage> messages;
    VariantPoints variants;         // the versions not shown (the optional "variants" key)
    ConversationSettings settings;  // the optional "settings" key; empty when absent
    QString setAsidePath;
    QString problem;  // why it could not be decoded
};

class ChatStore {
public:
    /// Files larger than this are not read: a conversation file over the limit reads as
    /// empty and a "toc.json" over it counts as damaged.
    static constexpr qint64 maxFileSize = limits::kMaxFileBytes;
    /// Temporary files of interrupted saves at least this old are removed when a store
    /// is created; younger ones may belong to a save in progress in another process.
    static constexpr std::chrono::seconds kStaleTemporaryAge = std::chrono::hours(1);

    /// The process-wide store over the user's data folder
    /// ($XDG_DATA_HOME, by default ~/.local/share, + "Parlote"). Created on first use.
    static ChatStore& shared();

    /// A store over `folder`, which is created (with its parents, mode 0700) if missing;
    /// a failure to create it is ignored.
    explicit ChatStore(QString folder);
    /// Waits for a read ahead still under way: it reads through this store.
    ~ChatStore();
    // A read ahead under way refers to its store: the store stays where it is.
    ChatStore(const ChatStore&) = delete;
    ChatStore& operator=(const ChatStore&) = delete;

    const QString& appFolder() const { return appFolder_; }

    /// The sidebar list in file order; empty when there is no "toc.json".
    /// Throws StoreError when the file cannot be read or decoded. A file that cannot be
    /// decoded is first moved aside (renamed "toc.damaged-<time>.json") so that no later
    /// save can overwrite it.
    QList<Conversation> loadTOC() const;

    /// Starts reading "toc.json" on a thread of its own; the next loadTOC() takes that
    /// result (or its error) instead of reading the file itself. Lets start-up read a
    /// long list while the window is being built. Nothing else may write "toc.json"
    /// before that loadTOC().
    void prefetchTOC();

    /// Writes every conversation of `list` (the new-conversation item is skipped) to
    /// "toc.json", replacing the file atomically. Throws StoreError on failure.
    void saveTOC(const QList<Conversation>& list) const;

    /// The transcript of conversation `id`: empty when the file is missing. A file that
    /// exists but cannot be read or decoded is first moved aside (renamed
    /// "<UUID>.damaged-<time>.json") so that no later save can overwrite it; the result
    /// says where it went.
    TranscriptRead readConversationFile(const QUuid& id) const;
    /// The messages of readConversationFile(id).
    QList<ChatMessage> readConversation(const QUuid& id) const;

    /// Replaces the file of conversation `id` atomically with `messages`, the versions
    /// not shown and the conversation's settings (each written only when there are any).
    /// On failure the old file is untouched and the result says why.
    WriteResult writeConversation(const QUuid& id, const QList<ChatMessage>& messages,
                                  const VariantPoints& variants = {},
                                  const ConversationSettings& settings = {}) const;

    /// The pictures attached to messages, in the "attachments" folder of this store.
    const AttachmentStore& attachments() const { return attachments_; }

    /// The pictures (AttachmentStore names) that conversation `id`'s file refers to and no
    /// other file of the data folder does (another conversation, a version kept aside, a
    /// damaged file set aside): what can go with the conversation when it is deleted or
    /// moved to the trash. Reads every file of the folder, so call it off the interface
    /// thread. Empty when the conversation has no file.
    QStringList attachmentsOnlyUsedBy(const QUuid& id) const;

    /// Text typed but not sent, by the sidebar id it was typed in ("new" or a UUID), from
    /// "drafts.json". A missing or unreadable file gives no drafts.
    QHash<QString, QString> loadDrafts() const;
    /// Replaces "drafts.json" atomically; no drafts removes the file.
    WriteResult saveDrafts(const QHash<QString, QString>& drafts) const;
    QString draftsPath() const;

    /// Pictures attached to drafts but not sent, by sidebar id, from "draft-pictures.json"
    /// (beside "drafts.json", which keeps the text alone). Names that are not picture
    /// names, and pictures whose file is gone, are left out; a missing or unreadable file
    /// gives none.
    QHash<QString, QStringList> loadDraftPictures() const;
    /// Replaces "draft-pictures.json" atomically; no pictures (or only empty lists) removes
    /// the file.
    WriteResult saveDraftPictures(const QHash<QString, QStringList>& pictures) const;
    QString draftPicturesPath() const;

    /// Replaces the system calls that writes go through (for tests of failing disks).
    /// Call before the store is shared with other threads.
    void setFileIo(FileIo io) {
        attachments_.setFileIo(io);
        io_ = std::move(io);
    }

    /// The path of conversation `id`'s file.
    QString conversationPath(const QUuid& id) const;
    QString tocPath() const;

    /// Removes the temporary files that saves interrupted by a crash leave beside
    /// "toc.json" and the conversation files ("<name>.json.XXXXXX"), if they are at least
    /// `minimumAge` old. Returns how many were removed.
    int removeStaleTemporaryFiles(std::chrono::seconds minimumAge) const;

private:
    QList<Conversation> readTOC() const;

    QString appFolder_;
    FileIo io_ = FileIo::system();
    AttachmentStore attachments_;
    // The result of prefetchTOC() (the list, or the reader's error), until loadTOC() takes it.
    using Prefetch = std::pair<QList<Conversation>, std::exception_ptr>;
    mutable std::mutex prefetchMutex_;
    mutable std::optional<Future<Prefetch>> prefetched_;
};

}  // namespace parlote
