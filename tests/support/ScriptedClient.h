#pragma once

// A stand-in Ollama client that plays back scripted answers, for the cases a server
// cannot produce (a null chunk with error code 0, say) and to see exactly what the
// bridge passes to the client.

#include <atomic>
#include <deque>
#include <mutex>

#include "ModelClient.h"

namespace parlote::testing {

namespace llm = kestrelix::llm;

struct ClientScript {
    std::int32_t status = 0;     // of testConfiguration, removeModel, startInstallModel, startChat
    llm::OllamaErrorInfo error;  // lastError after a failing call, and after the last poll
    std::vector<llm::OllamaModelInfo> models;
    std::string reply;  // of chat
    std::deque<llm::OllamaInstallInfo> installRecords;
    std::deque<llm::OllamaChunkInfo> chunks;
    llm::OllamaErrorInfo endError{llm::kEndOfStream, 0, 0, ""};  // lastError when polls run out
    std::string version;                                         // of serverVersion
    llm::OllamaModelDetails details;                             // of show
    std::vector<llm::OllamaRunningModel> running;                // of runningModels
};

/// What the clients of one test saw; shared by every client the factory makes.
struct ClientLog {
    std::mutex mutex;
    std::vector<std::vector<llm::OllamaMessage>> sentMessages;
    std::vector<std::string> names;
    std::atomic<int> polls{0};
    std::atomic<int> clientsAlive{0};
};

class ScriptedClient final : public ModelClient {
public:
    ScriptedClient(ClientScript script, std::shared_ptr<ClientLog> log)
        : script_(std::move(script)), log_(std::move(log)) {
        ++log_->clientsAlive;
    }
    ~ScriptedClient() override { --log_->clientsAlive; }

    std::int32_t testConfiguration() override { return answer(script_.status); }
    std::vector<llm::OllamaModelInfo> getAvailableModels() override {
        last_ = script_.error;
        return script_.models;
    }
    std::int32_t removeModel(const std::string& name) override {
        remember(name);
        return answer(script_.status);
    }
    std::int32_t startInstallModel(const std::string& name) override {
        remember(name);
        return answer(script_.status);
    }
    std::shared_ptr<llm::OllamaInstallInfo> getNextInstallStatus() override {
        return next(script_.installRecords);
    }
    std::string chat(const std::vector<llm::OllamaMessage>& messages,
                     const llm::SwiftLLMChatOptions&, const llm::OllamaChatExtras&) override {
        remember(messages);
        last_ = script_.error;
        return script_.reply;
    }
    std::int32_t startChat(const std::vector<llm::OllamaMessage>& messages,
                           const llm::SwiftLLMChatOptions&, const llm::OllamaChatExtras&) override {
        remember(messages);
        return answer(script_.status);
    }
    std::shared_ptr<llm::OllamaChunkInfo> getNextChunk() override { return next(script_.chunks); }
    std::string serverVersion() override {
        answer(script_.status);
        return script_.version;
    }
    llm::OllamaModelDetails show(const std::string& model) override {
        remember(model);
        answer(script_.status);
        return script_.details;
    }
    std::vector<llm::OllamaRunningModel> runningModels() override {
        answer(script_.status);
        return script_.running;
    }
    std::int32_t load(const std::string& model) override {
        remember(model);
        return answer(script_.status);
    }
    std::int32_t unload(const std::string& model) override {
        remember(model);
        return answer(script_.status);
    }
    llm::OllamaErrorInfo lastError() const override { return last_; }
    void abort() override {}

private:
    /// One polling call: the next scripted record, or null with the end's error.
    template <class T>
    std::shared_ptr<T> next(std::deque<T>& records) {
        ++log_->polls;
        if (records.empty()) {
            last_ = script_.endError;
            return nullptr;
        }
        auto record = std::make_shared<T>(std::move(records.front()));
        records.pop_front();
        last_ = {};
        return record;
    }
    std::int32_t answer(std::int32_t status) {
        last_ = status == 0 ? llm::OllamaErrorInfo{} : script_.error;
        return status;
    }
    void remember(const std::string& name) {
        std::lock_guard lock(log_->mutex);
        log_->names.push_back(name);
    }
    void remember(const std::vector<llm::OllamaMessage>& messages) {
        std::lock_guard lock(log_->mutex);
        log_->sentMessages.push_back(messages);
    }

    ClientScript script_;
    std::shared_ptr<ClientLog> log_;
    llm::OllamaErrorInfo last_;
};

inline ModelClientFactory scriptedFactory(ClientScript script, std::shared_ptr<ClientLog> log) {
    return [script, log] { return std::make_unique<ScriptedClient>(script, log); };
}

}  // namespace parlote::testing
