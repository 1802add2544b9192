#include "ConversationDocument.h"

#include <nlohmann/json.hpp>

namespace parlote {

using Json = nlohmann::ordered_json;

Json conversationToJson(const QList<ChatMessage>& messages, const VariantPoints& variants,
                        const ConversationSettings& settings) {
    Json document = Json::object();
    Json& array = document["messages"] = Json::array();
    auto& items = array.get_ref<Json::array_t&>();
    items.reserve(static_cast<size_t>(messages.size()));
    for (const ChatMessage& message : messages) items.push_back(message.toJson());
    if (!variants.empty()) document["variants"] = variantsToJson(variants);
    if (Json object = settings.toJson(); !object.empty()) document["settings"] = std::move(object);
    return document;
}

Json conversationToJson(const ConversationContent& content) {
    return conversationToJson(content.messages, content.variants, content.settings);
}

ConversationContent conversationFromJson(const Json& document) {
    if (!document.is_object()) throw DecodingError("the file is not a JSON object");
    const auto messages = document.find("messages");
    if (messages == document.end()) throw DecodingError("missing key \"messages\"");
    if (!messages->is_array()) throw DecodingError("\"messages\" has the wrong type");
    ConversationContent content;
    content.messages.reserve(static_cast<qsizetype>(messages->size()));
    for (const Json& message : *messages)
        content.messages.push_back(ChatMessage::fromJson(message));
    if (auto variants = document.find("variants"); variants != document.end())
        content.variants = variantsFromJson(*variants, content.messages.size());
    if (auto settings = document.find("settings"); settings != document.end())
        content.settings = ConversationSettings::fromJson(*settings);
    return content;
}

}  // namespace parlote
