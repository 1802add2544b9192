#pragma once

// A thin layer over SQLite's C API: a connection, a prepared statement and a transaction,
// each owning its handle, and failures as exceptions that carry SQLite's result code.
// A connection and its statements belong to one thread.

#include <QByteArray>
#include <QString>
#include <functional>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

namespace parlote::sqlite {

/// A call into SQLite failed.
class Error : public std::runtime_error {
public:
    Error(int code, const std::string& what) : std::runtime_error(what), code_(code) {}
    /// SQLite's (extended) result code.
    int code() const { return code_; }
    /// The file is not a database or is damaged (SQLITE_NOTADB, SQLITE_CORRUPT).
    bool damaged() const;
    /// Stopped by the progress check (SQLITE_INTERRUPT).
    bool interrupted() const;
    /// Another connection holds the lock (SQLITE_BUSY, SQLITE_LOCKED).
    bool busy() const;

private:
    int code_;
};

class Database {
public:
    /// Opens (creating if missing) the database file at `path`. Throws Error.
    explicit Database(const QString& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    /// Runs one or more statements without results. Throws Error.
    void exec(const char* sql);
    /// The first column of the first row of `sql`, as an integer (0 when there is no row).
    qint64 integer(const char* sql);
    qint64 lastInsertRowid() const;

    /// While set, `check` is asked every few thousand steps of a statement; when it
    /// answers true the statement ends with an Error that is interrupted().
    void setInterruptCheck(std::function<bool()> check);

    sqlite3* handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
    std::function<bool()> interruptCheck_;
};

class Statement {
public:
    Statement(Database& db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    /// Parameters count from 1.
    Statement& bind(int index, qint64 value);
    Statement& bind(int index, const QString& text);
    Statement& bindBlob(int index, const QByteArray& bytes);
    Statement& bindNull(int index);

    /// Runs to the next row: true when there is one, false when done. Throws Error.
    bool step();
    /// Runs a statement without results to its end.
    void run() {
        while (step()) {
        }
    }
    /// Makes the statement ready to run again, its parameters cleared.
    void reset();

    // Columns count from 0.
    bool isNull(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;
    QString text(int column) const;
    QByteArray blob(int column) const;

private:
    Database& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

/// BEGIN on construction, ROLLBACK on destruction unless committed. Nested use is flat:
/// a transaction made while one is open does nothing, so the outer one decides.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& db_;
    bool owner_ = false;
};

}  // namespace parlote::sqlite
