#pragma once

// The records by which the bridge reports the model service's answers.

#include <QString>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <variant>

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
};

}  // namespace parlote
