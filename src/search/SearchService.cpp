#include "SearchService.h"

#include <QDebug>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStandardPaths>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "ChatStore.h"
#include "InterfaceThread.h"
#include "Limits.h"
#include "Sqlite.h"

namespace parlote {

namespace {

using namespace std::chrono_literals;

/// How long the worker indexes in one go before it looks for queries and changes.
constexpr auto kIndexingStretch = 50ms;

/// How many times in a session an index found damaged while in use is made again.
constexpr int kMaxRemakes = 2;

/// A copy that shares no storage with `text`: what the interface thread hands over is
/// never read by the worker while the interface thread changes it in place.
QString ownCopy(const QString& text) {
    return QString(text.constData(), text.size());
}

/// The shown thread of a conversation file, read without touching the file: a file that
/// is missing, too large or cannot be decoded gives no messages. (The store moves an
/// undecodable file aside when the conversation is opened, and tells the user; the
/// index must not do that behind the window's back.)
QList<ChatMessage> readTranscript(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > limits::kMaxFileBytes) return {};
    try {
        const QByteArray bytes = file.read(limits::kMaxFileBytes);
        const auto document = nlohmann::ordered_json::parse(
            bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
        if (!document.is_object()) return {};
        const auto messages = document.find("messages");
        if (messages == document.end() || !messages->is_array()) return {};
        QList<ChatMessage> transcript;
        transcript.reserve(qsizetype(messages->size()));
        for (const auto& message : *messages) transcript.append(ChatMessage::fromJson(message));
        return transcript;
    } catch (const std::exception&) {  // DecodingError, bad_alloc
        return {};
    }
}

}  // namespace

/// What the interface thread and the worker share, under `mutex`.
struct SearchService::Shared {
    struct Query {
        quint64 generation;
        QString text;
        int limit;
        std::function<void(const SearchResults&)> deliver;
    };

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void(Worker&)>> jobs;
    std::optional<Query> query;  // only the latest query waits
    bool stop = false;

    // Read by the worker while a query runs, to stop it early.
    std::atomic<quint64> wantedQuery{0};  // the generation whose results are still wanted
    std::atomic<bool> stopping{false};
};

/// Runs on the worker thread and owns everything there: the index, the list of the
/// conversations there are, and the queue of those still to be indexed from their files.
class SearchService::Worker {
public:
    Worker(QString path, const ChatStore& store, std::shared_ptr<Shared> shared)
        : path_(std::move(path)), store_(store), shared_(std::move(shared)) {}

    void run();

    void rebuildIfNeeded(const std::vector<std::pair<QUuid, QString>>& conversations);
    void changed(const QUuid& id, const QString& title, const MessageList& messages);
    void renamed(const QUuid& id, const QString& title);
    void removed(const QUuid& id);
    void whenIdle(std::function<void()> done) { idleWaiters_.push_back(std::move(done)); }

private:
    bool hasBackgroundWork() const { return index_ && !pending_.empty(); }
    /// Opens the index on first use; false when there can be none this session.
    bool ensureIndex();
    /// Runs `work` on the index; a failure is handled by recover().
    template <class F>
    void guarded(F work);
    void recover(const std::exception& error);
    /// Compares the index with the list of conversations: drops what is gone, updates
    /// changed titles and queues what must be read from its file.
    void reconcile();
    void queue(const QUuid& id);
    void unqueue(const QUuid& id);
    /// Indexes queued conversations from their files until `deadline`.
    void indexQueued(std::chrono::steady_clock::time_point deadline);
    void answer(Shared::Query& query);
    void post(std::function<void()> work);

    const QString path_;
    const ChatStore& store_;
    const std::shared_ptr<Shared> shared_;

    std::unique_ptr<SearchIndex> index_;
    bool unavailable_ = false;
    int remakes_ = 0;

    // The conversations there are, in sidebar order, with their titles; `listed_` once
    // rebuildIfNeeded() gave the whole list (until then, nothing is dropped as gone).
    QList<QUuid> order_;
    QHash<QUuid, QString> titles_;
    bool listed_ = false;

