// "toc.json" as the store reads it. Any bytes give either the list or a StoreError, with
// the damaged file moved aside byte for byte. A list that was read survives a save and a
// second read.

#include <QDir>

#include "ChatStore.h"
#include "FuzzSupport.h"

using namespace parlote;
using fuzzing::check;

namespace {

ChatStore* store = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    store = new ChatStore(fuzzing::scratchFolder());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::writeBytes(store->tocPath(), data, size);
    QList<Conversation> list;
    bool damaged = false;
    try {
        list = store->loadTOC();
    } catch (const StoreError&) {
        damaged = true;
    }
    if (damaged) {
        check(!QFile::exists(store->tocPath()), "a damaged list is moved out of the way");
        const QStringList aside =
            QDir(store->appFolder()).entryList({QStringLiteral("toc.damaged-*.json")});
        check(aside.size() == 1, "a damaged list is kept beside the new one");
        check(fuzzing::readBytes(store->appFolder() + QLatin1Char('/') + aside.front()) ==
                  QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)),
              "a damaged list is kept byte for byte");
    } else {
        store->saveTOC(list);  // a StoreError here escapes and counts as a finding
        check(store->loadTOC() == list, "a list survives a save unchanged");
    }
    fuzzing::emptyFolder(store->appFolder());
    return 0;
}
