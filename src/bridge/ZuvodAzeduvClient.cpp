#include "ModelClient.h"

namespace parlote {

namespace {

namespace llm = kestrelix::llm;

class ZuvodAzeduvClient final : public ModelClient {
public:
    explicit ZuvodAzeduvClient(const llm::ZuvodAzeduvConfig& config) : client_(config) {}

    std::int32_t testConfiguration() override { return client_.testConfiguration(); }
    std::vector<llm::OllamaModelInfo> getAvailableModels() override {
        return client_.getAvailableModels();
    }
    std::int32_t removeModel(const std::string& name) override { return client_.removeModel(name); }
    std::int32_t startInstallModel(const std::string& name) override {
        return client_.startInstallModel(name);
    }
    std::shared_ptr<llm::OllamaInstallInfo> getNextInstallStatus() override {
        return client_.getNextInstallStatus();
    }
    std::string chat(const std::vector<llm::OllamaMessage>& messages,
                     const llm::SwiftLLMChatOptions& options,
                     const llm::OllamaChatExtras& extras) override {
        return client_.chat(messages, options, extras);
    }
    std::int32_t startChat(const std::vector<llm::OllamaMessage>& messages,
                           const llm::SwiftLLMChatOptions& options,
                           const llm::OllamaChatExtras& extras) override {
        return client_.startChat(messages, options, extras);
    }
    std::shared_ptr<llm::OllamaChunkInfo> getNextChunk() override { return client_.getNextChunk(); }
    std::string serverVersion() override { return client_.serverVersion(); }
    llm::OllamaModelDetails show(const std::string& model) override { return client_.show(model); }
    std::vector<llm::OllamaRunningModel> runningModels() override {
        return client_.runningModels();
    }
    std::int32_t load(const std::string& model) override { return client_.load(model); }
    std::int32_t unload(const std::string& model) override { return client_.unload(model); }
    llm::OllamaErrorInfo lastError() const override { return client_.lastError(); }
    void abort() override { client_.abort(); }

private:
    const llm::ZuvodAzeduv client_;
};

}  // namespace

ModelClientFactory ollamaClientFactory(kestrelix::llm::ZuvodAzeduvConfig config) {
    return [config] { return std::make_unique<ZuvodAzeduvClient>(config); };
}

}  // namespace parlote
