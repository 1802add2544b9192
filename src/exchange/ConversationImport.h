#pragma once

// Reading a conversation from a file the user picked: a JSON export
// (ConversationExport.h) or a conversation file copied from a data folder
// ("<UUID>.json", which has no title). Whatever the file holds, the answer is a
// conversation or a short reason, never a crash: a file over limits::kMaxFileBytes is not
// read, and malformed JSON or text that is not UTF-8 counts as damaged. Any thread.

#include <QByteArray>
#include <QString>
#include <optional>

#include "ConversationDocument.h"

namespace parlote {

/// The title of an imported conversation that has none: the first user message's first
/// line, shortened as a model's title is; "Imported Conversation" without a user message.
QString importTitle(const QList<ChatMessage>& messages);

struct ImportRead {
    /// The conversation read; its id is the file's (or null when the file names none),
    /// and may already be in use.
    std::optional<TitledConversation> conversation;
    /// Why not, when there is no conversation: "not a JSON file", "damaged: …", …
    QString problem;
};

/// Reads the conversation in `bytes`; `fileName` gives the id of a data-folder file.
ImportRead readImportedConversation(const QByteArray& bytes, const QString& fileName = {});
/// Reads the file at `path` (a file too large is not read).
ImportRead readImportFile(const QString& path);

}  // namespace parlote
