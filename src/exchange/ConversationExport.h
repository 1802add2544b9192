#pragma once

// A conversation written out for the user to keep or share elsewhere: as Markdown (to
// read) or as JSON (the conversation file's own document plus its id and title, which
// ConversationImport.h reads back without losing anything). Any thread.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "ConversationDocument.h"

namespace parlote {

/// How a message's author and time read in an export: "You — 7 December 2026 14:03",
/// "Assistant — …", "Error — …"; the time in the local time zone, the month in the
/// default locale's words.
QString exportHeading(const ChatMessage& message);

/// The title as a "# " heading, then each message of the shown thread under a "## "
/// heading (exportHeading). A reply's think block comes first as a quoted "Thinking"
/// section ("> **Thinking**", then each line of the reasoning behind "> "), then the
/// answer; other text is written as it was written.
QString conversationToMarkdown(const TitledConversation& conversation);

/// {"id":…,"title":…,"messages":…} and the conversation file's other keys ("variants",
/// "settings") when there are any; indented, UTF-8.
QByteArray conversationToJsonFile(const TitledConversation& conversation);

}  // namespace parlote
