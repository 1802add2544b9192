#include "ChatStream.h"

#include <algorithm>

#include "GoJson.h"

namespace parlote::testing::detail {

Step LineWriter::flush() {
    const std::size_t size = pending_.size();
    const std::size_t piece = writeSize_ == 0 ? size : writeSize_;
    for (std::size_t offset = 0; offset < size; offset += piece) {
        if (offset > 0 && writeDelay_.count() > 0) {
            const Step step = server_.pause(writeDelay_, &sink_);
            if (step != Step::Ok) return step;
        }
        // Never hand the sink zero bytes: httplib takes that as end of data.
        if (!sink_.write(pending_.data() + offset, std::min(piece, size - offset)))
            return Step::ClientGone;
    }
    pending_.clear();
    pendingLines_ = 0;
    return Step::Ok;
}

ChatRender::ChatRender(std::string_view model) {
    prefix = "{\"model\":";
    gojson::appendString(prefix, model);
    prefix += ",\"created_at\":\"";
}

namespace {

void appendContent(std::string& out, const ChatChunk& chunk) {
    if (chunk.raw) {
        out += '"';
        out += chunk.content;
        out += '"';
    } else {
        gojson::appendString(out, chunk.content);
    }
}

}  // namespace

void ChatRender::appendChunk(std::string& out, const ChatChunk& chunk) const {
    out += prefix;
    out += gojson::nowRfc3339Nano();
    out += "\",\"message\":{\"role\":\"assistant\",\"content\":";
    appendContent(out, chunk);
    if (!chunk.thinking.empty()) {
        out += ",\"thinking\":";
        gojson::appendString(out, chunk.thinking);
    }
    out += "},\"done\":false}\n";
}

void ChatRender::appendFinal(std::string& out, const ChatChunk& message,
                             const std::string& doneReason, const ChatMetrics& m) const {
    out += prefix;
    out += gojson::nowRfc3339Nano();
    out += "\",\"message\":{\"role\":\"assistant\",\"content\":";
    appendContent(out, message);
    if (!message.thinking.empty()) {
        out += ",\"thinking\":";
        gojson::appendString(out, message.thinking);
    }
    out += "},\"done\":true";
    if (!doneReason.empty()) {
        out += ",\"done_reason\":";
        gojson::appendString(out, doneReason);
    }
    const std::pair<const char*, std::int64_t> metrics[] = {
        {"total_duration", m.totalDuration},
        {"load_duration", m.loadDuration},
        {"prompt_eval_count", m.promptEvalCount},
        {"prompt_eval_duration", m.promptEvalDuration},
        {"eval_count", m.evalCount},
        {"eval_duration", m.evalDuration}};
    for (const auto& [key, value] : metrics) {
        if (value == 0) continue;
        out += ",\"";
        out += key;
        out += "\":";
        out += std::to_string(value);
    }
    out += '}';
}

ChatMetrics measuredMetrics(const ChatScript& script, std::size_t generated,
                            Clock::time_point requestStart, Clock::time_point firstToken,
                            std::int64_t promptTokens) {
    if (script.metrics) return *script.metrics;
    const auto ns = [](Clock::duration d) {
        return std::max<std::int64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(d).count(), 1);
    };
    ChatMetrics m;
    m.totalDuration = ns(Clock::now() - requestStart);
    m.loadDuration =
        ns(std::chrono::duration_cast<Clock::duration>(script.firstByteDelay)) + 1334875;
    m.promptEvalCount = promptTokens;
    m.promptEvalDuration = promptTokens * 1317484;  // about 760 tokens a second
    m.evalCount = static_cast<std::int64_t>(generated);
    m.evalDuration = ns(Clock::now() - firstToken);
    return m;
}

namespace {

Step sendEndlessLine(StreamControl& server, httplib::DataSink& sink, const ChatRender& render) {
    constexpr std::size_t kPiece = 64 * 1024;
    constexpr std::size_t kMostBytes = std::size_t(1) << 30;
    std::string start;
    render.appendChunk(start, ChatChunk{"x", "", false});
    start.resize(start.find("\"x\"") + 1);  // up to the opening quote of the content
    if (!sink.write(start.data(), start.size())) return Step::ClientGone;
    const std::string piece(kPiece, 'x');
    for (std::size_t sent = 0; sent < kMostBytes; sent += kPiece) {
        if (Step step = server.pause(Milliseconds{0}, nullptr); step != Step::Ok) return step;
        if (!sink.write(piece.data(), piece.size())) return Step::ClientGone;
    }
    return Step::Dropped;
}

}  // namespace

Step streamChat(StreamControl& server, httplib::DataSink& sink, const ChatScript& script,
                const ChatRender& render, Clock::time_point requestStart,
                std::int64_t promptTokens) {
    LineWriter out(server, sink, script.linesPerWrite, script.writeSize, script.writeDelay);
    const auto firstToken = Clock::now();
    const std::size_t count = script.chunks.size();
    for (std::size_t sent = 0;; ++sent) {
        if (script.stallAfter && *script.stallAfter == sent) {
            if (Step step = out.flush(); step != Step::Ok) return step;
            if (Step step = server.stall(sink); step != Step::Ok) return step;
        }
        if (script.dropAfter && *script.dropAfter == sent) {
            const Step step = out.flush();
            return step == Step::Ok ? Step::Dropped : step;
        }
        if (script.endlessLineAfter && *script.endlessLineAfter == sent) {
            if (Step step = out.flush(); step != Step::Ok) return step;
            return sendEndlessLine(server, sink, render);
        }
        if (script.errorAfter && *script.errorAfter == sent) {
            if (Step step = out.line(gojson::errorObject(script.errorMessage) + "\n");
                step != Step::Ok)
                return step;
            return out.flush();
        }
        if (sent == count) break;
        if (sent > 0 && script.chunkDelay.count() > 0) {
            if (Step step = out.flush(); step != Step::Ok) return step;
            if (Step step = server.pause(script.chunkDelay, &sink); step != Step::Ok) return step;
        }
        render.appendChunk(out.buffer(), script.chunks[sent]);
        if (Step step = out.lineAdded(); step != Step::Ok) return step;
    }
    if (!script.omitDone) {
        std::string& buffer = out.buffer();
        render.appendFinal(buffer, ChatChunk{script.finalContent, {}, false}, script.doneReason,
                           measuredMetrics(script, count, requestStart, firstToken, promptTokens));
        buffer += '\n';
        if (Step step = out.lineAdded(); step != Step::Ok) return step;
    }
    return out.flush();
}

}  // namespace parlote::testing::detail
