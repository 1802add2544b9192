#pragma once

// The other courses a conversation took. Regenerating a reply or editing a sent message
// does not throw away what it replaces: from that message on, the conversation exists in
// several versions, and the user pages through them. The thread that is shown is an
// ordinary transcript (what the model is sent, what the file's "messages" holds); the
// versions not shown are kept beside it as variant points.
//
// A variant point says: at index `at` of the thread the conversation has `count()`
// versions; the thread shows version `shown`, and `others` holds the rest, in order,
// with the shown one left out. Each version is a branch: its messages from `at` to its
// end, and the variant points inside them (their `at` counted from the branch's first
// message). Versions nest: a branch can hold points of its own.
//
// In a conversation file the points are written under the optional key "variants" after
// "messages"; a conversation without them is written exactly as before.

#include <QList>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <vector>

#include "ChatRecords.h"
#include "MessageList.h"

namespace parlote {

struct ThreadBranch;

struct VariantPoint {
    qsizetype at = 0;
    int shown = 0;
    std::vector<ThreadBranch> others;

    int count() const;  // defined below, where ThreadBranch is complete
    friend bool operator==(const VariantPoint&, const VariantPoint&) = default;
};

/// Variant points of a thread, ordered by `at`, at most one per index.
using VariantPoints = std::vector<VariantPoint>;

struct ThreadBranch {
    QList<ChatMessage> messages;
    VariantPoints points;

    friend bool operator==(const ThreadBranch&, const ThreadBranch&) = default;
};

inline int VariantPoint::count() const {
    return int(others.size()) + 1;
}

/// Gives the message at each point its version position (ChatMessage::withVariants) and
/// every other message none.
void markVariants(MessageList& thread, const VariantPoints& points);

/// Makes room for a new version at `at` (<= thread.size()): the thread's messages from
/// `at` on, with the points inside them, are kept as a version and the thread is cut to
/// `at`; the version then appended to the thread counts as the newest. Nothing is kept
/// when there is nothing from `at` on. Returns the version shown before (to go back to
/// should the new one come to nothing), or nullopt when nothing was there to keep.
std::optional<int> branchAt(MessageList& thread, VariantPoints& points, qsizetype at);

/// Shows version `index` of the point at `at`: the thread from `at` on is kept as a
/// version and replaced by that one. Returns false (changing nothing) when there is no
/// such point or version.
bool switchVariant(MessageList& thread, VariantPoints& points, qsizetype at, int index);

/// Gives up the version the point at `at` shows when it holds nothing (the thread ends
/// at `at`), showing version `showInstead` of the others again; a point left with one
/// version goes. Without a point at `at`, or when the thread goes on past it, does nothing.
void discardEmptyVersion(MessageList& thread, VariantPoints& points, qsizetype at, int showInstead);

/// The "variants" array of a conversation file.
nlohmann::ordered_json variantsToJson(const VariantPoints& points);
/// Reads a "variants" array for a thread of `threadSize` messages. Throws DecodingError
/// when it is not one this program wrote: a point outside the thread or out of order, a
/// shown index outside the versions, an empty version, nesting deeper than 256.
VariantPoints variantsFromJson(const nlohmann::ordered_json& array, qsizetype threadSize);

}  // namespace parlote
