#include "ChatRecordReader.h"

#include <QByteArray>
#include <QString>

namespace kestrelix::llm::detail {

json parseJson(std::string_view text) {
    json value = json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        const QByteArray repaired = QString::fromUtf8(text.data(), qsizetype(text.size())).toUtf8();
        value = json::parse(repaired.begin(), repaired.end(), nullptr, false);
    }
    return value;
}

std::string encodeJson(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string stringAt(const json& object, const char* key) {
    if (!object.is_object()) return {};
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string errorTextOf(const json& record) {
    std::string text = stringAt(record, "error");
    return text.empty() ? encodeJson(record.at("error")) : text;
}

LineKind readRecordLine(std::string_view line, json& record) {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) return LineKind::blank;
    record = parseJson(line);
    return record.is_object() ? LineKind::record : LineKind::malformed;
}

ChatStep ChatRecordReader::read(const json& record) {
    if (record.contains("error")) return {ChatStep::Kind::serverError, errorTextOf(record), false};
    const json noMessage;
    const auto message = record.find("message");
    const json& fields = message != record.end() ? *message : noMessage;
    const auto doneField = record.find("done");
    const bool done =
        doneField != record.end() && doneField->is_boolean() && doneField->get<bool>();
    return {ChatStep::Kind::text,
            replyText(stringAt(fields, "content"), stringAt(fields, "thinking"), done), done};
}

ChatStep ChatRecordReader::readLine(std::string_view line) {
    json record;
    switch (readRecordLine(line, record)) {
        case LineKind::blank:
            return {};
        case LineKind::record:
            return read(record);
        case LineKind::malformed:
            break;
    }
    return {ChatStep::Kind::malformed, {}, false};
}

std::string ChatRecordReader::replyText(const std::string& content, const std::string& thinking,
                                        bool done) {
    std::string text;
    if (!thinking.empty() && !contentStarted_) {
        if (!thinkOpen_) text = "<think>";
        thinkOpen_ = true;
        text += thinking;
    }
    if (!content.empty()) {
        if (thinkOpen_) text += "</think>\n\n";
        thinkOpen_ = false;
        contentStarted_ = true;
        text += content;
    }
    if (done && thinkOpen_) {
        text += "</think>";
        thinkOpen_ = false;
    }
    return text;
}

}  // namespace kestrelix::llm::detail
