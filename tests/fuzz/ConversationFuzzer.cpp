// Conversation files as the store reads them. Any bytes under "<UUID>.json" give either a
// transcript or, for a file that cannot be decoded, an empty one with the file moved
// aside byte for byte. A transcript that was read (with its versions, settings, pictures
// and figures) survives a save and a second read.

#include <QUuid>

#include "ChatStore.h"
#include "FuzzSupport.h"

using namespace parlote;
using fuzzing::check;

namespace {

ChatStore* store = nullptr;
const QUuid kId(QStringLiteral("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    store = new ChatStore(fuzzing::scratchFolder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = store->conversationPath(kId);
    fuzzing::writeBytes(path, data, size);
    const TranscriptRead read = store->readConversationFile(kId);
    if (!read.problem.isEmpty()) {
        check(read.messages.isEmpty(), "a damaged file reads as an empty transcript");
        check(!read.setAsidePath.isEmpty() && !QFile::exists(path),
              "a damaged file is moved out of the way");
        check(fuzzing::readBytes(read.setAsidePath) ==
                  QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)),
              "a damaged file is kept byte for byte");
    } else {
        check(read.setAsidePath.isEmpty(), "a file that was read stays where it is");
        check(bool(store->writeConversation(kId, read.messages, read.variants, read.settings)),
              "a transcript can be saved");
        const TranscriptRead again = store->readConversationFile(kId);
        check(again.problem.isEmpty(), "a saved transcript can be read");
        check(again.messages == read.messages, "a transcript survives a save unchanged");
        check(again.variants == read.variants, "the versions not shown survive a save");
        check(again.settings == read.settings, "the settings survive a save unchanged");
    }
    fuzzing::emptyFolder(store->appFolder());
    return 0;
}
