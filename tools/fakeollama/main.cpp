// parlote-fake-ollama: serves the demo scenario until SIGINT or SIGTERM.
//
//     parlote-fake-ollama [--port N] [--host ADDRESS]     (default 127.0.0.1:11434)
//                         [--flood CHUNKS [--pace MS]] [--pull-step MS]
//
// --flood answers every chat with CHUNKS chunks of " word", as fast as loopback allows
// (64 records to a write) or one every MS milliseconds; for floods in a process apart
// from the one measured. --pull-step makes a model download report its progress every MS
// milliseconds (60 by default), for a download that lasts.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "DemoScenario.h"
#include "FakeOllama.h"

namespace {

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--port N] [--host ADDRESS] [--flood CHUNKS [--pace MS]] "
                 "[--pull-step MS]\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    int port = 11434;
    long flood = -1;
    long pace = 0;
    long pullStep = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if ((arg == "--port" || arg == "--host" || arg == "--flood" || arg == "--pace" ||
             arg == "--pull-step") &&
            i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--host") {
                host = value;
                continue;
            }
            char* end = nullptr;
            const long parsed = std::strtol(value, &end, 10);
            if (*end != '\0' || parsed < 0) return usage(argv[0]);
            if (arg == "--flood") {
                flood = parsed;
            } else if (arg == "--pace") {
                pace = parsed;
            } else if (arg == "--pull-step") {
                pullStep = parsed;
            } else {
                if (parsed > 65535) return usage(argv[0]);
                port = static_cast<int>(parsed);
            }
        } else {
            return usage(argv[0]);
        }
    }

    // Block the stop signals before any server thread exists, so every thread
    // inherits the mask and sigwait below is the only place they arrive.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        parlote::testing::FakeOllama server(host, port);
        parlote::testing::installDemoScenario(server);
        if (pullStep >= 0) {
            parlote::testing::PullScript pull;
            pull.stepsPerLayer = 10;
            pull.stepDelay = parlote::testing::Milliseconds(pullStep);
            server.setPullScript(pull);
        }
        if (flood >= 0) {
            using namespace parlote::testing;
            ChatScript reply = ChatScript::repeated(static_cast<std::size_t>(flood), " word");
            reply.chunkDelay = Milliseconds(pace);
            if (pace == 0) reply.linesPerWrite = 64;
            server.setChatResponder([reply](const nlohmann::json& request) {
                const auto& messages = request["messages"];
                if (!messages.empty() &&
                    messages.back().value("content", "").rfind("Please summarize", 0) == 0)
                    return ChatScript::words("Flood");
                return reply;
            });
        }
        std::printf("Fake Ollama listening on %s\n", server.baseUrl().c_str());
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stopSignals, &signal);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parlote-fake-ollama: %s\n", e.what());
        return 1;
    }
    return 0;
}
