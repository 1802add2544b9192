#include "FakeOllama.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "ChatStream.h"
#include "GoJson.h"

namespace parlote::testing {

using detail::ChatRender;
using detail::LineWriter;
using detail::Step;
using detail::StreamControl;

namespace {

using Clock = std::chrono::steady_clock;
using ojson = nlohmann::ordered_json;

constexpr const char* kJsonType = "application/json; charset=utf-8";
constexpr const char* kNdjsonType = "application/x-ndjson";
constexpr const char* kTextType = "text/plain; charset=utf-8";
constexpr const char* kDefaultModifiedAt = "2025-05-04T17:37:44.706015396-07:00";
// How often a waiting stream checks that its client is still connected.
constexpr Milliseconds kDisconnectPoll{20};

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// "llama3.2" and "llama3.2:latest" name the same model; the tag is whatever
// follows a colon in the last path segment.
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

// Parsed request body, or a reason to refuse it with 400 as the server does.
struct ParsedBody {
    nlohmann::json json;
    std::string error;  // non-empty: answer 400 with this
};

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

// `"stream"` absent or null means streaming; only an explicit false turns it off.
bool wantsStream(const nlohmann::json& body) {
    const auto it = body.find("stream");
    return !(it != body.end() && it->is_boolean() && !it->get<bool>());
}

// Option type errors surface as 500 from the model scheduler on a real server.
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

}  // namespace

// ---------------------------------------------------------------------------
// Small value types

ModelInfo ModelInfo::make(std::string name, std::int64_t size, std::string parameterSize,
                          std::string quantizationLevel) {
    ModelInfo m;
    m.name = canonicalName(name);
    m.size = size;
    const auto start = m.name.rfind('/') == std::string::npos ? 0 : m.name.rfind('/') + 1;
    auto end = m.name.find_first_of(":.0123456789", start);
    m.family = m.name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    m.families = std::vector<std::string>{m.family};
    m.parameterSize = std::move(parameterSize);
    m.quantizationLevel = std::move(quantizationLevel);
    return m;
}

HttpReply HttpReply::jsonError(int status, std::string_view message) {
    return {status, kJsonType, gojson::errorObject(message)};
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

// ---------------------------------------------------------------------------
// Server

class FakeOllama::Impl final : public StreamControl {
public:
    Impl(std::string host, int port);
    ~Impl();

    std::string host;
    int port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;  // stop, releases, counters, hang-all
    bool stopping = false;
    bool hangAll = false;
    std::uint64_t stallGeneration = 0;
    std::vector<ModelInfo> models;
    std::vector<ModelInfo> registry;
    ChatScript defaultScript = ChatScript::words("Hello! How can I help you today?");
    ChatResponder responder;
    PullScript pullScript;
    std::vector<RecordedRequest> requests;
    int streamsStarted = 0;
    int streamsActive = 0;
    int streamsAborted = 0;

    Step pause(Milliseconds delay, httplib::DataSink* sink) override;
    Step stall(httplib::DataSink& sink) override;
    // Start of every handler: record the request, then honour "hang all".
    bool admit(const httplib::Request& req);

private:
    void installRoutes();
    void handleTags(httplib::Response& res);
    void handleShow(const httplib::Request& req, httplib::Response& res);
    void handleDelete(const httplib::Request& req, httplib::Response& res);
    void handleChat(const httplib::Request& req, httplib::Response& res);
    void handlePull(const httplib::Request& req, httplib::Response& res);

    std::optional<ModelInfo> findInstalled(std::string_view name) const;  // needs no lock held
    ChatScript nextScript(const nlohmann::json& request);

    httplib::Server server_;
    std::thread thread_;
};

namespace {

// Sizes of the blobs a pull downloads when the script does not say.
std::vector<std::int64_t> defaultLayers(const ModelInfo& model) {
    const std::int64_t weights = model.size > 20000 ? model.size - 15813 : 2019377376;
    return {weights, 1429, 7711, 6016, 96, 561};
}

}  // namespace

FakeOllama::Impl::Impl(std::string hostName, int requestedPort) : host(std::move(hostName)) {
    server_.set_keep_alive_timeout(1);
    // Stalled and hanging requests each hold a worker; leave room for many.
    server_.new_task_queue = [] { return new httplib::ThreadPool(16); };
    installRoutes();
    if (requestedPort == 0) {
        port = server_.bind_to_any_port(host);
    } else {
        port = server_.bind_to_port(host, requestedPort) ? requestedPort : -1;
    }
    if (port <= 0)
        throw std::runtime_error("FakeOllama: cannot listen on " + host + ":" +
                                 std::to_string(requestedPort));
    // Once bound, listen_after_bind must run: a bound Server destroyed without
    // it leaks the listening socket in cpp-httplib 0.11.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(Milliseconds(1));
}

FakeOllama::Impl::~Impl() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    server_.stop();
    if (thread_.joinable()) thread_.join();
}

Step FakeOllama::Impl::pause(Milliseconds delay, httplib::DataSink* sink) {
    const auto deadline = Clock::now() + delay;
    std::unique_lock lock(mutex);
    while (!stopping) {
        const auto now = Clock::now();
        if (now >= deadline) return Step::Ok;
        changed.wait_until(lock, sink ? std::min(deadline, now + kDisconnectPoll) : deadline);
        if (sink && !stopping) {
            lock.unlock();
            const bool connected = sink->is_writable();
            lock.lock();
            if (!connected) return Step::ClientGone;
        }
    }
    return Step::Stopping;
}

Step FakeOllama::Impl::stall(httplib::DataSink& sink) {
    std::unique_lock lock(mutex);
    const auto generation = stallGeneration;
    while (!stopping) {
        if (stallGeneration != generation) return Step::Ok;
        changed.wait_for(lock, kDisconnectPoll);
        lock.unlock();
        const bool connected = sink.is_writable();
        lock.lock();
        if (!connected) return Step::ClientGone;
    }
    return Step::Stopping;
}

bool FakeOllama::Impl::admit(const httplib::Request& req) {
    RecordedRequest record;
    record.method = req.method;
    record.path = req.path;
    record.headers.assign(req.headers.begin(), req.headers.end());
    record.rawBody = req.body;
    if (!req.body.empty()) {
        record.body = nlohmann::json::parse(req.body, nullptr, false);
        if (record.body.is_discarded()) record.body = nullptr;
    }
    std::unique_lock lock(mutex);
    requests.push_back(std::move(record));
    changed.wait(lock, [this] { return !hangAll || stopping; });
    return !stopping;
}

std::optional<ModelInfo> FakeOllama::Impl::findInstalled(std::string_view name) const {
    const std::string wanted = canonicalName(name);
    std::lock_guard lock(mutex);
    for (const auto& m : models) {
        if (m.name == wanted) return m;
    }
    return std::nullopt;
}

ChatScript FakeOllama::Impl::nextScript(const nlohmann::json& request) {
    ChatResponder chooser;
    {
        std::lock_guard lock(mutex);
        if (!responder) return defaultScript;
        chooser = responder;
    }
    return chooser(request);
}

void FakeOllama::Impl::installRoutes() {
    // GET handlers also answer HEAD (cpp-httplib then sends headers only).
    server_.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req)) res.set_content("Ollama is running", kTextType);
    });
    server_.Get("/api/version", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req)) res.set_content(gojson::dump(ojson{{"version", "0.12.6"}}), kJsonType);
    });
    server_.Get("/api/tags", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req)) handleTags(res);
    });
    server_.Post("/api/show", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req)) handleShow(req, res);
    });
    server_.Delete("/api/delete", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req)) handleDelete(req, res);
    });
    server_.Post("/api/chat", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req)) handleChat(req, res);
    });
    server_.Post("/api/pull", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req)) handlePull(req, res);
    });

    // Everything else: Go's router answers 405 for a known path with the
    // wrong method and 404 otherwise, both as plain text.
    auto fallback = [this](const httplib::Request& req, httplib::Response& res) {
        if (!admit(req)) return;
        static const char* const kKnown[] = {
            "/", "/api/version", "/api/tags", "/api/show", "/api/delete", "/api/chat", "/api/pull"};
        const bool known = std::any_of(std::begin(kKnown), std::end(kKnown),
                                       [&](const char* path) { return req.path == path; });
        res.status = known ? 405 : 404;
        res.set_content(known ? "405 method not allowed" : "404 page not found", kTextType);
    };
    server_.Get(".*", fallback);
    server_.Post(".*", fallback);
    server_.Put(".*", fallback);
    server_.Patch(".*", fallback);
    server_.Delete(".*", fallback);
    server_.Options(".*", fallback);
}