    std::deque<QUuid> pending_;
    QSet<QUuid> pendingSet_;
    std::vector<std::function<void()>> idleWaiters_;
};

void SearchService::Worker::run() {
    for (;;) {
        std::function<void(Worker&)> job;
        std::optional<Shared::Query> query;
        {
            std::unique_lock lock(shared_->mutex);
            for (;;) {
                if (shared_->stop) return;
                if (!shared_->jobs.empty()) {
                    job = std::move(shared_->jobs.front());
                    shared_->jobs.pop_front();
                    break;
                }
                if (shared_->query) {
                    query.swap(shared_->query);
                    break;
                }
                if (hasBackgroundWork()) break;
                if (!idleWaiters_.empty()) {
                    auto waiters = std::move(idleWaiters_);
                    idleWaiters_.clear();
                    lock.unlock();
                    for (auto& waiter : waiters) post(std::move(waiter));
                    lock.lock();
                    continue;
                }
                shared_->wake.wait(lock);
            }
        }
        if (job)
            job(*this);
        else if (query)
            answer(*query);
        else
            indexQueued(std::chrono::steady_clock::now() + kIndexingStretch);
    }
}

void SearchService::Worker::post(std::function<void()> work) {
    InterfaceThread::post(std::weak_ptr<const void>(shared_), std::move(work));
}

bool SearchService::Worker::ensureIndex() {
    if (index_) return true;
    if (unavailable_) return false;
    try {
        index_ = std::make_unique<SearchIndex>(path_);
        return true;
    } catch (const std::exception& e) {
        qWarning("Search is unavailable: %s", e.what());
        unavailable_ = true;
        pending_.clear();
        pendingSet_.clear();
        return false;
    }
}

template <class F>
void SearchService::Worker::guarded(F work) {
    if (!ensureIndex()) return;
    try {
        work();
    } catch (const std::exception& e) {
        recover(e);
    }
}

void SearchService::Worker::recover(const std::exception& error) {
    const auto* failure = dynamic_cast<const sqlite::Error*>(&error);
    // A superseded query; or another Parlote holding the index past the wait, after
    // which the change is found again at the next start (its fingerprint differs).
    if (failure && (failure->interrupted() || failure->busy())) return;
    qWarning("The search index failed: %s", error.what());
    index_.reset();
    pending_.clear();
    pendingSet_.clear();
    if (remakes_ >= kMaxRemakes) {
        qWarning("Search is unavailable for this session");
        unavailable_ = true;
        return;
    }
    ++remakes_;
    SearchIndex::discard(path_);
    if (ensureIndex()) reconcile();
}

void SearchService::Worker::queue(const QUuid& id) {
    if (pendingSet_.contains(id)) return;
    pendingSet_.insert(id);
    pending_.push_back(id);
}

void SearchService::Worker::unqueue(const QUuid& id) {
    if (!pendingSet_.remove(id)) return;
    pending_.erase(std::find(pending_.begin(), pending_.end(), id));
}

void SearchService::Worker::reconcile() {
    pending_.clear();
    pendingSet_.clear();
    guarded([&] {
        const QHash<QUuid, SearchIndex::Indexed> indexed = index_->conversations();
        std::vector<QUuid> retitled;
        for (const QUuid& id : order_) {
            const auto known = indexed.constFind(id);
            if (known == indexed.cend() ||
                known->fingerprint != FileFingerprint::of(store_.conversationPath(id)))
                queue(id);
            else if (known->title != titles_.value(id))
                retitled.push_back(id);
        }
        index_->batch([&] {
            if (listed_)
                for (auto it = indexed.cbegin(); it != indexed.cend(); ++it)
                    if (!titles_.contains(it.key())) index_->removeConversation(it.key());
            for (const QUuid& id : retitled) index_->setTitle(id, titles_.value(id));
        });
    });
}

void SearchService::Worker::rebuildIfNeeded(
    const std::vector<std::pair<QUuid, QString>>& conversations) {
    order_.clear();
    titles_.clear();
    for (const auto& [id, title] : conversations) {
        if (!titles_.contains(id)) order_.append(id);
        titles_.insert(id, title);
    }
    listed_ = true;
    if (ensureIndex()) reconcile();
}

void SearchService::Worker::changed(const QUuid& id, const QString& title,
                                    const MessageList& messages) {
    if (!titles_.contains(id)) order_.append(id);
    titles_.insert(id, title);
    unqueue(id);
    guarded([&] {
        index_->setConversation(id, title, messages,
                                FileFingerprint::of(store_.conversationPath(id)));
    });
}

void SearchService::Worker::renamed(const QUuid& id, const QString& title) {
    if (!titles_.contains(id)) order_.append(id);
    titles_.insert(id, title);
    if (pendingSet_.contains(id)) return;  // takes the title when its turn comes
    guarded([&] {
        if (index_->conversations().contains(id))
            index_->setTitle(id, title);
        else
            queue(id);
    });
}

void SearchService::Worker::removed(const QUuid& id) {
    titles_.remove(id);
    order_.removeOne(id);
    unqueue(id);
    guarded([&] { index_->removeConversation(id); });
}

void SearchService::Worker::indexQueued(std::chrono::steady_clock::time_point deadline) {
    std::size_t done = 0;
    guarded([&] {
        index_->batch([&] {
            for (const QUuid& id : pending_) {
                const QString path = store_.conversationPath(id);
                // Taken before reading: a save in between shows as a changed file next time.
                const FileFingerprint fingerprint = FileFingerprint::of(path);
                index_->setConversation(id, titles_.value(id), MessageList(readTranscript(path)),
                                        fingerprint);
                ++done;
                if (std::chrono::steady_clock::now() >= deadline || shared_->stopping) break;
            }
        });
        for (; done > 0; --done) {
            pendingSet_.remove(pending_.front());
            pending_.pop_front();
        }
    });
}

void SearchService::Worker::answer(Shared::Query& query) {
    SearchResults results;
    results.text = query.text;
    const quint64 generation = query.generation;
    // A query superseded while it waited is not run.
    if (shared_->wantedQuery.load() == generation) {
        guarded([&] {
            results.hits = index_->search(query.text, query.limit, [this, generation] {
                return shared_->stopping.load() || shared_->wantedQuery.load() != generation;
            });
        });
        results.available = !unavailable_;
        results.complete = results.available && listed_ && pending_.empty() && index_;
    }
    Shared* shared = shared_.get();
    post([shared, generation, deliver = std::move(query.deliver), results = std::move(results)] {
        if (shared->wantedQuery.load() == generation) deliver(results);
    });
}

QString SearchService::defaultIndexPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Parlote/search.sqlite");
}

