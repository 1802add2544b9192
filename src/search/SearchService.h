#pragma once

// Search across every conversation, for the interface thread. The index (SearchIndex) runs
// on a worker thread of its own; nothing here waits for it. Calls are queued to the worker
// in order, and results come back through InterfaceThread::post.
//
// At start-up, rebuildIfNeeded() hands over the sidebar's list: the worker opens the index
// (replacing it when missing, damaged or outdated), drops conversations that are gone,
// and re-indexes in the background those whose file changed while Parlote was not running,
// a few at a time, so that queries are answered in between (from what is indexed so far).
// Afterwards the application reports each change as it saves it. Should the index turn
// out damaged while in use, it is made again from the conversation files; should no index
// be possible at all (no room, no permission), queries answer that search is unavailable.

#include <QList>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>

#include "ChatRecords.h"
#include "MessageList.h"
#include "SearchIndex.h"
#include "TaskRunner.h"

namespace parlote {

class ChatStore;

struct SearchResults {
    /// The text the query was asked with.
    QString text;
    QList<SearchHit> hits;
    /// False while conversations are still being indexed: hits may be missing.
    bool complete = true;
    /// False when no index could be had: there are no hits to find this session.
    bool available = true;
};

class SearchService {
public:
    /// Where the index lives: $XDG_CACHE_HOME (by default ~/.cache) + "/Parlote/search.sqlite".
    static QString defaultIndexPath();

    /// A service over the index file at `indexPath`, reading conversation files from
    /// `store`, which must outlive the service. Starts the worker; the index is opened there.
    SearchService(QString indexPath, const ChatStore& store);
    /// Stops the worker after the step it is taking (a query, one change, or a short
    /// stretch of indexing) and waits for it. Results not yet delivered are dropped.
    ~SearchService();
    SearchService(const SearchService&) = delete;
    SearchService& operator=(const SearchService&) = delete;

    /// The conversations the index must hold: the sidebar's list as loaded (or as it is
    /// now). Conversations the index holds that are not listed are dropped; those listed
    /// whose file changed since they were indexed, or that were never indexed, are indexed
    /// from their files in the background; a changed title alone is updated at once.
    void rebuildIfNeeded(const QList<Conversation>& conversations);

    /// A conversation was saved (a reply, an edit, an import) or made: indexes `title` and
    /// `messages` (the shown thread).
    void conversationChanged(const QUuid& id, const QString& title, const MessageList& messages);
    /// A conversation's title changed and nothing else.
    void conversationRenamed(const QUuid& id, const QString& title);
    void conversationRemoved(const QUuid& id);

    /// Looks up `text` (see matchExpression for what it means) and calls `deliver` on the
    /// interface thread with at most `limit` hits, best first. A later query() or
    /// cancelQuery() supersedes this one: its `deliver` is then never called, and a query
    /// still running is stopped. Changes asked for before are applied first.
    void query(const QString& text, int limit, std::function<void(const SearchResults&)> deliver);
    /// Drops the query under way (the search field was closed).
    void cancelQuery();

    /// Calls `done` on the interface thread once everything asked for before, indexing in
    /// the background included, is done. For tests, benchmarks and a status line.
    void whenIdle(std::function<void()> done);

    struct Shared;
    class Worker;

private:
    std::shared_ptr<Shared> shared_;
    TaskRunner runner_;  // last: its destructor waits for the worker
};

}  // namespace parlote
