#pragma once

// A conversation's transcript as a value that is cheap to copy and to change near its
// end: full blocks of 64 messages sit in one immutable list shared by every copy, and the
// last, partly filled block is a small list of its own. Growing or replacing the reply
// copies at most that last block, whatever the length of the transcript; once every 64
// messages the full-block list is rebuilt.
//
// Copies are handed from thread to thread (a reply grows on a background thread while
// the window reads the last version), so storage that may have been shared is never
// written in place: a change builds new lists. Qt's own copy-on-write decides on a
// relaxed reference count, which does not order a reader on another thread before the
// writer.

#include <QList>
#include <QMetaType>
#include <memory>
#include <optional>

#include "ChatRecords.h"

namespace parlote {

class MessageList {
public:
    static constexpr qsizetype kBlockSize = 64;

    MessageList() = default;
    explicit MessageList(const QList<ChatMessage>& messages);

    qsizetype size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }
    const ChatMessage& at(qsizetype i) const {
        const qsizetype inFull = fullCount();
        return i < inFull ? full_->at(i / kBlockSize).at(i % kBlockSize) : tail_.at(i - inFull);
    }
    const ChatMessage& operator[](qsizetype i) const { return at(i); }
    const ChatMessage& last() const { return at(size_ - 1); }

    void append(ChatMessage message);
    /// Replaces the message at `i` (0 <= i < size()).
    void replace(qsizetype i, ChatMessage message);
    /// Position of the message with `id`, searched from the end (where a reply grows).
    std::optional<qsizetype> lastIndexOf(const QUuid& id) const;

    QList<ChatMessage> toList() const;

    /// Whether both share all storage: true after a copy with no change since.
    bool isSharedWith(const MessageList& other) const;
    /// How many leading messages both lists hold in the same storage (whole blocks):
    /// those are equal without being compared. Lets a view find what changed between two
    /// versions of a long transcript at the cost of one comparison per block.
    qsizetype sharedPrefixSize(const MessageList& other) const;

    friend bool operator==(const MessageList& a, const MessageList& b);

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = ChatMessage;
        using difference_type = qsizetype;
        using pointer = const ChatMessage*;
        using reference = const ChatMessage&;
        const_iterator(const MessageList* list, qsizetype i) : list_(list), i_(i) {}
        reference operator*() const { return list_->at(i_); }
        pointer operator->() const { return &list_->at(i_); }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++i_;
            return before;
        }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

    private:
        const MessageList* list_;
        qsizetype i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }

private:
    using Block = QList<ChatMessage>;
    qsizetype fullCount() const { return size_ - tail_.size(); }

    std::shared_ptr<const QList<Block>> full_ = std::make_shared<const QList<Block>>();
    Block tail_;  // fewer than kBlockSize messages after the full blocks
    qsizetype size_ = 0;
};

}  // namespace parlote

Q_DECLARE_METATYPE(parlote::MessageList)
