// The helpers the fake server's routes share (model names, JSON bodies, option
// checks) and the methods of the small value types FakeOllama.h declares.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FakeOllamaImpl.h"
#include "GoJson.h"

namespace parlote::testing {

namespace {

constexpr const char* kDefaultModifiedAt = "2025-05-04T17:37:44.706015396-07:00";

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers shared by the routes

namespace fake {

std::string canonicalName(std::string_view name) {
    const auto slash = name.rfind('/');
    const auto segment = slash == std::string_view::npos ? name : name.substr(slash + 1);
    std::string out(name);
    if (segment.find(':') == std::string_view::npos) out += ":latest";
    return out;
}

bool isValidName(std::string_view name) {
    if (name.empty() || name.front() == ':' || name.back() == ':' || name.back() == '/')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
               c == ':' || c == '/';
    });
}

bool hasCapability(const ModelInfo& model, std::string_view capability) {
    return std::find(model.capabilities.begin(), model.capabilities.end(), capability) !=
           model.capabilities.end();
}

void replyError(httplib::Response& res, int status, std::string_view message) {
    res.status = status;
    res.set_content(gojson::errorObject(message), kJsonType);
}

void replyWith(httplib::Response& res, const HttpReply& reply) {
    res.status = reply.status;
    if (reply.contentType.empty()) {
        res.body = reply.body;
    } else {
        res.set_content(reply.body, reply.contentType);
    }
}

ojson detailsJson(const ModelInfo& m) {
    ojson details = ojson::object();
    details["parent_model"] = "";
    details["format"] = m.format;
    details["family"] = m.family;
    details["families"] = m.families ? ojson(*m.families) : ojson(nullptr);
    details["parameter_size"] = m.parameterSize;
    details["quantization_level"] = m.quantizationLevel;
    return details;
}

std::string modifiedAtOf(const ModelInfo& m) {
    return m.modifiedAt.empty() ? kDefaultModifiedAt : m.modifiedAt;
}

std::string digestOf(const ModelInfo& m) {
    return m.digest.empty() ? gojson::fakeDigest(m.name) : m.digest;
}

ParsedBody parseBody(const httplib::Request& req) {
    if (req.body.empty()) return {nullptr, "missing request body"};
    auto json = nlohmann::json::parse(req.body, nullptr, false);
    if (json.is_discarded()) return {nullptr, "unexpected EOF"};
    if (!json.is_object())
        return {nullptr, "json: cannot unmarshal into Go value of type api.Request"};
    return {std::move(json), {}};
}

std::string stringField(const nlohmann::json& body, const char* key) {
    const auto it = body.find(key);
    return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool wantsStream(const nlohmann::json& body) {
    const auto it = body.find("stream");
    return !(it != body.end() && it->is_boolean() && !it->get<bool>());
}

std::optional<std::string> decodeBase64(std::string_view text, std::size_t& errorAt) {
    const auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    std::uint32_t group = 0;
    int held = 0;     // sextets in `group`
    int padding = 0;  // "=" seen
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') continue;
        if (c == '=') {
            // Padding only completes a group of two or three sextets.
            if (held + padding < 2 || held + padding >= 4) {
                errorAt = i;
                return std::nullopt;
            }
            ++padding;
            if (held + padding == 4) {
                out.push_back(char(group >> (held == 2 ? 4 : 10)));
                if (held == 3) out.push_back(char(group >> 2));
                group = 0;
                held = 0;
                padding = -4;  // nothing may follow the padding
            }
            continue;
        }
        const int sextet = value(c);
        if (sextet < 0 || padding != 0) {
            errorAt = i;
            return std::nullopt;
        }
        group = (group << 6) | std::uint32_t(sextet);
        if (++held == 4) {
            out.push_back(char(group >> 16));
            out.push_back(char(group >> 8));
            out.push_back(char(group));
            group = 0;
            held = 0;
        }
    }
    if (held != 0 || (padding > 0)) {
        errorAt = text.size();
        return std::nullopt;
    }
    return out;
}

std::pair<int, std::string> imageError(const nlohmann::json& body) {
    const auto messages = body.find("messages");
    if (messages == body.end() || !messages->is_array()) return {0, {}};
    for (const auto& message : *messages) {
        const auto images = message.is_object() ? message.find("images") : message.end();
        if (!message.is_object() || images == message.end() || images->is_null()) continue;
        if (!images->is_array())
            return {400,
                    "json: cannot unmarshal " + std::string(images->type_name()) +
                        " into Go struct field Message.messages.images of type []api.ImageData"};
        for (const auto& image : *images) {
            if (!image.is_string())
                return {400, "json: cannot unmarshal " + std::string(image.type_name()) +
                                 " into Go struct field Message.messages.images of type "
                                 "api.ImageData"};
            std::size_t errorAt = 0;
            const auto bytes = decodeBase64(image.get_ref<const std::string&>(), errorAt);
            if (!bytes)
                return {400, "illegal base64 data at input byte " + std::to_string(errorAt)};
            const bool picture = bytes->rfind("\x89PNG\r\n\x1a\n", 0) == 0 ||
                                 bytes->rfind("\xff\xd8\xff", 0) == 0 ||
                                 (bytes->size() >= 12 && bytes->rfind("RIFF", 0) == 0 &&
                                  bytes->compare(8, 4, "WEBP") == 0);
            if (!picture)
                return {500,
                        "Failed to create new sequence: failed to process inputs: image: unknown "
                        "format\n"};
        }
    }
    return {0, {}};
}

std::int64_t promptTokensOf(const nlohmann::json& body) {
    std::int64_t tokens = 1;  // the beginning-of-text token
    const auto messages = body.find("messages");
    if (messages != body.end() && messages->is_array()) {
        for (const auto& message : *messages) {
            if (!message.is_object()) continue;
            tokens += 5;  // role header and end-of-turn of the template
            const auto content = message.find("content");
            if (content != message.end() && content->is_string())
                tokens +=
                    static_cast<std::int64_t>(content->get_ref<const std::string&>().size() + 3) /
                    4;
            const auto images = message.find("images");
            if (images != message.end() && images->is_array())
                tokens += 768 * static_cast<std::int64_t>(images->size());
        }
    }
    return std::min(tokens, contextLengthOf(body));
}

std::int64_t contextLengthOf(const nlohmann::json& body) {
    constexpr std::int64_t kDefaultContextLength = 4096;
    const auto options = body.find("options");
    if (options == body.end() || !options->is_object()) return kDefaultContextLength;
    const auto numCtx = options->find("num_ctx");
    if (numCtx == options->end() || !numCtx->is_number() || numCtx->get<double>() < 1)
        return kDefaultContextLength;
    return numCtx->get<std::int64_t>();
}

std::string optionTypeError(const nlohmann::json& body) {
    const auto options = body.find("options");
    if (options == body.end() || !options->is_object()) return {};
    static const char* const kIntegers[] = {"num_predict", "num_ctx",  "top_k",
                                            "seed",        "num_keep", "repeat_last_n",
                                            "num_batch",   "num_gpu",  "num_thread"};
    static const char* const kFloats[] = {
        "temperature",       "top_p",    "min_p", "repeat_penalty", "presence_penalty",
        "frequency_penalty", "typical_p"};
    for (const char* key : kIntegers) {
        const auto it = options->find(key);
        if (it != options->end() && !it->is_null() && !it->is_number())
            return std::string("option \"") + key + "\" must be of type integer";
    }
    for (const char* key : kFloats) {
        const auto it = options->find(key);
        if (it != options->end() && !it->is_null() && !it->is_number())
            return std::string("option \"") + key + "\" must be of type float32";
    }
    return {};
}

std::vector<std::int64_t> defaultLayers(const ModelInfo& model) {
    const std::int64_t weights = model.size > 20000 ? model.size - 15813 : 2019377376;
    return {weights, 1429, 7711, 6016, 96, 561};
}

}  // namespace fake