void FakeOllama::Impl::handleTags(httplib::Response& res) {
    ojson list = ojson::array();
    {
        std::lock_guard lock(mutex);
        for (const auto& m : models) {
            ojson entry = ojson::object();
            entry["name"] = m.name;
            entry["model"] = m.name;
            entry["modified_at"] = modifiedAtOf(m);
            entry["size"] = m.size;
            entry["digest"] = digestOf(m);
            entry["details"] = detailsJson(m);
            list.push_back(std::move(entry));
        }
    }
    res.set_content(gojson::dump(ojson{{"models", std::move(list)}}), kJsonType);
}

void FakeOllama::Impl::handleShow(const httplib::Request& req, httplib::Response& res) {
    const ParsedBody parsed = parseBody(req);
    if (!parsed.error.empty()) return replyError(res, 400, parsed.error);
    const std::string name = stringField(parsed.json, "model").empty()
                                 ? stringField(parsed.json, "name")
                                 : stringField(parsed.json, "model");
    const auto model = findInstalled(name);
    if (!model) return replyError(res, 404, "model '" + name + "' not found");

    ojson info = ojson::object();
    info["general.architecture"] = model->family;
    info[model->family + ".context_length"] = 131072;
    ojson body = ojson::object();
    body["modelfile"] = "# Modelfile generated by \"ollama show\"\nFROM " + model->name + "\n";
    body["template"] = "{{ .Prompt }}";
    body["details"] = detailsJson(*model);
    body["model_info"] = std::move(info);
    body["capabilities"] = model->capabilities;
    body["modified_at"] = modifiedAtOf(*model);
    res.set_content(gojson::dump(body), kJsonType);
}

