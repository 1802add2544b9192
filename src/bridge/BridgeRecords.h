#pragma once

// The records by which the bridge reports the model service's answers.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "ChatRecords.h"

namespace parlote {

/// A failure reported by the Ollama client, copied from its last-error record.
/// Also thrown to end a stream with an error.
struct OllamaError : std::exception {
    OllamaError(std::int32_t errorCode, std::int32_t osErrorType, std::int64_t osError,
                QString message)
        : errorCode(errorCode),
          osErrorType(osErrorType),
          osError(osError),
          message(std::move(message)),
          what_(this->message.toStdString()) {}

    std::int32_t errorCode = 0;
    std::int32_t osErrorType = 0;
    std::int64_t osError = 0;
    QString message;

    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string what_;
};

/// The outcome of a one-shot operation: a value, or the error that prevented it.
template <class T>
class APIResult {
public:
    static APIResult success(T value) { return APIResult(std::move(value)); }
    static APIResult failure(OllamaError error) { return APIResult(std::move(error)); }

    bool isSuccess() const { return std::holds_alternative<T>(value_); }
    const T& value() const { return std::get<T>(value_); }
    const OllamaError& error() const { return std::get<OllamaError>(value_); }

private:
    explicit APIResult(T value) : value_(std::move(value)) {}
    explicit APIResult(OllamaError error) : value_(std::move(error)) {}
    std::variant<T, OllamaError> value_;
};

/// What an installed model can do and how it was made, from Ollama's /api/show.
struct ModelDetails {
    /// "completion", "vision", "thinking", "tools", "embedding", "insert", ... (no order).
    QStringList capabilities;
    /// False for a server too old to say (before Ollama 0.6.4); see supports().
    bool capabilitiesKnown = false;
    /// The model's architecture ("llama", "qwen3"); empty when not said.
    QString architecture;
    /// The longest context the model was made for, in tokens; 0 when not said. What a
    /// request gets is smaller unless it asks for more (see defaultContextLength).
    qint64 contextLength = 0;
    /// The Modelfile's SYSTEM prompt: what the model is told when the conversation sets none.
    QString system;
    /// The Modelfile's PARAMETER lines as Ollama prints them; see parameter().
    QString parameters;

    /// Whether the model has `capability`. When the server did not say, a model is taken
    /// to chat ("completion") and to have nothing else.
    bool supports(QStringView capability) const;
    /// Takes pictures with a message (images are sent only to such models).
    bool supportsVision() const { return supports(u"vision"); }
    /// Reasons apart from its answer; only such models accept a "think" setting that is on.
    bool supportsThinking() const { return supports(u"thinking"); }
    bool supportsTools() const { return supports(u"tools"); }
    /// Answers chats; false for an embedding-only model, which the chat refuses.
    bool supportsChat() const { return supports(u"completion"); }

    /// The value of the Modelfile PARAMETER `key` ("num_ctx", "temperature", "stop"),
    /// unquoted; the first one for a key given several times; nullopt when not set.
    std::optional<QString> parameter(QStringView key) const;

    friend bool operator==(const ModelDetails&, const ModelDetails&) = default;
};

/// Ollama's context length for a request that does not set num_ctx, when nothing better
/// is known: the default of its documentation (the server's OLLAMA_CONTEXT_LENGTH, a
/// Modelfile num_ctx, or on Ollama 0.15.5 and later a larger GPU can raise it; /api/ps
/// tells the length of a loaded model).
inline constexpr qint64 kDefaultContextLength = 4096;

/// Whether two model names name the same model: equal, or equal once ":latest" is added
/// to the one without a tag (a tag follows the last ":" after the namespace's "/"), as
/// Ollama reads "llama3.2" as "llama3.2:latest". /api/ps and /api/tags always give a tag;
/// a request or the user may not.
bool sameModelName(const QString& a, const QString& b);

/// One model loaded in Ollama's memory, from /api/ps.
struct RunningModel {
    QString name;
    QString digest;
    /// Memory it takes (weights, cache, buffers), in bytes.
    qint64 size = 0;
    /// The part of `size` in GPU memory, in bytes; 0 when it runs on the CPU alone.
    qint64 sizeVram = 0;
    /// The context it was loaded with, in tokens; 0 when the server does not say.
    qint64 contextLength = 0;
    /// When Ollama unloads it unless it is used again; invalid when not said.
    QDateTime expiresAt;

    /// The share of its memory on the GPU, from 0 (CPU only) to 1 (all on the GPU);
    /// nullopt when it cannot be told (no size, or more on the GPU than in all).
    std::optional<double> gpuShare() const;
    /// Whether it stays loaded for good (a negative keep_alive): expiry more than 20
    /// years after `now`, the rule Ollama's own command line uses.
    bool staysLoaded(const QDateTime& now = QDateTime::currentDateTimeUtc()) const;

    friend bool operator==(const RunningModel&, const RunningModel&) = default;
};

/// Reads an RFC 3339 date as Ollama writes it ("2024-06-04T14:38:31.83753-07:00", fraction
/// of 0 to 9 digits, "Z" or an offset); an invalid date for anything else.
QDateTime dateFromRfc3339(QStringView text);

/// One progress record of a model installation.
struct OllamaInstallationStatus {
    QString status;
    std::int64_t total = 0;
    std::int64_t complete = 0;
};

/// One piece of a streamed reply.
struct ZoruveVedeChunk {
    bool isComplete = false;
    QString content;
    /// Ollama's figures of the reply, on the last piece only (contextLength and contextCut
    /// are left for the engine, which knows the conversation's settings).
    std::optional<ReplyStats> stats = std::nullopt;
};

}  // namespace parlote
