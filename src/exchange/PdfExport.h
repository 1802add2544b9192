#pragma once

// A conversation as a PDF document: A4 with margins, in a light palette whatever the
// desktop's, laid out as the transcript shows it (the title, then each message under its
// author and time, its Markdown rendered by MarkdownLayout, a reply's reasoning as a
// "Thinking" section above its answer). Pages break between lines, never through one,
// unless a single line is taller than a page. A message's text beyond 200,000 characters
// is left out, under a note that says how much. Interface thread (it lays text out).

#include <QString>

#include "ConversationDocument.h"

class QIODevice;

namespace parlote {

class ImageStore;

/// Writes `conversation` as a PDF to `device` (opened for writing, or openable). Images
/// named by the text come from `images` when it has them already (none are fetched for
/// the PDF); their alternative text stands in otherwise. Returns false with `error` set
/// when the document could not be written.
bool writeConversationPdf(const TitledConversation& conversation, QIODevice* device,
                          ImageStore* images, QString* error = nullptr);

}  // namespace parlote
