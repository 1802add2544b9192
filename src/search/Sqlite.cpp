#include "Sqlite.h"

#include <sqlite3.h>

#include <QFile>

namespace parlote::sqlite {

namespace {

[[noreturn]] void fail(sqlite3* db, int code, const char* doing) {
    std::string what = doing;
    what += ": ";
    what += db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw Error(db ? sqlite3_extended_errcode(db) : code, what);
}

void check(sqlite3* db, int code, const char* doing) {
    if (code != SQLITE_OK) fail(db, code, doing);
}

}  // namespace

bool Error::damaged() const {
    const int primary = code_ & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool Error::interrupted() const {
    return (code_ & 0xff) == SQLITE_INTERRUPT;
}

bool Error::busy() const {
    const int primary = code_ & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Database::Database(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int code = sqlite3_open_v2(name.constData(), &db_,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (code != SQLITE_OK) {
        const std::string what = std::string("cannot open the index: ") +
                                 (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code));
        sqlite3_close(db_);  // a handle comes back even on failure, except out of memory
        db_ = nullptr;
        throw Error(code, what);
    }
    sqlite3_extended_result_codes(db_, 1);
    // Another Parlote running at the same time uses the same index: wait for its
    // transaction (they are short) rather than failing.
    sqlite3_busy_timeout(db_, 2000);
}

Database::~Database() {
    // Every statement is finalized by its own destructor first; close_v2 would keep the
    // connection until then anyway.
    sqlite3_close_v2(db_);
}

void Database::exec(const char* sql) {
    char* message = nullptr;
    const int code = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (code != SQLITE_OK) {
        std::string what = message ? message : sqlite3_errstr(code);
        sqlite3_free(message);
        throw Error(sqlite3_extended_errcode(db_), what);
    }
}

qint64 Database::integer(const char* sql) {
    Statement statement(*this, sql);
    return statement.step() ? statement.integer(0) : 0;
}

qint64 Database::lastInsertRowid() const {
    return sqlite3_last_insert_rowid(db_);
}

void Database::setInterruptCheck(std::function<bool()> check) {
    interruptCheck_ = std::move(check);
    if (!interruptCheck_) {
        sqlite3_progress_handler(db_, 0, nullptr, nullptr);
        return;
    }
    sqlite3_progress_handler(
        db_, 4000,
        [](void* self) -> int { return static_cast<Database*>(self)->interruptCheck_() ? 1 : 0; },
        this);
}

Statement::Statement(Database& db, const char* sql) : db_(db) {
    check(db.handle(), sqlite3_prepare_v2(db.handle(), sql, -1, &stmt_, nullptr), sql);
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int index, qint64 value) {
    check(db_.handle(), sqlite3_bind_int64(stmt_, index, value), "bind");
    return *this;
}

Statement& Statement::bind(int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    check(db_.handle(),
          sqlite3_bind_text(stmt_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT),
          "bind");
    return *this;
}

Statement& Statement::bindBlob(int index, const QByteArray& bytes) {
    check(db_.handle(),
          sqlite3_bind_blob(stmt_, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT),
          "bind");
    return *this;
}

Statement& Statement::bindNull(int index) {
    check(db_.handle(), sqlite3_bind_null(stmt_, index), "bind");
    return *this;
}

bool Statement::step() {
    const int code = sqlite3_step(stmt_);
    if (code == SQLITE_ROW) return true;
    if (code == SQLITE_DONE) return false;
    // Leave the statement reusable; the error stays readable on the connection until then.
    const Error error(sqlite3_extended_errcode(db_.handle()), sqlite3_errmsg(db_.handle()));
    sqlite3_reset(stmt_);
    throw error;
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

qint64 Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double Statement::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

QString Statement::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(stmt_, column));
}

QByteArray Statement::blob(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    return QByteArray(bytes, sqlite3_column_bytes(stmt_, column));
}

Transaction::Transaction(Database& db) : db_(db) {
    if (sqlite3_get_autocommit(db.handle()) == 0) return;  // inside another transaction
    db.exec("BEGIN IMMEDIATE");
    owner_ = true;
}

Transaction::~Transaction() {
    // A failed statement may have ended the transaction already; ROLLBACK then fails
    // harmlessly, and its result is of no use here.
    if (owner_ && sqlite3_get_autocommit(db_.handle()) == 0)
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    if (!owner_) return;
    db_.exec("COMMIT");
    owner_ = false;
}

}  // namespace parlote::sqlite
