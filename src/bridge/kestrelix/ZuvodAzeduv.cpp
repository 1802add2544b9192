#include "ZuvodAzeduv.h"

#include <algorithm>

#include "ZuvodAzeduvImpl.h"

namespace kestrelix::llm {

ZuvodAzeduv::ZuvodAzeduv() : ZuvodAzeduv(ZuvodAzeduvConfig{}) {}

ZuvodAzeduv::ZuvodAzeduv(ZuvodAzeduvConfig config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

ZuvodAzeduv::~ZuvodAzeduv() = default;

const std::string& ZuvodAzeduv::host() const {
    return impl_->baseUrl;
}

const OllamaErrorInfo& ZuvodAzeduv::lastError() const {
    return impl_->lastError;
}

void ZuvodAzeduv::abort() const {
    std::lock_guard lock(impl_->mutex);
    impl_->aborted = true;
    if (impl_->transfer) impl_->transfer->abort();
}

std::int32_t ZuvodAzeduv::testConfiguration() const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return d.lastError.errorCode;
    const auto timeout = d.config.livenessTimeout;
    // /api/version proves that Ollama itself answers, not some other service on the port.
    const auto body = d.fetch("GET", "/api/version", {}, timeout, kErrorBodyLimit);
    if (!body) return d.lastError.errorCode;
    if (detail::stringAt(detail::parseJson(*body), "version").empty()) {
        d.failMalformed();
        return d.lastError.errorCode;
    }
    d.succeed();
    return kNoError;
}

std::string ZuvodAzeduv::serverVersion() const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return {};
    const auto body = d.fetch("GET", "/api/version", {}, d.config.livenessTimeout, kErrorBodyLimit);
    if (!body) return {};
    std::string version = detail::stringAt(detail::parseJson(*body), "version");
    if (version.empty()) {
        d.failMalformed();
        return {};
    }
    d.succeed();
    return version;
}

bool OllamaModelDetails::hasCapability(std::string_view capability) const {
    return std::find(capabilities.begin(), capabilities.end(), capability) != capabilities.end();
}

OllamaModelDetails ZuvodAzeduv::show(const std::string& model) const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return {};
    const auto body = d.fetch("POST", "/api/show", detail::encodeJson(json{{"model", model}}),
                              d.config.requestTimeout, kModelListLimit);
    if (!body) return {};
    const json value = detail::parseJson(*body);
    if (!value.is_object()) {
        d.failMalformed();
        return {};
    }
    OllamaModelDetails details;
    if (const auto list = value.find("capabilities"); list != value.end() && list->is_array()) {
        details.capabilitiesKnown = true;
        for (const json& item : *list)
            if (item.is_string()) details.capabilities.push_back(item.get<std::string>());
    }
    if (const auto info = value.find("model_info"); info != value.end() && info->is_object()) {
        details.architecture = detail::stringAt(*info, "general.architecture");
        if (!details.architecture.empty())
            details.contextLength =
                integerAt(*info, (details.architecture + ".context_length").c_str());
    }
    details.system = detail::stringAt(value, "system");
    details.parameters = detail::stringAt(value, "parameters");
    d.succeed();
    return details;
}

std::vector<OllamaRunningModel> ZuvodAzeduv::runningModels() const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return {};
    const auto body = d.fetch("GET", "/api/ps", {}, d.config.requestTimeout, kModelListLimit);
    if (!body) return {};
    const json value = detail::parseJson(*body);
    const auto list = value.is_object() ? value.find("models") : value.end();
    if (!value.is_object() || (list != value.end() && !list->is_null() && !list->is_array())) {
        d.failMalformed();
        return {};
    }
    std::vector<OllamaRunningModel> models;
    if (list != value.end() && list->is_array()) {
        for (const json& entry : *list) {
            OllamaRunningModel model;
            model.name = detail::stringAt(entry, "name");
            if (model.name.empty()) model.name = detail::stringAt(entry, "model");
            if (model.name.empty()) {
                d.failMalformed();
                return {};
            }
            model.digest = detail::stringAt(entry, "digest");
            model.size = integerAt(entry, "size");
            model.sizeVram = integerAt(entry, "size_vram");
            model.contextLength = integerAt(entry, "context_length");
            model.expiresAt = detail::stringAt(entry, "expires_at");
            models.push_back(std::move(model));
        }
    }
    d.succeed();
    return models;
}

