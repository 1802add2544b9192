#include "MessageList.h"

namespace parlote {

namespace {

using Block = QList<ChatMessage>;

/// A new block holding a copy of `block`'s messages (never shares its storage).
Block copied(const Block& block) {
    Block copy;
    copy.reserve(MessageList::kBlockSize);
    copy.append(block.constBegin(), block.constEnd());
    return copy;
}

}  // namespace

MessageList::MessageList(const QList<ChatMessage>& messages) {
    // Blocks of its own, filled at once (never sharing the caller's storage).
    const qsizetype blocks = messages.size() / kBlockSize;
    auto full = std::make_shared<QList<Block>>();
    full->reserve(blocks);
    for (qsizetype b = 0; b < blocks; ++b) {
        Block block;
        block.reserve(kBlockSize);
        block.append(messages.constBegin() + b * kBlockSize,
                     messages.constBegin() + (b + 1) * kBlockSize);
        full->append(std::move(block));
    }
    full_ = std::move(full);
    tail_.append(messages.constBegin() + blocks * kBlockSize, messages.constEnd());
    size_ = messages.size();
}

void MessageList::append(ChatMessage message) {
    Block tail = copied(tail_);
    tail.append(std::move(message));
    if (tail.size() == kBlockSize) {
        // The block is full: it joins the shared list, and a new tail begins.
        auto full = std::make_shared<QList<Block>>();
        full->reserve(full_->size() + 1);
        full->append(full_->constBegin(), full_->constEnd());
        full->append(std::move(tail));
        full_ = std::move(full);
        tail_ = Block();
    } else {
        tail_ = std::move(tail);
    }
    ++size_;
}

void MessageList::replace(qsizetype i, ChatMessage message) {
    Q_ASSERT(i >= 0 && i < size_);
    const qsizetype inFull = fullCount();
    if (i >= inFull) {
        Block tail = copied(tail_);
        tail[i - inFull] = std::move(message);  // `tail` is this function's own
        tail_ = std::move(tail);
        return;
    }
    // A message among the full blocks (a reply overtaken by more than a block): rare.
    auto full = std::make_shared<QList<Block>>();
    full->reserve(full_->size());
    for (qsizetype b = 0; b < full_->size(); ++b) {
        if (b != i / kBlockSize) {
            full->append(full_->at(b));
            continue;
        }
        Block changed = copied(full_->at(b));
        changed[i % kBlockSize] = std::move(message);
        full->append(std::move(changed));
    }
    full_ = std::move(full);
}

std::optional<qsizetype> MessageList::lastIndexOf(const QUuid& id) const {
    for (qsizetype i = size_ - 1; i >= 0; --i)
        if (at(i).id() == id) return i;
    return std::nullopt;
}

QList<ChatMessage> MessageList::toList() const {
    QList<ChatMessage> list;
    list.reserve(size_);
    for (const Block& block : *full_) list.append(block.constBegin(), block.constEnd());
    list.append(tail_.constBegin(), tail_.constEnd());
    return list;
}

bool MessageList::isSharedWith(const MessageList& other) const {
    return full_ == other.full_ && tail_.constData() == other.tail_.constData() &&
           size_ == other.size_;
}

qsizetype MessageList::sharedPrefixSize(const MessageList& other) const {
    const qsizetype blocks = qMin(full_->size(), other.full_->size());
    qsizetype shared = 0;
    if (full_ == other.full_) {
        shared = blocks;
    } else {
        while (shared < blocks &&
               full_->at(shared).constData() == other.full_->at(shared).constData())
            ++shared;
    }
    qsizetype count = shared * kBlockSize;
    if (shared == full_->size() && shared == other.full_->size() &&
        tail_.constData() == other.tail_.constData())
        count += qMin(tail_.size(), other.tail_.size());
    return count;
}

bool operator==(const MessageList& a, const MessageList& b) {
    if (a.size_ != b.size_) return false;
    for (qsizetype i = 0; i < a.size_; ++i)
        if (!(a.at(i) == b.at(i))) return false;
    return true;
}

}  // namespace parlote
