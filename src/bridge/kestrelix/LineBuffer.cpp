#include "LineBuffer.h"

#include <algorithm>

namespace kestrelix::llm::detail {

void LineBuffer::append(std::string_view bytes) {
    if (overlong_) return;  // the stream is over; keep memory flat
    buffer_.append(bytes);
}

std::string LineBuffer::cut(std::size_t end) {
    std::size_t stop = end;
    if (stop > readPos_ && buffer_[stop - 1] == '\r') --stop;
    std::string line = buffer_.substr(readPos_, stop - readPos_);
    readPos_ = std::min(end + 1, buffer_.size());
    scanPos_ = readPos_;
    if (readPos_ > compactAfter_ && readPos_ * 2 > buffer_.size()) {
        buffer_.erase(0, readPos_);
        scanPos_ -= readPos_;
        readPos_ = 0;
    }
    return line;
}

LineBuffer::Take LineBuffer::takeLine(std::string& line) {
    const auto giveUp = [this] {
        overlong_ = true;
        std::string().swap(buffer_);
        readPos_ = scanPos_ = 0;
        return Take::tooLong;
    };
    if (overlong_) return Take::tooLong;
    const std::size_t newline = buffer_.find('\n', scanPos_);  // never before readPos_
    if (newline != std::string::npos) {
        std::size_t length = newline - readPos_;
        if (length > 0 && buffer_[newline - 1] == '\r') --length;
        if (length > maxLineBytes_) return giveUp();
        line = cut(newline);
        return Take::line;
    }
    scanPos_ = buffer_.size();
    // A "\r" at the very end may still turn out to be part of the line's "\r\n"; every
    // other byte without a "\n" after it is text of the line being received.
    std::size_t pending = unread();
    if (pending > 0 && buffer_.back() == '\r') --pending;
    if (pending > maxLineBytes_) return giveUp();
    return Take::none;
}

LineBuffer::Take LineBuffer::takeLast(std::string& line) {
    std::string complete;
    const Take take = takeLine(complete);
    if (take == Take::line) {
        line = std::move(complete);
        return take;
    }
    if (take == Take::tooLong || unread() == 0) return take;
    line = cut(buffer_.size());
    return Take::line;
}

std::string LineBuffer::takeAll(std::size_t limit, bool& truncated) {
    const std::size_t available = unread();
    truncated = available > limit;
    std::string body = buffer_.substr(readPos_, std::min(limit, available));
    buffer_.clear();
    readPos_ = scanPos_ = 0;
    return body;
}

}  // namespace kestrelix::llm::detail
