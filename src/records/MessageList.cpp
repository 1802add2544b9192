#include "MessageList.h"

#include <algorithm>

namespace parlote {

MessageList::MessageList(const QList<ChatMessage>& messages) : size_(messages.size()) {
    for (qsizetype start = 0; start < messages.size(); start += kBlockSize)
        blocks_.append(messages.mid(start, kBlockSize));
}

namespace {

using Block = QList<ChatMessage>;

/// A fresh copy of `blocks`, with `changed` standing at `at` (or appended after them).
QList<Block> rebuilt(const QList<Block>& blocks, qsizetype at, Block changed) {
    QList<Block> result;
    result.reserve(std::max(blocks.size(), at + 1));
    for (qsizetype b = 0; b < blocks.size(); ++b)
        result.append(b == at ? std::move(changed) : blocks.at(b));
    if (at == blocks.size()) result.append(std::move(changed));
    return result;
}

}  // namespace

void MessageList::append(ChatMessage message) {
    const qsizetype at = size_ / kBlockSize;
    Block block;
    block.reserve(kBlockSize);
    if (at < blocks_.size()) {
        const Block& old = blocks_.at(at);
        block.append(old.constBegin(), old.constEnd());
    }
    block.append(std::move(message));
    blocks_ = rebuilt(blocks_, at, std::move(block));
    ++size_;
}

void MessageList::replace(qsizetype i, ChatMessage message) {
    Q_ASSERT(i >= 0 && i < size_);
    const qsizetype at = i / kBlockSize;
    const Block& old = blocks_.at(at);
    Block block;
    block.reserve(kBlockSize);
    block.append(old.constBegin(), old.constEnd());
    block[i % kBlockSize] = std::move(message);  // `block` is this function's own
    blocks_ = rebuilt(blocks_, at, std::move(block));
}

std::optional<qsizetype> MessageList::lastIndexOf(const QUuid& id) const {
    for (qsizetype i = size_ - 1; i >= 0; --i)
        if (at(i).id() == id) return i;
    return std::nullopt;
}

QList<ChatMessage> MessageList::toList() const {
    QList<ChatMessage> list;
    list.reserve(size_);
    for (const QList<ChatMessage>& block : blocks_) list.append(block);
    return list;
}

bool MessageList::isSharedWith(const MessageList& other) const {
    if (size_ != other.size_) return false;
    for (qsizetype b = 0; b < blocks_.size(); ++b)
        if (blocks_[b].constData() != other.blocks_[b].constData()) return false;
    return true;
}

bool operator==(const MessageList& a, const MessageList& b) {
    return a.size_ == b.size_ && a.blocks_ == b.blocks_;
}

}  // namespace parlote
