#include "ChatRecords.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <nlohmann/json.hpp>

#include "AttachmentStore.h"

namespace parlote {

QString uuidText(const QUuid& uuid) {
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFromText(QStringView text) {
    // QUuid also accepts braces and trailing garbage; only the bare 36-character form is valid.
    static const QRegularExpression form(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!form.match(text).hasMatch()) return std::nullopt;
    return QUuid::fromString(text);
}

QString dateText(const QDateTime& date) {
    // Every message is stamped when made; should a date ever be invalid, write the epoch
    // rather than a value that would make the whole file unreadable.
    if (!date.isValid()) return QStringLiteral("1970-01-01T00:00:00Z");
    QDateTime utc = date.toUTC();
    utc.setTime(QTime(utc.time().hour(), utc.time().minute(), utc.time().second()));
    return utc.toString(Qt::ISODate);  // yyyy-MM-ddTHH:mm:ssZ for a UTC date without msecs
}

std::optional<QDateTime> dateFromText(QStringView text) {
    static const QRegularExpression form(
        QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$"));
    if (!form.match(text).hasMatch()) return std::nullopt;
    QDateTime date = QDateTime::fromString(text.toString(), Qt::ISODate).toUTC();
    // Qt also takes "T24:00:00" as the next midnight; only text that this date writes
    // back unchanged is the file form.
    if (!date.isValid() || dateText(date) != text) return std::nullopt;
    return date;
}

QString SidebarID::id() const {
    return uuid_ ? uuidText(*uuid_) : QStringLiteral("new");
}

size_t qHash(const SidebarID& id, size_t seed) noexcept {
    QtPrivate::QHashCombine combine;
    seed = combine(seed, id.isConversation() ? 1 : 0);
    if (id.isConversation()) seed = combine(seed, id.uuid());
    return seed;
}

size_t qHash(const Conversation& c, size_t seed) noexcept {
    return qHashMulti(seed, c.id(), c.title(), c.lastMessage(), c.pinned());
}

QList<Conversation> pinnedFirst(const QList<Conversation>& list) {
    QList<Conversation> ordered;
    ordered.reserve(list.size());
    for (const Conversation& c : list)
        if (c.pinned()) ordered.append(c);
    for (const Conversation& c : list)
        if (!c.pinned()) ordered.append(c);
    return ordered;
}

QString toText(ChatMessageType type) {
    switch (type) {
        case ChatMessageType::user:
            return QStringLiteral("user");
        case ChatMessageType::assistant:
            return QStringLiteral("assistant");
        case ChatMessageType::error:
            return QStringLiteral("error");
    }
    return {};
}

std::optional<ChatMessageType> chatMessageTypeFromText(QStringView text) {
    if (text == u"user") return ChatMessageType::user;
    if (text == u"assistant") return ChatMessageType::assistant;
    if (text == u"error") return ChatMessageType::error;
    return std::nullopt;
}

namespace {

/// The figures of a "stats" object, by file name, in the order they are written.
constexpr std::pair<const char*, qint64 ReplyStats::*> kFigures[] = {
    {"eval_count", &ReplyStats::evalCount},
    {"eval_duration", &ReplyStats::evalDuration},
    {"prompt_eval_count", &ReplyStats::promptEvalCount},
    {"prompt_eval_duration", &ReplyStats::promptEvalDuration},
    {"load_duration", &ReplyStats::loadDuration},
    {"total_duration", &ReplyStats::totalDuration},
    {"context_length", &ReplyStats::contextLength},
};

std::optional<double> rate(qint64 count, qint64 nanoseconds) {
    if (count <= 0 || nanoseconds <= 0) return std::nullopt;
    return double(count) * 1e9 / double(nanoseconds);
}

}  // namespace

std::optional<double> ReplyStats::tokensPerSecond() const {
    return rate(evalCount, evalDuration);
}

std::optional<double> ReplyStats::promptTokensPerSecond() const {
    return rate(promptEvalCount, promptEvalDuration);
}

nlohmann::ordered_json ReplyStats::toJson() const {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& [key, figure] : kFigures)
        if (this->*figure > 0) object[key] = std::int64_t(this->*figure);
    if (contextCut) object["context_cut"] = true;
    return object;
}

ReplyStats ReplyStats::fromJson(const nlohmann::ordered_json& object) {
    ReplyStats stats;
    if (!object.is_object()) return stats;
    for (const auto& [key, figure] : kFigures) {
        const auto it = object.find(key);
        if (it != object.end() && it->is_number_integer() && !it->is_number_unsigned() &&
            it->get<std::int64_t>() > 0)
            stats.*figure = it->get<std::int64_t>();
        else if (it != object.end() && it->is_number_unsigned() &&
                 it->get<std::uint64_t>() <= std::uint64_t(INT64_MAX))
            stats.*figure = qint64(it->get<std::uint64_t>());
    }
    if (auto cut = object.find("context_cut"); cut != object.end() && cut->is_boolean())
        stats.contextCut = cut->get<bool>();
    return stats;
}

ChatMessage ChatMessage::make(QString content, ChatMessageType type) {
    return ChatMessage(QUuid::createUuid(), std::move(content), type,
                       QDateTime::currentDateTimeUtc());
}

nlohmann::ordered_json ChatMessage::toJson() const {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["id"] = uuidText(id_).toStdString();
    object["content"] = content_.toStdString();
    object["type"] = toText(type_).toStdString();
    object["timestamp"] = dateText(timestamp_).toStdString();
    if (stopped_) object["stopped"] = true;
    if (!images_.isEmpty()) {
        nlohmann::ordered_json& list = object["images"] = nlohmann::ordered_json::array();
        for (const QString& reference : images_) list.push_back(reference.toStdString());
    }
    if (stats_) object["stats"] = stats_->toJson();
    return object;
}

namespace {

QString requiredString(const nlohmann::ordered_json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw DecodingError(std::string("missing key \"") + key + '"');
    if (!it->is_string()) throw DecodingError(std::string("\"") + key + "\" is not a string");
    return QString::fromStdString(it->get_ref<const std::string&>());
}

}  // namespace

ChatMessage ChatMessage::fromJson(const nlohmann::ordered_json& object) {
    if (!object.is_object()) throw DecodingError("a message is not an object");
    auto id = uuidFromText(requiredString(object, "id"));
    if (!id) throw DecodingError("malformed message id");
    QString content = requiredString(object, "content");
    auto type = chatMessageTypeFromText(requiredString(object, "type"));
    if (!type) throw DecodingError("unknown message type");
    auto timestamp = dateFromText(requiredString(object, "timestamp"));
    if (!timestamp) throw DecodingError("malformed timestamp");
    ChatMessage message(*id, std::move(content), *type, *timestamp);
    if (auto stopped = object.find("stopped"); stopped != object.end() && stopped->is_boolean())
        message.stopped_ = stopped->get<bool>();
    if (auto images = object.find("images"); images != object.end()) {
        if (!images->is_array() || images->empty())
            throw DecodingError("\"images\" is not a list of pictures");
        for (const auto& reference : *images) {
            if (!reference.is_string()) throw DecodingError("a picture name is not a string");
            const QString name = QString::fromStdString(reference.get_ref<const std::string&>());
            if (!AttachmentStore::isReference(name)) throw DecodingError("malformed picture name");
            message.images_.append(name);
        }
    }
    if (auto stats = object.find("stats"); stats != object.end() && stats->is_object())
        message.stats_ = ReplyStats::fromJson(*stats);
    return message;
}

}  // namespace parlote
