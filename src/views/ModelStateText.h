#pragma once

// The words the model menu and the model manager use for what a model can do and for
// its place in memory. Interface thread (they read the locale).

#include <QDateTime>
#include <QString>

#include "ZoruveVede.h"

namespace parlote::views {

/// The capabilities worth a mark, in a fixed order: "vision · thinking · tools", or
/// "embedding only"; empty when the server did not say (chatting goes without saying).
QString capabilityMarks(const ModelDetails& details);
/// Everything the model can do in words, for the model manager: "Chat, vision, tools",
/// "Embeddings only"; empty when the server did not say.
QString capabilityList(const ModelDetails& details);
/// A context length in short: "128K context" for 131,072 tokens; empty for 0.
QString shortContext(qint64 tokens);
/// A context length in full: "131,072 tokens"; empty for 0.
QString fullContext(qint64 tokens);
/// Where the model runs, as Ollama's own command line says it: "100% GPU", "100% CPU",
/// "48%/52% CPU/GPU"; empty when it cannot be told.
QString processorShare(const RunningModel& running);
/// When it leaves memory, seen at `now`: "unloads in 4 min", "stays loaded", "unloading".
QString expiryText(const RunningModel& running, const QDateTime& now);
/// Size in memory, processor share and expiry: "2.1 GB · 100% GPU · unloads in 4 min".
QString memoryLine(const RunningModel& running, const QDateTime& now);
/// The quiet second line of a model in the menu: marks, context and whether it is
/// loaded ("tools · 128K context · loaded"); empty when nothing is known.
QString menuLine(const ModelState& state);
/// Why a model cannot be chosen for a conversation.
QString cannotChatText(const QString& name);

}  // namespace parlote::views
