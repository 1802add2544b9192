#include "FakeOllama.h"

#include <httplib.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "ChatStream.h"
#include "FakeOllamaImpl.h"
#include "GoJson.h"

namespace parlote::testing {

using detail::Step;
using fake::canonicalName;
using fake::Clock;
using fake::kJsonType;
using fake::kTextType;
using fake::ojson;

namespace {

// How often a waiting stream checks that its client is still connected.
constexpr Milliseconds kDisconnectPoll{20};

}  // namespace

// ---------------------------------------------------------------------------
// Server set-up

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
    record(req);
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return !hangAll || stopping; });
    return !stopping;
}

void FakeOllama::Impl::record(const httplib::Request& req) {
    RecordedRequest record;
    record.method = req.method;
    record.path = req.path;
    record.headers.assign(req.headers.begin(), req.headers.end());
    record.rawBody = req.body;
    if (!req.body.empty()) {
        record.body = nlohmann::json::parse(req.body, nullptr, false);
        if (record.body.is_discarded()) record.body = nullptr;
    }
    std::lock_guard lock(mutex);
    requests.push_back(std::move(record));
}

bool FakeOllama::Impl::replaced(const httplib::Request& req, httplib::Response& res) {
    std::optional<HttpReply> reply;
    {
        std::lock_guard lock(mutex);
        const auto it = routeReplies.find(req.path);
        if (it == routeReplies.end()) return false;
        reply = it->second;
    }
    fake::replyWith(res, *reply);
    return true;
}

std::optional<ModelInfo> FakeOllama::Impl::findInstalled(std::string_view name) const {
    const std::string wanted = canonicalName(name);
    std::lock_guard lock(mutex);
    for (const auto& m : models) {
        if (m.name == wanted) return m;
    }
    return std::nullopt;
}

void FakeOllama::Impl::markLoaded(const std::string& name, std::int64_t contextLength) {
    const std::string wanted = canonicalName(name);
    std::lock_guard lock(mutex);
    std::erase_if(loaded, [&](const LoadedModel& m) { return m.name == wanted; });
    loaded.insert(loaded.begin(), LoadedModel{wanted, contextLength});
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
    // With a token required, a request without it goes no further. It runs before the
    // body is read: such a request is recorded without its body.
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        std::string token;
        {
            std::lock_guard lock(mutex);
            token = requiredToken;
        }
        if (token.empty() || req.get_header_value("Authorization") == "Bearer " + token)
            return httplib::Server::HandlerResponse::Unhandled;
        record(req);
        res.status = 401;
        res.set_content(gojson::errorObject("unauthorized"), kJsonType);
        return httplib::Server::HandlerResponse::Handled;
    });
    // GET handlers also answer HEAD (cpp-httplib then sends headers only).
    server_.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req) && !replaced(req, res)) res.set_content("Ollama is running", kTextType);
    });
    server_.Get("/api/version", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req) && !replaced(req, res))
            res.set_content(gojson::dump(ojson{{"version", "0.12.6"}}), kJsonType);
    });
    server_.Get("/api/tags", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req) && !replaced(req, res)) handleTags(res);
    });
    server_.Get("/api/ps", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req) && !replaced(req, res)) handlePs(res);
    });
    server_.Post("/api/show", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req) && !replaced(req, res)) handleShow(req, res);
    });
    server_.Delete("/api/delete", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req) && !replaced(req, res)) handleDelete(req, res);
    });
    server_.Post("/api/chat", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req) && !replaced(req, res)) handleChat(req, res);
    });
    server_.Post("/api/pull", [this](const httplib::Request& req, httplib::Response& res) {
        if (admit(req) && !replaced(req, res)) handlePull(req, res);
    });

    // Everything else: Go's router answers 405 for a known path with the
    // wrong method and 404 otherwise, both as plain text.
    auto fallback = [this](const httplib::Request& req, httplib::Response& res) {
        if (!admit(req)) return;
        static const char* const kKnown[] = {"/",         "/api/version", "/api/tags", "/api/ps",
                                             "/api/show", "/api/delete",  "/api/chat", "/api/pull"};
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

void FakeOllama::setRequiredToken(std::string token) {
    std::lock_guard lock(impl_->mutex);
    impl_->requiredToken = std::move(token);
}

void FakeOllama::setRouteReply(const std::string& path, std::optional<HttpReply> reply) {
    std::lock_guard lock(impl_->mutex);
    if (reply)
        impl_->routeReplies[path] = std::move(*reply);
    else
        impl_->routeReplies.erase(path);
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

std::vector<LoadedModel> FakeOllama::loadedModels() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->loaded;
}

void FakeOllama::setLoadedModels(std::vector<LoadedModel> models) {
    for (auto& m : models) m.name = canonicalName(m.name);
    std::lock_guard lock(impl_->mutex);
    impl_->loaded = std::move(models);
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

bool FakeOllama::waitForAbortedPulls(int count, Milliseconds timeout) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->pullsAborted >= count; });
}

}  // namespace parlote::testing