// ---------------------------------------------------------------------------
// Small value types

ModelInfo ModelInfo::make(std::string name, std::int64_t size, std::string parameterSize,
                          std::string quantizationLevel) {
    ModelInfo m;
    m.name = fake::canonicalName(name);
    m.size = size;
    const auto start = m.name.rfind('/') == std::string::npos ? 0 : m.name.rfind('/') + 1;
    auto end = m.name.find_first_of(":.0123456789", start);
    m.family = m.name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    m.families = std::vector<std::string>{m.family};
    m.parameterSize = std::move(parameterSize);
    m.quantizationLevel = std::move(quantizationLevel);
    const std::string base = m.name.substr(start);
    const auto startsWith = [&](std::initializer_list<const char*> prefixes) {
        return std::any_of(prefixes.begin(), prefixes.end(),
                           [&](const char* prefix) { return base.rfind(prefix, 0) == 0; });
    };
    if (startsWith({"nomic-embed", "all-minilm", "mxbai-embed"}))
        m.capabilities = {"embedding"};
    else if (startsWith({"qwen3", "deepseek-r1"}))
        m.capabilities = {"completion", "tools", "thinking"};
    else if (startsWith({"llava", "gemma3", "moondream", "llama3.2-vision"}))
        m.capabilities = {"completion", "vision"};
    else if (startsWith({"llama3", "mistral", "qwen2"}))
        m.capabilities = {"completion", "tools"};
    return m;
}