std::int32_t ZuvodAzeduv::load(const std::string& model) const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return d.lastError.errorCode;
    // The answer comes once the model is in memory: as long as a chat's first record.
    const auto body =
        d.fetch("POST", "/api/chat",
                detail::encodeJson(json{{"model", model}, {"messages", json::array()}}),
                d.config.firstRecordTimeout, kErrorBodyLimit);
    return d.checkDoneRecord(body);
}

std::int32_t ZuvodAzeduv::unload(const std::string& model) const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return d.lastError.errorCode;
    const auto body =
        d.fetch("POST", "/api/chat", detail::encodeJson(json{{"model", model}, {"keep_alive", 0}}),
                d.config.requestTimeout, kErrorBodyLimit);
    return d.checkDoneRecord(body);
}

std::vector<OllamaModelInfo> ZuvodAzeduv::getAvailableModels() const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return {};
    const auto body = d.fetch("GET", "/api/tags", {}, d.config.requestTimeout, kModelListLimit);
    if (!body) return {};
    const json value = detail::parseJson(*body);
    if (!value.is_object()) {
        d.failMalformed();
        return {};
    }
    std::vector<OllamaModelInfo> models;
    const auto list = value.find("models");
    if (list != value.end() && !list->is_null()) {
        if (!list->is_array()) {
            d.failMalformed();
            return {};
        }
        models.reserve(list->size());
        for (const json& entry : *list) {
            OllamaModelInfo info;
            info.name = detail::stringAt(entry, "name");
            if (info.name.empty()) info.name = detail::stringAt(entry, "model");
            if (info.name.empty()) {
                d.failMalformed();
                return {};
            }
            info.digest = detail::stringAt(entry, "digest");
            info.size = integerAt(entry, "size");
            const auto details = entry.find("details");
            if (details != entry.end()) {
                info.family = detail::stringAt(*details, "family");
                info.format = detail::stringAt(*details, "format");
                info.parameterSize = detail::stringAt(*details, "parameter_size");
                info.quantizationLevel = detail::stringAt(*details, "quantization_level");
            }
            models.push_back(std::move(info));
        }
    }
    d.succeed();
    return models;
}

std::int32_t ZuvodAzeduv::removeModel(const std::string& name) const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return d.lastError.errorCode;
    const auto body = d.fetch("DELETE", "/api/delete", detail::encodeJson(json{{"model", name}}),
                              d.config.requestTimeout, kErrorBodyLimit);
    if (!body) return d.lastError.errorCode;
    d.succeed();
    return kNoError;
}

std::int32_t ZuvodAzeduv::startInstallModel(const std::string& name) const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return d.lastError.errorCode;
    return d.startStream(StreamKind::pull, "/api/pull",
                         detail::encodeJson(json{{"model", name}, {"stream", true}}),
                         d.config.requestTimeout);
}

std::shared_ptr<OllamaInstallInfo> ZuvodAzeduv::getNextInstallStatus() const {
    Impl& d = *impl_;
    if (!d.streamUsable(StreamKind::pull)) return nullptr;
    if (d.pendingError) {
        d.failServer(*d.pendingError);
        return d.finishStream<OllamaInstallInfo>();
    }
    const auto record = d.nextRecord(d.config.pullSilenceTimeout);
    if (!record) return d.finishStream<OllamaInstallInfo>();
    if (record->contains("error")) {
        const std::string text = detail::errorTextOf(*record);
        if (text.find(kNoSuchModelText) != std::string::npos) {
            // The registry has no such model: one record with an empty status says so,
            // and the next poll ends the sequence with Ollama's text.
            d.pendingError = text;
            d.succeed();
            return std::make_shared<OllamaInstallInfo>();
        }
        d.failServer(text);
        return d.finishStream<OllamaInstallInfo>();
    }
    auto info = std::make_shared<OllamaInstallInfo>();
    info->status = detail::stringAt(*record, "status");
    info->digest = detail::stringAt(*record, "digest");
    info->total = integerAt(*record, "total");
    info->completed = integerAt(*record, "completed");
    if (info->status == "success") d.sawFinalRecord = true;
    if (info->status.empty()) {
        d.failMalformed();
        return d.finishStream<OllamaInstallInfo>();
    }
    d.succeed();
    return info;
}

namespace {

json thinkValue(OllamaThink think) {
    switch (think) {
        case OllamaThink::off:
            return false;
        case OllamaThink::on:
            return true;
        case OllamaThink::low:
            return "low";
        case OllamaThink::medium:
            return "medium";
        case OllamaThink::high:
            return "high";
        case OllamaThink::max:
            return "max";
    }
    return false;
}

}  // namespace

