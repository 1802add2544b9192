#include "ChatStore.h"

#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <exception>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "ConversationDocument.h"
#include "TaskRunner.h"

namespace parlote {

namespace {

using Json = nlohmann::ordered_json;

constexpr QFile::Permissions kFolderPermissions =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

std::string utf8(const QString& text) {
    // QString::toStdString also encodes lone surrogates as valid UTF-8 (U+FFFD),
    // so the encoder below never meets invalid bytes from here.
    return text.toStdString();
}

QString fromUtf8(const Json& value) {
    const std::string& s = value.get_ref<const std::string&>();
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string encode(const Json& document) {
    // Compact output. `replace` keeps an odd byte sequence from turning a save into an
    // exception; the file then holds U+FFFD where the bad bytes were.
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

/// Creates `path` and every missing parent, each new folder with mode 0700 (as the XDG
/// base directory rules ask for data folders). Folders that exist are left as they are.
bool makeFolder(const QString& path) {
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    QFileInfo info(clean);
    if (!info.exists()) {
        const QString parent = info.path();
        if (parent != clean && !QFileInfo::exists(parent) && !makeFolder(parent)) return false;
        if (!QDir().mkdir(clean, kFolderPermissions) && !QFileInfo(clean).isDir()) return false;
    }
    return QFileInfo(clean).isDir();
}

struct ReadResult {
    enum Status { missing, unreadable, ok } status;
    QByteArray bytes;
    QString error;
};

ReadResult readWhole(const QString& path) {
    QFile file(path);
    if (!file.exists()) return {ReadResult::missing, {}, {}};
    if (!file.open(QIODevice::ReadOnly)) return {ReadResult::unreadable, {}, file.errorString()};
    const qint64 size = file.size();
    if (size > ChatStore::maxFileSize)
        return {ReadResult::unreadable, {}, QStringLiteral("file is larger than the limit")};
    try {
        QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return {ReadResult::unreadable, {}, file.errorString()};
        if (bytes.size() > ChatStore::maxFileSize)  // grew while being read
            return {ReadResult::unreadable, {}, QStringLiteral("file is larger than the limit")};
        return {ReadResult::ok, std::move(bytes), {}};
    } catch (const std::bad_alloc&) {
        return {ReadResult::unreadable, {}, QStringLiteral("out of memory")};
    }
}

/// Parses without exceptions; invalid JSON, invalid UTF-8 included, gives a discarded value.
Json parse(const QByteArray& bytes) {
    const char* begin = bytes.constData();
    return Json::parse(begin, begin + bytes.size(), nullptr, /*allow_exceptions=*/false);
}

const Json& member(const Json& object, const char* key, Json::value_t type) {
    auto it = object.find(key);
    if (it == object.end()) throw DecodingError(std::string("missing key \"") + key + '"');
    if (it->type() != type) throw DecodingError(std::string("\"") + key + "\" has the wrong type");
    return *it;
}

const Json::array_t& memberArray(const Json& document, const char* key) {
    if (!document.is_object()) throw DecodingError("the file is not a JSON object");
    return member(document, key, Json::value_t::array).get_ref<const Json::array_t&>();
}

QList<Conversation> decodeTOC(const Json& document) {
    const Json::array_t& entries = memberArray(document, "contents");
    QList<Conversation> list;
    list.reserve(static_cast<qsizetype>(entries.size()));
    for (const Json& entry : entries) {
        if (!entry.is_object()) throw DecodingError("an entry is not an object");
        const Json& idText = member(entry, "id", Json::value_t::string);
        const std::string& idBytes = idText.get_ref<const std::string&>();
        auto uuid = uuidFromText(
            QString::fromLatin1(idBytes.data(), static_cast<qsizetype>(idBytes.size())));
        if (!uuid) throw DecodingError("malformed conversation id");
        list.emplace_back(SidebarID::conversation(*uuid),
                          fromUtf8(member(entry, "title", Json::value_t::string)),
                          fromUtf8(member(entry, "lastMessage", Json::value_t::string)));
        // Optional, and read tolerantly: only `true` pins; any other value is ignored
        // rather than costing the whole list.
        if (auto pinned = entry.find("pinned"); pinned != entry.end() && pinned->is_boolean())
            list.back().setPinned(pinned->get<bool>());
    }
    return list;
}

/// Moves an undecodable file "<name>.json" to "<name>.damaged-<UTC time>[-n].json" beside
/// it and returns the new path (empty if it could not be moved). The rename never
/// replaces an existing file, so two damaged files found in the same second both survive.
QString moveAside(const QString& path) {
    QString base = path;
    if (base.endsWith(QStringLiteral(".json"))) base.chop(5);
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    base += QStringLiteral(".damaged-") + stamp;
    for (int n = 1; n < 1000; ++n) {
        const QString target =
            n == 1 ? base + QStringLiteral(".json")
                   : base + QLatin1Char('-') + QString::number(n) + QStringLiteral(".json");
        if (QFileInfo::exists(target)) continue;
        // link + unlink never replaces a file that appeared meanwhile; rename would.
        if (::link(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) ==
            0) {
            ::unlink(QFile::encodeName(path).constData());
            return target;
        }
        if (errno == EEXIST) continue;
        // File systems without hard links: a plain rename, after the check above.
        if (QFile::rename(path, target)) return target;
        return {};
    }
    return {};
}

QString writeAtomically(const QString& path, const std::string& bytes, const FileIo& io) {
    return replaceFileAtomically(path, bytes.data(), bytes.size(), io);
}

/// Names of the temporary files a save makes beside "toc.json" and "<UUID>.json":
/// the final name plus a dot and six random letters or digits.
const QRegularExpression& temporaryFileName() {
    static const QRegularExpression form(
        QStringLiteral("^(toc|[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})\\."
                       "json\\.[A-Za-z0-9]{6}$"));
    return form;
}

}  // namespace

ChatStore& ChatStore::shared() {
    // The platform always reports a data location for a logged-in user. Should it not,
    // the store has no folder: reads find nothing and writes fail.
    static ChatStore store([] {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        return base.isEmpty() ? QString() : base + QStringLiteral("/Parlote");
    }());
    return store;
}

ChatStore::ChatStore(QString folder)
    : appFolder_(std::move(folder)),
      attachments_(appFolder_.isEmpty() ? QString() : appFolder_ + QStringLiteral("/attachments")) {
    if (appFolder_.isEmpty()) return;
    if (makeFolder(appFolder_)) {
        // The folder holds private transcripts: tighten it even if it existed before.
        QFile::setPermissions(appFolder_, kFolderPermissions);
        removeStaleTemporaryFiles(kStaleTemporaryAge);
    }
}

ChatStore::~ChatStore() {
    std::lock_guard lock(prefetchMutex_);
    if (prefetched_) prefetched_->result();
}

QString ChatStore::tocPath() const {
    return appFolder_ + QStringLiteral("/toc.json");
}

QString ChatStore::conversationPath(const QUuid& id) const {
    return appFolder_ + QLatin1Char('/') + uuidText(id) + QStringLiteral(".json");
}

void ChatStore::prefetchTOC() {
    // Qt takes the first thread that asks for its thread data as the main thread; at
    // start-up that must be the caller, not the reader.
    QThread::currentThread();
    std::lock_guard lock(prefetchMutex_);
    if (prefetched_) return;
    auto [future, promise] = Future<Prefetch>::make();
    prefetched_ = future;
    TaskRunner::shared().start([this, promise = promise]() mutable {
        try {
            promise.set({readTOC(), nullptr});
        } catch (...) {
            promise.set({{}, std::current_exception()});
        }
    });
}

QList<Conversation> ChatStore::loadTOC() const {
    std::optional<Future<Prefetch>> prefetched;
    {
        std::lock_guard lock(prefetchMutex_);
        prefetched.swap(prefetched_);
    }
    if (prefetched) {
        const Prefetch& result = prefetched->result();
        if (result.second) std::rethrow_exception(result.second);  // the reader's StoreError
        return result.first;
    }
    return readTOC();
}

QList<Conversation> ChatStore::readTOC() const {
    if (appFolder_.isEmpty()) return {};
    const QString path = tocPath();
    ReadResult read = readWhole(path);
    if (read.status == ReadResult::missing) return {};
    try {
        if (read.status != ReadResult::ok) throw DecodingError(read.error.toStdString());
        const Json document = parse(read.bytes);
        read.bytes = QByteArray();  // the parsed form is all that is needed from here
        if (document.is_discarded()) throw DecodingError("malformed JSON");
        return decodeTOC(document);
    } catch (const std::exception& e) {
        // DecodingError, or bad_alloc on a file too large for memory. Keep the file
        // out of the way of the next save before reporting.
        moveAside(path);
        throw StoreError(std::string("\"toc.json\" cannot be read: ") + e.what());
    }
}

void ChatStore::saveTOC(const QList<Conversation>& list) const {
    std::string bytes;
    try {
        Json document = Json::object();
        Json& contents = document["contents"] = Json::array();
        auto& entries = contents.get_ref<Json::array_t&>();
        entries.reserve(static_cast<size_t>(list.size()));
        for (const Conversation& conversation : list) {
            if (!conversation.id().isConversation()) continue;  // the new-conversation item
            Json entry = Json::object();
            entry["id"] = utf8(conversation.id().id());
            entry["title"] = utf8(conversation.title());
            entry["lastMessage"] = utf8(conversation.lastMessage());
            // Only when set: a list without pins is written as it always was.
            if (conversation.pinned()) entry["pinned"] = true;
            entries.push_back(std::move(entry));
        }
        bytes = encode(document);
    } catch (const std::exception& e) {
        throw StoreError(std::string("cannot encode the table of contents: ") + e.what());
    }
    if (appFolder_.isEmpty()) throw StoreError("no data folder");
    const QString error = writeAtomically(tocPath(), bytes, io_);
    if (!error.isEmpty())
        throw StoreError("cannot write \"toc.json\": " + error.toStdString(), error);
}

TranscriptRead ChatStore::readConversationFile(const QUuid& id) const {
    if (appFolder_.isEmpty()) return {};
    const QString path = conversationPath(id);
    TranscriptRead result;
    try {
        ReadResult read = readWhole(path);
        if (read.status == ReadResult::missing) return {};
        if (!QFileInfo(path).isFile()) {
            // A folder or device under the file's name: nothing to keep, and no save can
            // replace it either.
            result.problem = QStringLiteral("it is not a file");
            return result;
        }
        if (read.status != ReadResult::ok) throw DecodingError(read.error.toStdString());
        const Json document = parse(read.bytes);
        read.bytes = QByteArray();
        if (document.is_discarded()) throw DecodingError("malformed JSON");
        ConversationContent content = conversationFromJson(document);
        result.messages = std::move(content.messages);
        result.variants = std::move(content.variants);
        result.settings = std::move(content.settings);
        return result;
    } catch (const std::exception& e) {
        // DecodingError, or bad_alloc: the transcript reads as empty, and the file goes
        // out of the way of the next save, which would otherwise overwrite every message.
        result.messages.clear();
        result.variants.clear();
        result.settings = {};
        result.problem = QString::fromUtf8(e.what());
        result.setAsidePath = moveAside(path);
        return result;
    }
}

QList<ChatMessage> ChatStore::readConversation(const QUuid& id) const {
    return readConversationFile(id).messages;
}

WriteResult ChatStore::writeConversation(const QUuid& id, const QList<ChatMessage>& messages,
                                         const VariantPoints& variants,
                                         const ConversationSettings& settings) const {
    if (appFolder_.isEmpty()) return {QStringLiteral("there is no data folder")};
    try {
        std::string bytes;
        bytes = encode(conversationToJson(messages, variants, settings));
        // the tree went before the write, so the peak holds one copy of the text
        return {writeAtomically(conversationPath(id), bytes, io_)};
    } catch (const std::bad_alloc&) {
        return {QStringLiteral("out of memory")};
    } catch (const std::exception& e) {
        return {QString::fromUtf8(e.what())};
    }
}

QStringList ChatStore::attachmentsOnlyUsedBy(const QUuid& id) const {
    if (appFolder_.isEmpty()) return {};
    // Picture names are found in the files' bytes rather than in decoded messages: a
    // damaged file, which cannot be decoded, still keeps the pictures it names.
    static const QRegularExpression name(
        QStringLiteral("[0-9a-f]{64}\\.(?:png|jpg|webp|gif|bmp)(?![0-9A-Za-z])"));
    const QString own = conversationPath(id);
    ReadResult read = readWhole(own);
    if (read.status != ReadResult::ok) return {};
    QStringList candidates;
    const QString text = QString::fromLatin1(read.bytes);
    for (auto it = name.globalMatch(text); it.hasNext();) {
        const QString reference = it.next().captured(0);
        if (!candidates.contains(reference)) candidates.append(reference);
    }
    if (candidates.isEmpty()) return {};
    const QFileInfoList files =
        QDir(appFolder_).entryInfoList({QStringLiteral("*.json")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& file : files) {
        if (candidates.isEmpty()) break;
        if (file.absoluteFilePath() == QFileInfo(own).absoluteFilePath()) continue;
        const ReadResult other = readWhole(file.filePath());
        // A file that cannot be read might name them all: keep every picture.
        if (other.status != ReadResult::ok) return {};
        candidates.removeIf(
            [&](const QString& reference) { return other.bytes.contains(reference.toLatin1()); });
    }
    return candidates;
}

QString ChatStore::draftsPath() const {
    return appFolder_ + QStringLiteral("/drafts.json");
}

QHash<QString, QString> ChatStore::loadDrafts() const {
    QHash<QString, QString> drafts;
    if (appFolder_.isEmpty()) return drafts;
    ReadResult read = readWhole(draftsPath());
    if (read.status != ReadResult::ok) return drafts;
    const Json document = parse(read.bytes);
    if (!document.is_object()) return drafts;  // unreadable drafts are not worth a warning
    auto list = document.find("drafts");
    if (list == document.end() || !list->is_object()) return drafts;
    for (auto it = list->begin(); it != list->end(); ++it) {
        if (!it->is_string()) continue;
        const QString text = QString::fromStdString(it->get<std::string>());
        if (!text.isEmpty()) drafts.insert(QString::fromStdString(it.key()), text);
    }
    return drafts;
}

WriteResult ChatStore::saveDrafts(const QHash<QString, QString>& drafts) const {
    if (appFolder_.isEmpty()) return {QStringLiteral("there is no data folder")};
    if (drafts.isEmpty()) {
        if (QFile::exists(draftsPath()) && !QFile::remove(draftsPath()))
            return {QStringLiteral("cannot remove \"drafts.json\"")};
        return {};
    }
    try {
        Json document = Json::object();
        Json& list = document["drafts"] = Json::object();
        // In a stable order, so that an unchanged set of drafts writes the same bytes.
        QStringList keys = drafts.keys();
        keys.sort();
        for (const QString& key : keys) list[utf8(key)] = utf8(drafts.value(key));
        return {writeAtomically(draftsPath(), encode(document), io_)};
    } catch (const std::exception& e) {
        return {QString::fromUtf8(e.what())};
    }
}

QString ChatStore::draftPicturesPath() const {
    return appFolder_ + QStringLiteral("/draft-pictures.json");
}

QHash<QString, QStringList> ChatStore::loadDraftPictures() const {
    QHash<QString, QStringList> pictures;
    if (appFolder_.isEmpty()) return pictures;
    ReadResult read = readWhole(draftPicturesPath());
    if (read.status != ReadResult::ok) return pictures;
    const Json document = parse(read.bytes);
    if (!document.is_object()) return pictures;
    auto list = document.find("pictures");
    if (list == document.end() || !list->is_object()) return pictures;
    for (auto it = list->begin(); it != list->end(); ++it) {
        if (!it->is_array()) continue;
        QStringList references;
        for (const Json& item : *it) {
            if (!item.is_string()) continue;
            const QString reference = QString::fromStdString(item.get<std::string>());
            // A picture removed since (by hand, or with its conversation) is gone.
            if (!AttachmentStore::isReference(reference) || references.contains(reference) ||
                !QFile::exists(attachments_.path(reference)))
                continue;
            references.append(reference);
        }
        if (!references.isEmpty()) pictures.insert(QString::fromStdString(it.key()), references);
    }
    return pictures;
}

WriteResult ChatStore::saveDraftPictures(const QHash<QString, QStringList>& pictures) const {
    if (appFolder_.isEmpty()) return {QStringLiteral("there is no data folder")};
    QStringList keys;
    for (auto it = pictures.cbegin(); it != pictures.cend(); ++it)
        if (!it->isEmpty()) keys.append(it.key());
    if (keys.isEmpty()) {
        if (QFile::exists(draftPicturesPath()) && !QFile::remove(draftPicturesPath()))
            return {QStringLiteral("cannot remove \"draft-pictures.json\"")};
        return {};
    }
    try {
        Json document = Json::object();
        Json& list = document["pictures"] = Json::object();
        // In a stable order, so that an unchanged set of pictures writes the same bytes.
        keys.sort();
        for (const QString& key : keys) {
            Json& references = list[utf8(key)] = Json::array();
            for (const QString& reference : pictures.value(key))
                references.push_back(utf8(reference));
        }
        return {writeAtomically(draftPicturesPath(), encode(document), io_)};
    } catch (const std::exception& e) {
        return {QString::fromUtf8(e.what())};
    }
}

int ChatStore::removeStaleTemporaryFiles(std::chrono::seconds minimumAge) const {
    if (appFolder_.isEmpty()) return 0;
    const QDateTime cutoff =
        QDateTime::currentDateTimeUtc().addSecs(-static_cast<qint64>(minimumAge.count()));
    QDir folder(appFolder_);
    int removed = 0;
    // Only names that can be a leftover of an interrupted save are looked at.
    const QFileInfoList candidates =
        folder.entryInfoList({QStringLiteral("*.json.??????")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& info : candidates) {
        if (!temporaryFileName().match(info.fileName()).hasMatch()) continue;
        // A young file may belong to a save in progress in another instance.
        if (info.lastModified().toUTC() > cutoff) continue;
        if (QFile::remove(info.filePath())) ++removed;
    }
    return removed;
}

}  // namespace parlote
