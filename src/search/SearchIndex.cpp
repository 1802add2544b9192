#include "SearchIndex.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "Sqlite.h"

namespace parlote {

namespace {

using sqlite::Statement;

/// "Parl", so that a database of some other program is never taken for an index.
constexpr qint64 kApplicationId = 0x5061726c;

constexpr const char* kSchema = R"sql(
CREATE TABLE conversations(
    id INTEGER PRIMARY KEY,
    uuid BLOB NOT NULL UNIQUE,
    title TEXT NOT NULL,
    file_size INTEGER NOT NULL,
    file_modified INTEGER NOT NULL,
    file_inode INTEGER NOT NULL);
-- One row per indexed text, its words in "texts" under the same rowid. A NULL message
-- is the conversation's title, dated by its newest message. The rowid begins with the
-- date (see entryIdBase), so that the index can walk matches newest first.
CREATE TABLE entries(
    id INTEGER PRIMARY KEY,
    conversation INTEGER NOT NULL,
    message BLOB,
    date INTEGER,
    hash INTEGER NOT NULL);
CREATE INDEX entries_by_conversation ON entries(conversation);
-- Prefixes of two and three characters are indexed as such: a word being typed matches
-- every word it begins, which for a short beginning would otherwise mean merging the
-- lists of thousands of words at each keystroke.
CREATE VIRTUAL TABLE texts USING fts5(
    body, tokenize = "unicode61 remove_diacritics 2", prefix = '2 3');
)sql";

/// FNV-1a over the text's UTF-16 code units and the date: tells whether a message's
/// indexed text changed without reading it back from the index.
qint64 textHash(const QString& text, qint64 date) {
    quint64 h = 14695981039346656037ull;
    auto mix = [&h](quint64 value) {
        h ^= value;
        h *= 1099511628211ull;
    };
    for (QChar c : text) mix(c.unicode());
    mix(quint64(date));
    return qint64(h);
}

bool holdsText(const QString& text) {
    for (QChar c : text)
        if (!c.isSpace()) return true;
    return false;
}

/// Entries are numbered from their date in seconds (none: 0) times this: numbers grow with
/// the date, and the same second leaves room for this many.
constexpr qint64 kEntriesPerSecond = 1'000'000;
constexpr qint64 kNoDate = std::numeric_limits<qint64>::min();

qint64 entryIdBase(qint64 dateMs) {
    // Seconds from 1970 fit this scheme until the year 292,000; a date outside it is
    // taken as having none rather than overflowing.
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / kEntriesPerSecond - 1;
    if (dateMs == kNoDate || dateMs / 1000 > limit || dateMs / 1000 < -limit) return 0;
    return (dateMs >= 0 ? dateMs / 1000 : (dateMs - 999) / 1000) * kEntriesPerSecond;
}

QDateTime dateOf(const Statement& statement, int column) {
    if (statement.isNull(column)) return {};
    return QDateTime::fromMSecsSinceEpoch(statement.integer(column), Qt::UTC);
}

// A hit's excerpt (the title whole, or a message's words around the match) with what
// the list shows beside it; the caller adds which entries.
constexpr std::string_view kExcerptQuery =
    "SELECT texts.rowid,"
    " CASE WHEN e.message IS NULL THEN highlight(texts, 0, char(1), char(2))"
    " ELSE snippet(texts, 0, char(1), char(2), '…', 24) END,"
    " e.message, e.date, c.uuid, c.title"
    " FROM texts CROSS JOIN entries e ON e.id = texts.rowid"
    " CROSS JOIN conversations c ON c.id = e.conversation WHERE texts MATCH ?1 AND ";

QUuid uuidOf(const QByteArray& bytes) {
    return bytes.size() == 16 ? QUuid::fromRfc4122(bytes) : QUuid();
}

}  // namespace

