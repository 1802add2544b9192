#pragma once

// File names for exported conversations: made from the title, safe on any Linux file
// system, and never the name of a file that is already there. Any thread.

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace parlote {

/// The three export formats, by the suffix of their files.
enum class ExportFormat { markdown, json, pdf };

/// "md", "json" or "pdf".
QString exportSuffix(ExportFormat format);
/// The format of a file name's suffix (either case); nullopt for any other.
std::optional<ExportFormat> exportFormatOfName(const QString& fileName);

/// `title` made fit to be a file name, without its suffix: no '/', no control characters,
/// runs of white space as one space, no leading dots, at most 80 characters (and never a
/// character cut in two), "Conversation" when nothing is left.
QString safeFileTitle(const QString& title);

/// "<safe title>.<suffix>", or "<safe title> (2).<suffix>", "(3)", … : the first name
/// `taken` says is free.
QString uniqueFileName(const QString& title, const QString& suffix,
                       const std::function<bool(const QString& name)>& taken);

/// Writes `bytes` to a new file in `folder` named for `title` (uniqueFileName): an
/// existing file is never replaced, even one that appears while this runs. Returns the
/// path written, or an empty path with `error` set.
QString writeNewExportFile(const QString& folder, const QString& title, const QString& suffix,
                           const QByteArray& bytes, QString* error);

}  // namespace parlote