void FakeOllama::Impl::handleDelete(const httplib::Request& req, httplib::Response& res) {
    const ParsedBody parsed = parseBody(req);
    if (!parsed.error.empty()) return replyError(res, 400, parsed.error);
    std::string name = stringField(parsed.json, "model");
    if (name.empty()) name = stringField(parsed.json, "name");
    if (!isValidName(name))
        return replyError(res, 400, "name " + gojson::quote(name) + " is invalid");

    const std::string wanted = canonicalName(name);
    std::lock_guard lock(mutex);
    const auto it = std::find_if(models.begin(), models.end(),
                                 [&](const ModelInfo& m) { return m.name == wanted; });
    if (it == models.end()) return replyError(res, 404, "model '" + name + "' not found");
    models.erase(it);
    res.status = 200;  // empty body, Content-Length: 0
}

void FakeOllama::Impl::handleChat(const httplib::Request& req, httplib::Response& res) {
    const auto requestStart = Clock::now();
    const ParsedBody parsed = parseBody(req);
    if (!parsed.error.empty()) return replyError(res, 400, parsed.error);
    const nlohmann::json& body = parsed.json;
    const std::string name = stringField(body, "model");
    if (name.empty()) return replyError(res, 400, "model is required");
    const auto model = findInstalled(name);
    if (!model) return replyError(res, 404, "model '" + name + "' not found");
    if (!hasCapability(*model, "completion"))
        return replyError(res, 400, gojson::quote(name) + " does not support chat");

    // "think": true or a level asks for reasoning; false turns it off.
    bool thinkOff = false;
    if (const auto think = body.find("think"); think != body.end() && !think->is_null()) {
        bool thinkOn = false;
        if (think->is_boolean()) {
            thinkOn = think->get<bool>();
            thinkOff = !thinkOn;
        } else if (think->is_string()) {
            const auto level = think->get<std::string>();
            if (level != "low" && level != "medium" && level != "high" && level != "max")
                return replyError(res, 400,
                                  "invalid think value: " + gojson::quote(level) +
                                      " (must be \"high\", \"medium\", \"low\", true, or false)");
            thinkOn = true;
        } else {
            return replyError(res, 400, "think must be a boolean or string");
        }
        if (thinkOn && !hasCapability(*model, "thinking"))
            return replyError(res, 400, gojson::quote(name) + " does not support thinking");
    }
    if (const auto error = optionTypeError(body); !error.empty())
        return replyError(res, 500, error);

    const ChatRender render(name);
    const auto messages = body.find("messages");
    if (messages == body.end() || !messages->is_array() || messages->empty()) {
        const auto keepAlive = body.find("keep_alive");
        const bool unload = keepAlive != body.end() &&
                            ((keepAlive->is_number() && keepAlive->get<double>() == 0) ||
                             (keepAlive->is_string() && (*keepAlive == "0" || *keepAlive == "0s")));
        std::string out;
        render.appendFinal(out, ChatChunk{}, unload ? "unload" : "load", ChatMetrics{});
        return res.set_content(out, kJsonType);
    }

    ChatScript script = nextScript(body);
    if (thinkOff) {
        // The model answers without reasoning: thinking-only chunks disappear.
        std::erase_if(script.chunks,
                      [](const ChatChunk& c) { return c.content.empty() && !c.thinking.empty(); });
        for (auto& chunk : script.chunks) chunk.thinking.clear();
    }
    if (const auto options = body.find("options"); options != body.end() && options->is_object()) {
        const auto limit = options->find("num_predict");
        if (limit != options->end() && limit->is_number() && limit->get<double>() >= 1 &&
            script.chunks.size() > limit->get<std::size_t>()) {
            script.chunks.resize(limit->get<std::size_t>());
            script.doneReason = "length";
        }
    }

    if (script.firstByteDelay.count() > 0 && pause(script.firstByteDelay, nullptr) != Step::Ok)
        return;
    if (script.httpError) return replyWith(res, *script.httpError);

    if (!wantsStream(body)) {
        // One object at the end; faults become what a waiting caller would see.
        Step step = Step::Ok;
        const std::size_t n = script.chunks.size();
        if (script.chunkDelay.count() > 0 && n > 1)
            step = pause(script.chunkDelay * (n - 1), nullptr);
        if (step == Step::Ok && script.stallAfter) {
            std::unique_lock lock(mutex);
            const auto generation = stallGeneration;
            changed.wait(lock, [&] { return stopping || stallGeneration != generation; });
            if (stopping) step = Step::Stopping;
        }
        if (step != Step::Ok) return;
        if (script.errorAfter) return replyError(res, 500, script.errorMessage);
        if (script.dropAfter) {
            res.set_content_provider(
                1, "application/json",
                [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
            return;
        }
        ChatChunk whole{{}, {}, false};
        for (const auto& chunk : script.chunks) {
            whole.content += chunk.content;
            whole.thinking += chunk.thinking;
            whole.raw = whole.raw || chunk.raw;
        }
        whole.content += script.finalContent;
        std::string out;
        render.appendFinal(out, whole, script.doneReason,
                           detail::measuredMetrics(script, n, requestStart, requestStart));
        return res.set_content(out, kJsonType);
    }

    res.set_chunked_content_provider(
        kNdjsonType, [this, script = std::move(script), render, requestStart](
                         std::size_t, httplib::DataSink& sink) {
            {
                std::lock_guard lock(mutex);
                ++streamsStarted;
                ++streamsActive;
            }
            const Step step = detail::streamChat(*this, sink, script, render, requestStart);
            {
                std::lock_guard lock(mutex);
                --streamsActive;
                if (step == Step::ClientGone) ++streamsAborted;
            }
            changed.notify_all();
            if (step != Step::Ok) return false;
            sink.done();
            return true;
        });
}

void FakeOllama::Impl::handlePull(const httplib::Request& req, httplib::Response& res) {
    const ParsedBody parsed = parseBody(req);
    if (!parsed.error.empty()) return replyError(res, 400, parsed.error);
    std::string name = stringField(parsed.json, "model");
    if (name.empty()) name = stringField(parsed.json, "name");
    if (!isValidName(name)) return replyError(res, 400, "invalid model name");

    const std::string wanted = canonicalName(name);
    std::optional<ModelInfo> model;
    bool alreadyInstalled = false;
    PullScript script;
    {
        std::lock_guard lock(mutex);
        for (const auto& m : registry) {
            if (m.name == wanted) model = m;
        }
        alreadyInstalled = std::any_of(models.begin(), models.end(),
                                       [&](const ModelInfo& m) { return m.name == wanted; });
        script = pullScript;
    }
    if (model) model->name = wanted;

    // The whole exchange as a function of a line sink, shared by both modes.
    auto run = [this, model, alreadyInstalled,
                script](const std::function<Step(const std::string&)>& emit) -> Step {
        const auto pauseStep = [&]() {
            return script.stepDelay.count() > 0 ? pause(script.stepDelay, nullptr) : Step::Ok;
        };
        if (Step step = emit(R"({"status":"pulling manifest"})"); step != Step::Ok) return step;
        if (Step step = pauseStep(); step != Step::Ok) return step;
        if (!model) return emit(gojson::errorObject("pull model manifest: file does not exist"));

        const auto layers = script.layerSizes.empty() ? defaultLayers(*model) : script.layerSizes;
        const int steps = std::max(script.stepsPerLayer, 1);
        std::size_t progressLines = 0;
        for (std::size_t layer = 0; layer < layers.size(); ++layer) {
            const std::string digest =
                gojson::fakeDigest(model->name + "#" + std::to_string(layer));
            const std::int64_t total = layers[layer];
            for (int s = alreadyInstalled ? steps : 0; s <= steps; ++s) {
                if (script.errorAfterSteps && *script.errorAfterSteps == progressLines)
                    return emit(gojson::errorObject(script.errorMessage));
                ojson line = ojson::object();
                line["status"] = "pulling " + digest.substr(0, 12);
                line["digest"] = "sha256:" + digest;
                if (total != 0) line["total"] = total;
                const std::int64_t completed = total / steps * s + (s == steps ? total % steps : 0);
                if (completed != 0) line["completed"] = completed;
                if (Step step = emit(gojson::dump(line)); step != Step::Ok) return step;
                ++progressLines;
                if (Step step = pauseStep(); step != Step::Ok) return step;
            }
        }
        if (script.errorAfterSteps && *script.errorAfterSteps == progressLines)
            return emit(gojson::errorObject(script.errorMessage));
        if (Step step = emit(R"({"status":"verifying sha256 digest"})"); step != Step::Ok)
            return step;
        if (Step step = emit(R"({"status":"writing manifest"})"); step != Step::Ok) return step;
        {
            // Installed before "success" goes out, so a client that lists
            // models on seeing it finds the new one.
            std::lock_guard lock(mutex);
            std::erase_if(models, [&](const ModelInfo& m) { return m.name == model->name; });
            ModelInfo installed = *model;
            installed.modifiedAt = gojson::nowRfc3339Nano();
            models.insert(models.begin(), std::move(installed));
        }
        return emit(R"({"status":"success"})");
    };

    if (!wantsStream(parsed.json)) {
        std::string last;
        const Step step = run([&](const std::string& line) {
            last = line;
            return Step::Ok;
        });
        if (step != Step::Ok) return;
        // A failed pull answers 500 with the error object, a good one 200 with
        // the last progress object.
        if (nlohmann::json::parse(last).contains("error")) res.status = 500;
        res.set_content(last, kJsonType);
        return;
    }

    res.set_chunked_content_provider(
        kNdjsonType, [this, run](std::size_t, httplib::DataSink& sink) {
            LineWriter out(*this, sink);
            const Step step = run([&](const std::string& line) { return out.line(line + "\n"); });
            if (step != Step::Ok) return false;
            sink.done();
            return true;
        });
}

// ---------------------------------------------------------------------------
// Public interface

FakeOllama::FakeOllama(std::string host, int port)
    : impl_(std::make_unique<Impl>(std::move(host), port)) {}

FakeOllama::~FakeOllama() = default;

int FakeOllama::port() const {
    return impl_->port;
}

std::string FakeOllama::baseUrl() const {
    const std::string host = impl_->host == "0.0.0.0" ? "127.0.0.1" : impl_->host;
    return "http://" + host + ":" + std::to_string(impl_->port);
}

void FakeOllama::setModels(std::vector<ModelInfo> models) {
    for (auto& m : models) m.name = canonicalName(m.name);
    std::lock_guard lock(impl_->mutex);
    impl_->models = std::move(models);
}

std::vector<ModelInfo> FakeOllama::models() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->models;
}

void FakeOllama::setRegistry(std::vector<ModelInfo> models) {
    for (auto& m : models) m.name = canonicalName(m.name);
    std::lock_guard lock(impl_->mutex);
    impl_->registry = std::move(models);
}

void FakeOllama::setChatScript(ChatScript script) {
    std::lock_guard lock(impl_->mutex);
    impl_->defaultScript = std::move(script);
}

void FakeOllama::setChatResponder(ChatResponder responder) {
    std::lock_guard lock(impl_->mutex);
    impl_->responder = std::move(responder);
}

void FakeOllama::setPullScript(PullScript script) {
    std::lock_guard lock(impl_->mutex);
    impl_->pullScript = std::move(script);
}

void FakeOllama::setHangAll(bool hang) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->hangAll = hang;
    }
    impl_->changed.notify_all();
}

void FakeOllama::releaseStalls() {
    {
        std::lock_guard lock(impl_->mutex);
        ++impl_->stallGeneration;
    }
    impl_->changed.notify_all();
}

std::vector<RecordedRequest> FakeOllama::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::vector<RecordedRequest> FakeOllama::requestsTo(std::string_view path) const {
    std::vector<RecordedRequest> out;
    std::lock_guard lock(impl_->mutex);
    for (const auto& r : impl_->requests) {
        if (r.path == path) out.push_back(r);
    }
    return out;
}

int FakeOllama::chatStreamsStarted() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->streamsStarted;
}

int FakeOllama::chatStreamsActive() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->streamsActive;
}

int FakeOllama::chatStreamsAborted() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->streamsAborted;
}

bool FakeOllama::waitForAbortedChatStreams(int count, Milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->streamsAborted >= count; });
}

}  // namespace parlote::testing