SearchService::SearchService(QString indexPath, const ChatStore& store)
    : shared_(std::make_shared<Shared>()) {
    InterfaceThread::prepare();  // before the worker first posts to it
    runner_.start([shared = shared_, path = std::move(indexPath), &store] {
        Worker worker(path, store, shared);
        worker.run();
    });
}

SearchService::~SearchService() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
        shared_->stopping = true;
        shared_->wantedQuery = 0;
    }
    shared_->wake.notify_all();
    runner_.waitForAll();
}

namespace {

template <class Shared, class Job>
void enqueue(Shared& shared, Job job) {
    {
        std::lock_guard lock(shared.mutex);
        shared.jobs.push_back(std::move(job));
    }
    shared.wake.notify_all();
}

}  // namespace

void SearchService::rebuildIfNeeded(const QList<Conversation>& conversations) {
    std::vector<std::pair<QUuid, QString>> list;
    list.reserve(std::size_t(conversations.size()));
    for (const Conversation& conversation : conversations)
        if (conversation.id().isConversation())
            list.emplace_back(conversation.id().uuid(), ownCopy(conversation.title()));
    enqueue(*shared_, [list = std::move(list)](Worker& worker) { worker.rebuildIfNeeded(list); });
}

void SearchService::conversationChanged(const QUuid& id, const QString& title,
                                        const MessageList& messages) {
    enqueue(*shared_, [id, title = ownCopy(title), messages](Worker& worker) {
        worker.changed(id, title, messages);
    });
}

void SearchService::conversationRenamed(const QUuid& id, const QString& title) {
    enqueue(*shared_, [id, title = ownCopy(title)](Worker& worker) { worker.renamed(id, title); });
}

void SearchService::conversationRemoved(const QUuid& id) {
    enqueue(*shared_, [id](Worker& worker) { worker.removed(id); });
}

void SearchService::query(const QString& text, int limit,
                          std::function<void(const SearchResults&)> deliver) {
    std::optional<Shared::Query> superseded;
    {
        std::lock_guard lock(shared_->mutex);
        const quint64 generation = shared_->wantedQuery.load() + 1;
        shared_->wantedQuery = generation;
        superseded.swap(shared_->query);
        shared_->query = Shared::Query{generation, ownCopy(text), limit, std::move(deliver)};
    }
    shared_->wake.notify_all();
    // `superseded` (and what its callback holds) ends here, on this thread.
}

void SearchService::cancelQuery() {
    std::optional<Shared::Query> superseded;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->wantedQuery = shared_->wantedQuery.load() + 1;
        superseded.swap(shared_->query);
    }
}

void SearchService::whenIdle(std::function<void()> done) {
    enqueue(*shared_,
            [done = std::move(done)](Worker& worker) mutable { worker.whenIdle(std::move(done)); });
}

}  // namespace parlote
