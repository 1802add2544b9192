#include "Variants.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace parlote {

using Json = nlohmann::ordered_json;

namespace {

constexpr int kMaxDepth = 256;

VariantPoints::iterator pointAt(VariantPoints& points, qsizetype at) {
    return std::find_if(points.begin(), points.end(),
                        [at](const VariantPoint& point) { return point.at == at; });
}

/// Takes the thread from `at` on, with the points after `at`, as a branch; the thread is
/// cut to `at`. Kept messages carry no version marks: those belong to the shown thread.
ThreadBranch takeTail(MessageList& thread, VariantPoints& points, qsizetype at) {
    ThreadBranch branch;
    QList<ChatMessage> all = thread.toList();
    for (qsizetype i = at; i < all.size(); ++i) branch.messages.append(all[i].withVariants(0, 0));
    all.erase(all.begin() + at, all.end());
    thread = MessageList(all);
    for (auto it = points.begin(); it != points.end();) {
        if (it->at <= at) {
            ++it;
            continue;
        }
        VariantPoint inner = std::move(*it);
        inner.at -= at;
        branch.points.push_back(std::move(inner));
        it = points.erase(it);
    }
    return branch;
}

/// Appends `branch` to the thread, which ends at `at`.
void putTail(MessageList& thread, VariantPoints& points, qsizetype at, ThreadBranch branch) {
    for (ChatMessage& message : branch.messages) thread.append(std::move(message));
    for (VariantPoint& inner : branch.points) {
        inner.at += at;
        points.push_back(std::move(inner));
    }
    std::sort(points.begin(), points.end(),
              [](const VariantPoint& a, const VariantPoint& b) { return a.at < b.at; });
}

Json branchToJson(const ThreadBranch& branch) {
    Json object = Json::object();
    Json& messages = object["messages"] = Json::array();
    for (const ChatMessage& message : branch.messages) messages.push_back(message.toJson());
    if (!branch.points.empty()) object["variants"] = variantsToJson(branch.points);
    return object;
}

VariantPoints readPoints(const Json& array, qsizetype threadSize, int depth);

ThreadBranch readBranch(const Json& object, int depth) {
    if (!object.is_object()) throw DecodingError("a version is not an object");
    auto messages = object.find("messages");
    if (messages == object.end() || !messages->is_array() || messages->empty())
        throw DecodingError("a version has no messages");
    ThreadBranch branch;
    for (const Json& message : *messages) branch.messages.append(ChatMessage::fromJson(message));
    if (auto inner = object.find("variants"); inner != object.end())
        branch.points = readPoints(*inner, branch.messages.size(), depth + 1);
    return branch;
}

VariantPoints readPoints(const Json& array, qsizetype threadSize, int depth) {
    if (depth > kMaxDepth) throw DecodingError("versions nested too deeply");
    if (!array.is_array()) throw DecodingError("\"variants\" is not an array");
    VariantPoints points;
    for (const Json& object : array) {
        if (!object.is_object()) throw DecodingError("a variant point is not an object");
        auto at = object.find("at");
        auto shown = object.find("shown");
        auto others = object.find("others");
        if (at == object.end() || !at->is_number_integer() || shown == object.end() ||
            !shown->is_number_integer() || others == object.end() || !others->is_array() ||
            others->empty())
            throw DecodingError("a variant point lacks \"at\", \"shown\" or \"others\"");
        VariantPoint point;
        const auto where = at->get<std::int64_t>();
        if (where < 0 || where >= threadSize || (!points.empty() && where <= points.back().at))
            throw DecodingError("a variant point is outside its thread or out of order");
        point.at = qsizetype(where);
        const auto index = shown->get<std::int64_t>();
        if (index < 0 || index > std::int64_t(others->size()))
            throw DecodingError("a variant point shows a version it does not have");
        point.shown = int(index);
        for (const Json& branch : *others) point.others.push_back(readBranch(branch, depth));
        points.push_back(std::move(point));
    }
    return points;
}

}  // namespace

void markVariants(MessageList& thread, const VariantPoints& points) {
    auto point = points.begin();
    // Only messages whose mark changes are replaced, so unchanged storage stays shared.
    for (qsizetype i = 0; i < thread.size(); ++i) {
        while (point != points.end() && point->at < i) ++point;
        const bool here = point != points.end() && point->at == i;
        const int index = here ? point->shown : 0;
        const int count = here ? point->count() : 0;
        const ChatMessage& message = thread.at(i);
        if (message.variantIndex() != index || message.variantCount() != count)
            thread.replace(i, message.withVariants(index, count));
    }
}

std::optional<int> branchAt(MessageList& thread, VariantPoints& points, qsizetype at) {
    at = std::clamp<qsizetype>(at, 0, thread.size());
    auto point = pointAt(points, at);
    if (point == points.end()) {
        if (at == thread.size()) return std::nullopt;
        ThreadBranch kept = takeTail(thread, points, at);
        VariantPoint created;
        created.at = at;
        created.shown = 1;
        created.others.push_back(std::move(kept));
        points.push_back(std::move(created));
        std::sort(points.begin(), points.end(),
                  [](const VariantPoint& a, const VariantPoint& b) { return a.at < b.at; });
        return 0;
    }
    const int before = point->shown;
    const qsizetype index = point - points.begin();
    ThreadBranch kept = takeTail(thread, points, at);
    VariantPoint& same = points[size_t(index)];
    // An empty shown version (one that came to nothing) is not worth keeping.
    if (!kept.messages.isEmpty()) same.others.insert(same.others.begin() + same.shown, kept);
    same.shown = int(same.others.size());
    return before;
}

bool switchVariant(MessageList& thread, VariantPoints& points, qsizetype at, int index) {
    auto point = pointAt(points, at);
    if (point == points.end() || index < 0 || index >= point->count() || index == point->shown ||
        at >= thread.size())
        return false;
    const qsizetype position = point - points.begin();
    ThreadBranch current = takeTail(thread, points, at);
    VariantPoint& same = points[size_t(position)];
    same.others.insert(same.others.begin() + same.shown, std::move(current));
    ThreadBranch chosen = std::move(same.others[size_t(index)]);
    same.others.erase(same.others.begin() + index);
    same.shown = index;
    putTail(thread, points, at, std::move(chosen));
    return true;
}

void discardEmptyVersion(MessageList& thread, VariantPoints& points, qsizetype at,
                         int showInstead) {
    auto point = pointAt(points, at);
    if (point == points.end() || thread.size() != at) return;
    const int index = std::clamp(showInstead, 0, int(point->others.size()) - 1);
    ThreadBranch chosen = std::move(point->others[size_t(index)]);
    point->others.erase(point->others.begin() + index);
    if (point->others.empty()) {
        points.erase(point);
    } else {
        point->shown = index;
    }
    putTail(thread, points, at, std::move(chosen));
}

Json variantsToJson(const VariantPoints& points) {
    Json array = Json::array();
    for (const VariantPoint& point : points) {
        Json object = Json::object();
        object["at"] = std::int64_t(point.at);
        object["shown"] = point.shown;
        Json& others = object["others"] = Json::array();
        for (const ThreadBranch& branch : point.others) others.push_back(branchToJson(branch));
        array.push_back(std::move(object));
    }
    return array;
}

VariantPoints variantsFromJson(const Json& array, qsizetype threadSize) {
    return readPoints(array, threadSize, 0);
}

}  // namespace parlote