FileFingerprint FileFingerprint::of(const QString& path) {
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return {};
    return {qint64(info.st_size),
            // In unsigned arithmetic: a file dated past 2262 must not overflow.
            qint64(quint64(info.st_mtim.tv_sec) * 1'000'000'000u + quint64(info.st_mtim.tv_nsec)),
            qint64(info.st_ino)};
}

SearchIndex::SearchIndex(const QString& path) {
    open(path);
}

SearchIndex::~SearchIndex() {
    statements_.clear();  // before the connection they belong to
}

void SearchIndex::discard(const QString& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

void SearchIndex::open(const QString& path) {
    // A folder made here is the user's only (XDG asks as much of cache folders); one that
    // exists is left as it is.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (int attempt = 0;; ++attempt) {
        // The index holds the text of private conversations: the file, and the journal
        // files SQLite makes with its mode, are the user's only.
        if (!QFileInfo::exists(path)) {
            QFile create(path);
            if (create.open(QIODevice::WriteOnly))
                create.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        bool outdated = false;
        try {
            db_ = std::make_unique<sqlite::Database>(path);
            // Reading the header here is what finds a file that is not a database, and
            // the first read of the tables one that was cut off.
            db_->exec(
                "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
                "PRAGMA temp_store = MEMORY; PRAGMA cache_size = -32768;"
                "PRAGMA wal_autocheckpoint = 16384;");
            if (db_->integer("SELECT count(*) FROM sqlite_schema") == 0) {
                createTables();
                created_ = true;
            } else if (db_->integer("PRAGMA application_id") != kApplicationId ||
                       db_->integer("PRAGMA user_version") != kSchemaVersion) {
                outdated = true;
            }
            if (!outdated) {
                loadConversations();
                return;
            }
        } catch (const sqlite::Error& e) {
            // Garbage bytes, a cut-off file: start again with an empty index. Anything
            // else (no room, no permission) is for the caller.
            if (!e.damaged() || attempt > 0) throw;
        }
        if (attempt > 0) throw sqlite::Error(0, "the index cannot be replaced");
        statements_.clear();
        db_.reset();
        conversations_.clear();
        rows_.clear();
        discard(path);
    }
}

void SearchIndex::createTables() {
    sqlite::Transaction transaction(*db_);
    db_->exec(kSchema);
    db_->exec(("PRAGMA application_id = " + std::to_string(kApplicationId) +
               "; PRAGMA user_version = " + std::to_string(kSchemaVersion))
                  .c_str());
    transaction.commit();
}

void SearchIndex::loadConversations() {
    Statement& rows = statement(
        "SELECT id, uuid, title, file_size, file_modified, file_inode FROM conversations");
    while (rows.step()) {
        const QUuid id = uuidOf(rows.blob(1));
        rows_.insert(id, rows.integer(0));
        conversations_.insert(id,
                              {rows.text(2), {rows.integer(3), rows.integer(4), rows.integer(5)}});
    }
}

sqlite::Statement& SearchIndex::statement(const char* sql) const {
    std::unique_ptr<Statement>& slot = statements_[sql];
    if (!slot)
        slot = std::make_unique<Statement>(*db_, sql);
    else
        slot->reset();
    return *slot;
}

void SearchIndex::write(const std::function<void()>& change) {
    // The outermost write keeps what to go back to; a write inside it is undone with it
    // (copying the tables on every nested write made a first indexing quadratic).
    if (writing_ > 0) {
        change();
        return;
    }
    const auto conversations = conversations_;
    const auto rows = rows_;
    ++writing_;
    try {
        sqlite::Transaction transaction(*db_);
        change();
        transaction.commit();
        --writing_;
    } catch (...) {
        --writing_;
        conversations_ = conversations;
        rows_ = rows;
        throw;
    }
}

void SearchIndex::batch(const std::function<void()>& changes) {
    write(changes);
}

qint64 SearchIndex::conversationRow(const QUuid& id, const QString& title,
                                    const FileFingerprint& fingerprint) {
    const auto known = rows_.constFind(id);
    Statement& row = statement(
        known == rows_.cend()
            ? "INSERT INTO conversations(title, file_size, file_modified, file_inode, uuid)"
              " VALUES(?1, ?2, ?3, ?4, ?5)"
            : "UPDATE conversations SET title = ?1, file_size = ?2, file_modified = ?3,"
              " file_inode = ?4 WHERE id = ?5");
    row.bind(1, title).bind(2, fingerprint.size).bind(3, fingerprint.modifiedNs);
    row.bind(4, fingerprint.inode);
    if (known == rows_.cend())
        row.bindBlob(5, id.toRfc4122());
    else
        row.bind(5, *known);
    row.run();
    const qint64 rowid = known == rows_.cend() ? db_->lastInsertRowid() : *known;
    rows_.insert(id, rowid);
    conversations_.insert(id, {title, fingerprint});
    return rowid;
}

qint64 SearchIndex::insertEntry(qint64 conversation, const QUuid& message, qint64 date, qint64 hash,
                                const QString& text) {
    Statement& entry = statement(
        "INSERT INTO entries(conversation, message, date, hash, id) VALUES(?1, ?2, ?3, ?4, ?5)");
    entry.bind(1, conversation);
    if (message.isNull())
        entry.bindNull(2);
    else
        entry.bindBlob(2, message.toRfc4122());
    if (date == kNoDate)
        entry.bindNull(3);
    else
        entry.bind(3, date);
    const qint64 base = entryIdBase(date);
    Statement& last = statement("SELECT max(id) FROM entries WHERE id >= ?1 AND id < ?2");
    last.bind(1, base).bind(2, base + kEntriesPerSecond);
    const qint64 rowid = last.step() && !last.isNull(0) ? last.integer(0) + 1 : base;
    last.reset();
    if (rowid >= base + kEntriesPerSecond)
        throw sqlite::Error(0, "too many messages in one second");
    entry.bind(4, hash).bind(5, rowid).run();
    statement("INSERT INTO texts(rowid, body) VALUES(?1, ?2)").bind(1, rowid).bind(2, text).run();
    return rowid;
}

void SearchIndex::deleteEntry(qint64 entry) {
    statement("DELETE FROM texts WHERE rowid = ?1").bind(1, entry).run();
    statement("DELETE FROM entries WHERE id = ?1").bind(1, entry).run();
}

void SearchIndex::setConversation(const QUuid& id, const QString& title,
                                  const MessageList& messages, const FileFingerprint& fingerprint) {
    write([&] {
        const qint64 conversation = conversationRow(id, title, fingerprint);

        struct Old {
            qint64 entry;
            qint64 hash;
            bool kept = false;
        };
        std::vector<Old> old;
        QHash<QUuid, qsizetype> oldByMessage;  // the title under the null id
        Statement& existing =
            statement("SELECT id, message, hash FROM entries WHERE conversation = ?1");
        existing.bind(1, conversation);
        while (existing.step()) {
            oldByMessage.insert(uuidOf(existing.blob(1)), qsizetype(old.size()));
            old.push_back({existing.integer(0), existing.integer(2)});
        }
        // Keeps the old entry of `key` when its hash is `hash`; says whether it did.
        auto keep = [&](const QUuid& key, qint64 hash) {
            const auto it = oldByMessage.constFind(key);
            if (it == oldByMessage.cend() || old[*it].kept || old[*it].hash != hash) return false;
            old[*it].kept = true;
            return true;
        };

        qint64 newest = kNoDate;
        for (const ChatMessage& message : messages) {
            const qint64 date = message.timestamp().toMSecsSinceEpoch();
            newest = std::max(newest, date);
            const QString text = indexableText(message);
            if (message.id().isNull() || !holdsText(text)) continue;
            const qint64 hash = textHash(text, date);
            if (!keep(message.id(), hash))
                insertEntry(conversation, message.id(), date, hash, text);
        }

        // The title's entry is numbered by its date: a newer message makes it anew.
        const QString titleText = indexableText(title);
        const qint64 titleHash = textHash(titleText, newest);
        if (!keep(QUuid(), titleHash) && holdsText(titleText))
            insertEntry(conversation, QUuid(), newest, titleHash, titleText);
        for (const Old& entry : old)
            if (!entry.kept) deleteEntry(entry.entry);
    });
}

void SearchIndex::setTitle(const QUuid& id, const QString& title) {
    const auto known = rows_.constFind(id);
    if (known == rows_.cend()) return;
    const qint64 conversation = *known;
    write([&] {
        const FileFingerprint fingerprint = conversations_.value(id).fingerprint;
        qint64 newest = kNoDate;
        Statement& entries =
            statement("SELECT id, message, date FROM entries WHERE conversation = ?1");
        entries.bind(1, conversation);
        std::vector<qint64> titles;
        while (entries.step()) {
            if (entries.isNull(1))
                titles.push_back(entries.integer(0));
            else if (!entries.isNull(2))
                newest = std::max(newest, entries.integer(2));
        }
        for (qint64 entry : titles) deleteEntry(entry);
        const QString text = indexableText(title);
        if (holdsText(text))
            insertEntry(conversation, QUuid(), newest, textHash(text, newest), text);
        conversationRow(id, title, fingerprint);
    });
}

void SearchIndex::removeConversation(const QUuid& id) {
    const auto known = rows_.constFind(id);
    if (known == rows_.cend()) return;
    const qint64 conversation = *known;
    write([&] {
        Statement& entries = statement("SELECT id FROM entries WHERE conversation = ?1");
        entries.bind(1, conversation);
        std::vector<qint64> ids;
        while (entries.step()) ids.push_back(entries.integer(0));
        for (qint64 entry : ids)
            statement("DELETE FROM texts WHERE rowid = ?1").bind(1, entry).run();
        statement("DELETE FROM entries WHERE conversation = ?1").bind(1, conversation).run();
        statement("DELETE FROM conversations WHERE id = ?1").bind(1, conversation).run();
        rows_.remove(id);
        conversations_.remove(id);
    });
}

QList<SearchHit> SearchIndex::search(QStringView typed, int limit,
                                     std::function<bool()> interrupted) const {
    const QString expression = matchExpression(typed);
    if (expression.isEmpty() || limit <= 0) return {};
    struct ClearCheck {
        sqlite::Database& db;
        ~ClearCheck() { db.setInterruptCheck({}); }
    } clear{*db_};
    if (interrupted) db_->setInterruptCheck(std::move(interrupted));

    // Ranks the newest kRankedMatches matches (entry numbers grow with the date, see
    // entryIdBase), so that a word found nearly everywhere costs no more than that; and
    // reads only the best ones' text: excerpts are made for those alone.
    Statement& best = statement(
        "SELECT id FROM (SELECT rowid AS id, bm25(texts) AS score FROM texts"
        " WHERE texts MATCH ?1 ORDER BY rowid DESC LIMIT ?3)"
        " ORDER BY score, id DESC LIMIT ?2");
    best.bind(1, expression).bind(2, qint64(limit)).bind(3, kRankedMatches);
    std::vector<qint64> ids;
    while (best.step()) ids.push_back(best.integer(0));
    best.reset();

    if (ids.empty()) return {};

    QHash<qint64, SearchHit> byId;
    const auto take = [&](const Statement& excerpts) {
        MarkedText excerpt = unmark(excerpts.text(1));
        byId.insert(excerpts.integer(0),
                    {uuidOf(excerpts.blob(4)), excerpts.text(5), uuidOf(excerpts.blob(2)),
                     dateOf(excerpts, 3), std::move(excerpt.text), std::move(excerpt.matches)});
    };
    if (!expression.endsWith(QLatin1Char('*'))) {
        // Whole words and phrases: one lookup per hit, which only seeks in each word's
        // list of entries. A pass over the range of the hits would check a phrase again in
        // every entry holding its words (a phrase of frequent words: tens of thousands).
        static const std::string byNumber = std::string(kExcerptQuery) + "texts.rowid = ?2";
        Statement& excerpt = statement(byNumber.c_str());
        for (qint64 id : ids) {
            excerpt.reset();
            excerpt.bind(1, expression).bind(2, id);
            if (excerpt.step()) take(excerpt);
        }
        excerpt.reset();
    } else {
        // A word being typed matches as a prefix, and each lookup by number would merge
        // the lists of every word it begins (milliseconds for a frequent prefix): the
        // excerpts come from one pass over the matches between the best ones' numbers.
        // The list test has a "+" so that it stays a filter instead of becoming one
        // lookup per number. The numbers are integers from the index.
        const auto [lowest, highest] = std::minmax_element(ids.begin(), ids.end());
        std::string sql =
            std::string(kExcerptQuery) + "texts.rowid BETWEEN ?2 AND ?3 AND +texts.rowid IN (";
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (i > 0) sql += ',';
            sql += std::to_string(ids[i]);
        }
        sql += ')';
        Statement excerpts(*db_, sql.c_str());
        excerpts.bind(1, expression).bind(2, *lowest).bind(3, *highest);
        while (excerpts.step()) take(excerpts);
    }
    QList<SearchHit> hits;
    hits.reserve(qsizetype(ids.size()));
    for (qint64 id : ids)
        if (auto found = byId.find(id); found != byId.end()) hits.append(std::move(*found));
    return hits;
}

}  // namespace parlote
