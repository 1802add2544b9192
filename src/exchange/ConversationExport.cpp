#include "ConversationExport.h"

#include <QLocale>
#include <QStringList>
#include <nlohmann/json.hpp>

#include "ThinkBlock.h"

namespace parlote {

namespace {

QString author(ChatMessageType type) {
    switch (type) {
        case ChatMessageType::user:
            return QStringLiteral("You");
        case ChatMessageType::assistant:
            return QStringLiteral("Assistant");
        case ChatMessageType::error:
            return QStringLiteral("Error");
    }
    return {};
}

/// `text` as a Markdown quote: each line behind "> " (an empty line a bare ">").
QString quoted(QStringView text) {
    QStringList lines;
    for (QStringView line : text.split(QLatin1Char('\n')))
        lines.append(line.isEmpty() ? QStringLiteral(">") : QStringLiteral("> ") + line.toString());
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

QString exportHeading(const ChatMessage& message) {
    const QString when =
        QLocale().toString(message.timestamp().toLocalTime(), QStringLiteral("d MMMM yyyy HH:mm"));
    return author(message.type()) + QStringLiteral(" \u2014 ") + when;
}

QString conversationToMarkdown(const TitledConversation& conversation) {
    QString out = QStringLiteral("# ") + conversation.title + QStringLiteral("\n");
    for (const ChatMessage& message : conversation.content.messages) {
        out += QStringLiteral("\n## ") + exportHeading(message) + QStringLiteral("\n\n");
        const QString& text = message.content();
        const ThinkSplit split =
            message.type() == ChatMessageType::assistant ? splitThinking(text) : ThinkSplit{};
        QStringView answer = text;
        if (split.hasThinkBlock) {
            const QStringView thinking = split.thinking(text).trimmed();
            if (!thinking.isEmpty())
                out += QStringLiteral("> **Thinking**\n>\n") + quoted(thinking) +
                       QStringLiteral("\n\n");
            answer = split.answer(text);
        }
        out += answer.trimmed().toString() + QStringLiteral("\n");
    }
    return out;
}

QByteArray conversationToJsonFile(const TitledConversation& conversation) {
    using Json = nlohmann::ordered_json;
    Json file = Json::object();
    file["id"] = uuidText(conversation.id).toStdString();
    file["title"] = conversation.title.toStdString();
    Json document = conversationToJson(conversation.content);
    for (auto& [key, value] : document.items()) file[key] = std::move(value);
    const std::string bytes = file.dump(2, ' ', false, Json::error_handler_t::replace) + '\n';
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

}  // namespace parlote
