#pragma once

// The process-wide notification centre: a post carries a name and an object; an
// observer receives the posts of one name on the interface thread.

#include <QString>
#include <any>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace parlote {

/// Names of the notifications conversation managers post.
inline const QString kLastMessageUpdated = QStringLiteral("lastMessageUpdated");
inline const QString kTitleUpdated = QStringLiteral("titleUpdated");
/// Posted when a conversation file could not be written (`string` holds the reason) and
/// again when it is written after that (`string` empty).
inline const QString kSaveStateChanged = QStringLiteral("saveStateChanged");
/// Posted after each successful write of a conversation file, with a SavedTranscript: the
/// shown thread as written (what the search index follows).
inline const QString kConversationSaved = QStringLiteral("conversationSaved");

class NotificationCenter {
public:
    using Handler = std::function<void(const std::any& object)>;

    static NotificationCenter& shared();

    /// Delivers every later post of `name` to `handler` on the interface thread, as long
    /// as `owner` is alive; afterwards the handler is dropped without being called.
    void observe(const QString& name, std::weak_ptr<void> owner, Handler handler);

    /// Callable from any thread.
    void post(const QString& name, std::any object);

private:
    struct Observer {
        QString name;
        std::weak_ptr<void> owner;
        std::shared_ptr<Handler> handler;
    };
    std::mutex mutex_;
    std::vector<Observer> observers_;
};

}  // namespace parlote