std::int32_t ZuvodAzeduv::startChat(const std::vector<OllamaMessage>& messages,
                                    const SwiftLLMChatOptions& options,
                                    const OllamaChatExtras& extras) const {
    Impl& d = *impl_;
    if (!d.checkUsable()) return d.lastError.errorCode;
    json request = json::object();
    request["model"] = options.model;
    json list = json::array();
    for (const OllamaMessage& message : messages) {
        json item{{"role", message.role}, {"content", message.content}};
        if (!message.images.empty()) item["images"] = message.images;
        list.push_back(std::move(item));
    }
    request["messages"] = std::move(list);
    request["stream"] = true;
    json modelOptions = json::object();
    modelOptions["temperature"] = options.temperature;
    // Ollama reads 0 as "no limit at all" and negative values as its own default; send
    // only a real bound.
    if (options.maxTokens > 0) modelOptions["num_predict"] = options.maxTokens;
    if (extras.contextLength) modelOptions["num_ctx"] = *extras.contextLength;
    if (extras.seed) modelOptions["seed"] = *extras.seed;
    request["options"] = std::move(modelOptions);
    // "think" belongs to the request itself; Ollama ignores it among the options.
    if (extras.think) request["think"] = thinkValue(*extras.think);

    // Ollama answers once the model is loaded and the prompt read: minutes on a slow machine.
    return d.startStream(StreamKind::chat, "/api/chat", detail::encodeJson(request),
                         d.config.firstRecordTimeout);
}

std::shared_ptr<OllamaChunkInfo> ZuvodAzeduv::getNextChunk() const {
    Impl& d = *impl_;
    if (!d.streamUsable(StreamKind::chat)) return nullptr;
    for (;;) {
        const auto record = d.nextRecord(d.sawFirstRecord ? d.config.chatSilenceTimeout
                                                          : d.config.firstRecordTimeout);
        if (!record) return d.finishStream<OllamaChunkInfo>();
        ChatStep step = d.chatReader.read(*record);
        if (step.kind != ChatStep::Kind::text) {
            d.failServer(step.text);
            return d.finishStream<OllamaChunkInfo>();
        }
        std::string text = std::move(step.text);
        const bool done = step.done;
        if (done) {
            d.sawFinalRecord = true;
            d.finishStream<OllamaChunkInfo>();  // a later poll reports the normal end
            d.succeed();
            OllamaReplyStats stats;
            stats.totalDuration = integerAt(*record, "total_duration");
            stats.loadDuration = integerAt(*record, "load_duration");
            stats.promptEvalCount = integerAt(*record, "prompt_eval_count");
            stats.promptEvalDuration = integerAt(*record, "prompt_eval_duration");
            stats.evalCount = integerAt(*record, "eval_count");
            stats.evalDuration = integerAt(*record, "eval_duration");
            stats.doneReason = detail::stringAt(*record, "done_reason");
            return std::make_shared<OllamaChunkInfo>(
                OllamaChunkInfo{true, std::move(text), std::move(stats)});
        }
        if (text.empty()) continue;  // nothing to show yet (metadata-only record)
        d.succeed();
        return std::make_shared<OllamaChunkInfo>(OllamaChunkInfo{false, std::move(text)});
    }
}

std::string ZuvodAzeduv::chat(const std::vector<OllamaMessage>& messages,
                              const SwiftLLMChatOptions& options,
                              const OllamaChatExtras& extras) const {
    if (startChat(messages, options, extras) != kNoError) return {};
    Impl& d = *impl_;
    std::string reply;
    while (const auto chunk = getNextChunk()) {
        if (chunk->content.size() > d.config.maxReplyBytes - reply.size()) {
            d.finishStream<OllamaChunkInfo>();  // closes the connection: Ollama stops generating
            d.fail(kMalformedResponse, "The reply from Ollama at " + d.baseUrl +
                                           " is longer than " + sizeText(d.config.maxReplyBytes) +
                                           "; it was stopped.");
            return {};
        }
        reply += chunk->content;
        if (chunk->isComplete) {
            d.succeed();
            return reply;
        }
    }
    if (d.lastError.errorCode == kEndOfStream) {
        d.succeed();
        return reply;
    }
    return {};
}

}  // namespace kestrelix::llm
