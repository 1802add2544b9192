#pragma once

// The document a conversation file holds: {"messages":[…]} with, when there are any, the
// versions not shown ("variants") and the conversation's settings ("settings"). The store
// writes and reads its files through these two functions, and an exported conversation
// carries the same document, so the two never drift apart.

#include <QList>
#include <QString>
#include <QUuid>
#include <nlohmann/json_fwd.hpp>

#include "ChatRecords.h"
#include "ConversationSettings.h"
#include "Variants.h"

namespace parlote {

/// What a conversation file holds.
struct ConversationContent {
    QList<ChatMessage> messages;    // the shown thread
    VariantPoints variants;         // the versions not shown
    ConversationSettings settings;  // empty when nothing is set

    friend bool operator==(const ConversationContent&, const ConversationContent&) = default;
};

/// A conversation away from the sidebar list (exported, or being imported): its id, its
/// title and what its file holds.
struct TitledConversation {
    QUuid id;
    QString title;
    ConversationContent content;
};

/// {"messages":…} then "variants" and "settings" when there are any, in this key order.
nlohmann::ordered_json conversationToJson(const QList<ChatMessage>& messages,
                                          const VariantPoints& variants,
                                          const ConversationSettings& settings);
nlohmann::ordered_json conversationToJson(const ConversationContent& content);

/// Reads a conversation document. Throws DecodingError when it is not an object with a
/// "messages" array of messages, or when its "variants" are not ones this program wrote;
/// other keys are ignored, and settings are read tolerantly (ConversationSettings).
ConversationContent conversationFromJson(const nlohmann::ordered_json& document);

}  // namespace parlote