std::vector<ModelInfo> FakeOllama::standardModels() {
    ModelInfo embedding = ModelInfo::make("nomic-embed-text:latest", 274302450, "137M", "F16");
    embedding.family = "nomic-bert";
    embedding.families = std::vector<std::string>{"nomic-bert"};
    embedding.contextLength = 2048;
    ModelInfo thinking = ModelInfo::make("qwen3:8b", 5225388164, "8.2B");
    thinking.contextLength = 40960;
    return {ModelInfo::make("llama3.2:latest"), ModelInfo::make("llava:latest", 4733363377, "7B"),
            std::move(thinking), std::move(embedding)};
}

HttpReply HttpReply::jsonError(int status, std::string_view message) {
    return {status, fake::kJsonType, gojson::errorObject(message)};
}

HttpReply HttpReply::busy() {
    return jsonError(503, "server busy, please try again.  maximum pending requests exceeded");
}

HttpReply HttpReply::forbidden() {
    return {403, "", ""};
}

HttpReply HttpReply::proxyPage(int status) {
    const std::string code = std::to_string(status);
    return {
        status, "text/html",
        "<html>\r\n<head><title>" + code + " Bad Gateway</title></head>\r\n<body>\r\n<center><h1>" +
            code +
            " Bad "
            "Gateway</h1></center>\r\n<hr><center>nginx/1.22.1</center>\r\n</body>\r\n</html>\r\n"};
}

ChatScript ChatScript::words(std::string_view text, Milliseconds chunkDelay) {
    ChatScript script;
    script.chunkDelay = chunkDelay;
    std::size_t start = 0;
    while (start < text.size()) {
        auto wordStart = text.find_first_not_of(" \n\t", start);
        auto end = wordStart == std::string_view::npos ? text.size()
                                                       : text.find_first_of(" \n\t", wordStart);
        if (end == std::string_view::npos) end = text.size();
        script.chunks.push_back({std::string(text.substr(start, end - start)), {}, false});
        start = end;
    }
    return script;
}

ChatScript ChatScript::repeated(std::size_t count, std::string text) {
    ChatScript script;
    script.chunks.assign(count, ChatChunk{std::move(text), {}, false});
    return script;
}

bool RecordedRequest::hasHeader(std::string_view name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& h) { return equalsIgnoreCase(h.first, name); });
}

std::string RecordedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalsIgnoreCase(key, name)) return value;
    }
    return {};
}

}  // namespace parlote::testing
