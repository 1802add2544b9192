#include "ConversationImport.h"

#include <QFile>
#include <QFileInfo>
#include <new>
#include <nlohmann/json.hpp>

#include "ConversationManager.h"
#include "Limits.h"

namespace parlote {

namespace {

using Json = nlohmann::ordered_json;

bool looksLikeJson(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        return c == '{' || c == '[';
    }
    return false;
}

std::optional<QString> stringMember(const Json& document, const char* key) {
    const auto it = document.find(key);
    if (it == document.end() || !it->is_string()) return std::nullopt;
    const std::string& s = it->get_ref<const std::string&>();
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

}  // namespace

QString importTitle(const QList<ChatMessage>& messages) {
    for (const ChatMessage& message : messages) {
        if (message.type() != ChatMessageType::user) continue;
        const QString title = titleFromReply(message.content());
        if (!title.isEmpty()) return title;
    }
    return QStringLiteral("Imported Conversation");
}

ImportRead readImportedConversation(const QByteArray& bytes, const QString& fileName) {
    if (bytes.size() > limits::kMaxFileBytes) return {std::nullopt, QStringLiteral("too large")};
    try {
        const Json document =
            Json::parse(bytes.constData(), bytes.constData() + bytes.size(), nullptr, false);
        if (document.is_discarded())
            return {std::nullopt, looksLikeJson(bytes) ? QStringLiteral("damaged (not valid JSON)")
                                                       : QStringLiteral("not a JSON file")};
        if (!document.is_object() || !document.contains("messages"))
            return {std::nullopt, QStringLiteral("not a conversation")};
        TitledConversation conversation;
        conversation.content = conversationFromJson(document);
        if (conversation.content.messages.isEmpty())
            return {std::nullopt, QStringLiteral("no messages")};
        // An export names its id; a data-folder file is named after it.
        if (auto id = stringMember(document, "id"); id && uuidFromText(*id))
            conversation.id = *uuidFromText(*id);
        else if (auto own = uuidFromText(QFileInfo(fileName).completeBaseName()))
            conversation.id = *own;
        const QString title = titleFromReply(stringMember(document, "title").value_or(QString()));
        conversation.title = title.isEmpty() ? importTitle(conversation.content.messages) : title;
        return {std::move(conversation), {}};
    } catch (const DecodingError& e) {
        return {std::nullopt, QStringLiteral("damaged (%1)").arg(QString::fromUtf8(e.what()))};
    } catch (const std::bad_alloc&) {
        return {std::nullopt, QStringLiteral("too large to read")};
    } catch (const std::exception& e) {
        return {std::nullopt, QStringLiteral("damaged (%1)").arg(QString::fromUtf8(e.what()))};
    }
}

ImportRead readImportFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return {std::nullopt, QStringLiteral("not found")};
    if (!info.isFile()) return {std::nullopt, QStringLiteral("not a file")};
    if (info.size() > limits::kMaxFileBytes) return {std::nullopt, QStringLiteral("too large")};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("cannot be read (%1)").arg(file.errorString())};
    // Read at most one byte past the limit: a file that grew meanwhile is not read whole.
    QByteArray bytes;
    try {
        bytes = file.read(limits::kMaxFileBytes + 1);
    } catch (const std::bad_alloc&) {
        return {std::nullopt, QStringLiteral("too large to read")};
    }
    if (file.error() != QFileDevice::NoError)
        return {std::nullopt, QStringLiteral("cannot be read (%1)").arg(file.errorString())};
    return readImportedConversation(bytes, info.fileName());
}

}  // namespace parlote
