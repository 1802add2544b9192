#pragma once

// The full-text index of every conversation: an SQLite FTS5 database in the cache folder
// with one row per conversation title and one per shown message. The conversation files
// stay the truth; the index is a cache that can be thrown away and built again from them.
//
// Case and accents do not matter ("cafe" finds "Café"). For each conversation the index
// also keeps a fingerprint of the file it was built from, so that a start-up can find the
// conversations that changed while Parlote was not running.
//
// A SearchIndex is one SQLite connection: it is used from one thread only.

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>
#include <unordered_map>

#include "MessageList.h"
#include "SearchText.h"

namespace parlote {

namespace sqlite {
class Database;
class Statement;
}  // namespace sqlite

/// One place where a query matched.
struct SearchHit {
    QUuid conversation;
    QString title;
    /// The message that matched; null when the title matched.
    QUuid message;
    /// The message's date; for a title, the date of the conversation's newest message
    /// (invalid when it has none).
    QDateTime date;
    /// The matching part of the message (the whole title for a title), on one line, with
    /// "…" where it was cut.
    QString snippet;
    /// Where in `snippet` the query's words are.
    QList<TextRange> matches;
};

/// What identifies one version of a conversation file: size, modification time and inode
/// (every save replaces the file, so a new inode). A missing file has size -1.
struct FileFingerprint {
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 inode = 0;

    static FileFingerprint of(const QString& path);
    friend bool operator==(const FileFingerprint&, const FileFingerprint&) = default;
};

class SearchIndex {
public:
    /// Version of the tables and of what they hold; an index of another version is
    /// replaced by an empty one (and filled again from the files). 2: messages as they
    /// read rendered, not their Markdown.
    static constexpr int kSchemaVersion = 2;

    /// Opens the index at `path`, creating the file and its folder (mode 0700) when
    /// missing. A file that is not an index of this version, or is damaged so that it
    /// cannot be read, is deleted and an empty index made in its place: created() says
    /// so. Throws sqlite::Error when no index can be had there at all.
    explicit SearchIndex(const QString& path);
    ~SearchIndex();
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;

    /// Deletes the index file at `path` with SQLite's journal files beside it.
    static void discard(const QString& path);

    /// Whether the index was made empty on opening (it was missing, damaged or outdated).
    bool created() const { return created_; }

    struct Indexed {
        QString title;
        FileFingerprint fingerprint;
    };
    /// Every conversation the index holds, with what it was built from.
    const QHash<QUuid, Indexed>& conversations() const { return conversations_; }

    /// Makes conversation `id` hold `title` and the text of `messages` (built from the
    /// file version `fingerprint`). Only what changed is written: messages kept with the
    /// same id and text stay as they are. Empty messages are not indexed.
    void setConversation(const QUuid& id, const QString& title, const MessageList& messages,
                         const FileFingerprint& fingerprint);
    /// Changes the title of a conversation the index holds; does nothing for another.
    void setTitle(const QUuid& id, const QString& title);
    void removeConversation(const QUuid& id);

    /// Runs the changes made inside `changes` as one transaction (one sync to disk for
    /// many conversations); a failure undoes all of them, and the in-memory list too.
    void batch(const std::function<void()>& changes);

    /// How many matches a query ranks at most: the newest ones. A word found in more
    /// places than this finds the best among its newest uses.
    static constexpr qint64 kRankedMatches = 2'000;

    /// The best `limit` places where `typed` matches (see matchExpression), by relevance
    /// (bm25), then the newest first. Nothing for text without a word.
    /// `interrupted` is asked now and then while the query runs; when it answers true the
    /// query ends with an sqlite::Error that is interrupted().
    QList<SearchHit> search(QStringView typed, int limit,
                            std::function<bool()> interrupted = {}) const;

private:
    void open(const QString& path);
    /// The prepared statement for `sql` (a literal), made on first use, reset and
    /// ready to be bound.
    sqlite::Statement& statement(const char* sql) const;
    /// Runs `change` in a transaction; on failure the in-memory lists are as before.
    void write(const std::function<void()>& change);
    void createTables();
    void loadConversations();
    qint64 conversationRow(const QUuid& id, const QString& title,
                           const FileFingerprint& fingerprint);
    qint64 insertEntry(qint64 conversation, const QUuid& message, qint64 date, qint64 hash,
                       const QString& text);
    void deleteEntry(qint64 entry);

    std::unique_ptr<sqlite::Database> db_;
    int writing_ = 0;  // write() calls under way, the outermost holding the transaction
    mutable std::unordered_map<const char*, std::unique_ptr<sqlite::Statement>> statements_;
    bool created_ = false;
    QHash<QUuid, Indexed> conversations_;
    QHash<QUuid, qint64> rows_;  // conversation id -> row in "conversations"
};

}  // namespace parlote
