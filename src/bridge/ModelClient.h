#pragma once

// The calls the bridge makes on an Ollama client, as an interface: the bridge runs on
// ZuvodAzeduv in the application and on scripted clients in tests.

#include <functional>
#include <memory>

#include "ZuvodAzeduv.h"

namespace parlote {

class ModelClient {
public:
    virtual ~ModelClient() = default;

    virtual std::int32_t testConfiguration() = 0;
    virtual std::vector<kestrelix::llm::OllamaModelInfo> getAvailableModels() = 0;
    virtual std::int32_t removeModel(const std::string& name) = 0;
    virtual std::int32_t startInstallModel(const std::string& name) = 0;
    virtual std::shared_ptr<kestrelix::llm::OllamaInstallInfo> getNextInstallStatus() = 0;
    virtual std::string chat(const std::vector<kestrelix::llm::OllamaMessage>& messages,
                             const kestrelix::llm::SwiftLLMChatOptions& options,
                             const kestrelix::llm::OllamaChatExtras& extras) = 0;
    virtual std::int32_t startChat(const std::vector<kestrelix::llm::OllamaMessage>& messages,
                                   const kestrelix::llm::SwiftLLMChatOptions& options,
                                   const kestrelix::llm::OllamaChatExtras& extras) = 0;
    virtual std::shared_ptr<kestrelix::llm::OllamaChunkInfo> getNextChunk() = 0;
    virtual std::string serverVersion() = 0;
    virtual kestrelix::llm::OllamaModelDetails show(const std::string& model) = 0;
    virtual std::vector<kestrelix::llm::OllamaRunningModel> runningModels() = 0;
    virtual std::int32_t load(const std::string& model) = 0;
    virtual std::int32_t unload(const std::string& model) = 0;
    virtual kestrelix::llm::OllamaErrorInfo lastError() const = 0;
    /// Called from another thread to end a blocked call at once (used at shutdown).
    virtual void abort() = 0;
};

/// Makes one fresh client per bridge operation.
using ModelClientFactory = std::function<std::unique_ptr<ModelClient>()>;

/// Clients of the Ollama server named by OLLAMA_HOST, or by `config.host` when set.
ModelClientFactory ollamaClientFactory(kestrelix::llm::ZuvodAzeduvConfig config = {});

}  // namespace parlote
