#pragma once

// How one conversation talks to its model: a system prompt, the sampling temperature,
// the context length, a seed and whether the model reasons first. Each is optional: a
// setting that is not set leaves the request as it is without it (the model's own
// system prompt, temperature 0.7, the server's context length, a random seed, the
// server's choice of thinking).
//
// In a conversation file the settings are the optional top-level object "settings",
// written after "messages" (and "variants") with only the keys that are set, and left out
// when nothing is set, so that a conversation nobody configured is written exactly as
// before:
//
//     "settings":{"system":"Answer in French.","temperature":0.2,"num_ctx":8192,
//                 "seed":42,"think":"high"}
//
// Reading is tolerant: settings tune requests, they are not what the user wrote, so a
// value of the wrong type or out of range drops that one setting (as if it were not set)
// and never the conversation; a "settings" that is not an object counts as no settings.

#include <QString>
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>

namespace parlote {

/// Whether and how much a model reasons before it answers (Ollama's "think"). Only models
/// with the "thinking" capability accept anything but `off`.
enum class ThinkSetting {
    off,     // false: no reasoning (hybrid models answer at once)
    on,      // true
    low,     // "low", "medium", "high", "max": a level; models other than gpt-oss take any
    medium,  // level as on
    high,
    max,
};

/// The file form: false, true, "low", "medium", "high" or "max".
nlohmann::ordered_json thinkToJson(ThinkSetting think);
/// nullopt for any other value.
std::optional<ThinkSetting> thinkFromJson(const nlohmann::ordered_json& value);

struct ConversationSettings {
    /// Sent as the first message, with role "system"; replaces the Modelfile's SYSTEM.
    /// An empty text is a setting too: no system prompt at all.
    std::optional<QString> systemPrompt;
    /// Sampling temperature, from 0 (always the likeliest word) up; requests use 0.7
    /// when it is not set.
    std::optional<double> temperature;
    /// The context length to load the model with, in tokens (options.num_ctx). Ollama
    /// reloads a loaded model when this changes.
    std::optional<std::int64_t> contextLength;
    /// Seed of the sampler: the same seed, prompt and temperature give the same reply.
    std::optional<std::int64_t> seed;
    /// Sent as the top-level "think" of the request.
    std::optional<ThinkSetting> think;

    /// Bounds a setting must be within to be kept (when read and when sent).
    static constexpr double kMaxTemperature = 100.0;
    static constexpr std::int64_t kMaxContextLength = 2147483647;

    /// True when nothing is set.
    bool isEmpty() const;

    /// This with every setting outside its bounds dropped (a temperature below 0, above
    /// kMaxTemperature or not finite; a context length below 1 or above kMaxContextLength).
    ConversationSettings valid() const;

    friend bool operator==(const ConversationSettings&, const ConversationSettings&) = default;

    /// The "settings" object: the keys that are set, in the order system, temperature,
    /// num_ctx, seed, think.
    nlohmann::ordered_json toJson() const;
    /// Reads a "settings" value tolerantly (see the header comment); never throws
    /// DecodingError.
    static ConversationSettings fromJson(const nlohmann::ordered_json& value);
};

}  // namespace parlote
