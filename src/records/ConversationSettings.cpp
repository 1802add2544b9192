#include "ConversationSettings.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace parlote {

using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kThinkLevels[] = {"low", "medium", "high", "max"};

/// A JSON integer that fits in 64 bits, signed.
std::optional<std::int64_t> integerOf(const Json& value) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > std::uint64_t(INT64_MAX)) return std::nullopt;
        return std::int64_t(number);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    return std::nullopt;
}

}  // namespace

Json thinkToJson(ThinkSetting think) {
    switch (think) {
        case ThinkSetting::off:
            return false;
        case ThinkSetting::on:
            return true;
        case ThinkSetting::low:
        case ThinkSetting::medium:
        case ThinkSetting::high:
        case ThinkSetting::max:
            return kThinkLevels[int(think) - int(ThinkSetting::low)];
    }
    return false;
}

std::optional<ThinkSetting> thinkFromJson(const Json& value) {
    if (value.is_boolean()) return value.get<bool>() ? ThinkSetting::on : ThinkSetting::off;
    if (!value.is_string()) return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    for (int i = 0; i < 4; ++i)
        if (text == kThinkLevels[i]) return ThinkSetting(int(ThinkSetting::low) + i);
    return std::nullopt;
}

bool ConversationSettings::isEmpty() const {
    return *this == ConversationSettings{};
}

ConversationSettings ConversationSettings::valid() const {
    ConversationSettings kept = *this;
    if (kept.temperature && !(std::isfinite(*kept.temperature) && *kept.temperature >= 0 &&
                              *kept.temperature <= kMaxTemperature))
        kept.temperature.reset();
    if (kept.contextLength && (*kept.contextLength < 1 || *kept.contextLength > kMaxContextLength))
        kept.contextLength.reset();
    return kept;
}

Json ConversationSettings::toJson() const {
    const ConversationSettings kept = valid();
    Json object = Json::object();
    if (kept.systemPrompt) object["system"] = kept.systemPrompt->toStdString();
    if (kept.temperature) object["temperature"] = *kept.temperature;
    if (kept.contextLength) object["num_ctx"] = *kept.contextLength;
    if (kept.seed) object["seed"] = *kept.seed;
    if (kept.think) object["think"] = thinkToJson(*kept.think);
    return object;
}

ConversationSettings ConversationSettings::fromJson(const Json& value) {
    ConversationSettings settings;
    if (!value.is_object()) return settings;
    if (auto it = value.find("system"); it != value.end() && it->is_string())
        settings.systemPrompt = QString::fromStdString(it->get_ref<const std::string&>());
    if (auto it = value.find("temperature"); it != value.end() && it->is_number())
        settings.temperature = it->get<double>();
    if (auto it = value.find("num_ctx"); it != value.end()) settings.contextLength = integerOf(*it);
    if (auto it = value.find("seed"); it != value.end()) settings.seed = integerOf(*it);
    if (auto it = value.find("think"); it != value.end()) settings.think = thinkFromJson(*it);
    return settings.valid();
}

}  // namespace parlote
