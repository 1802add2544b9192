// A long reply streamed from the fake Ollama server: through our client and the bridge's
// stream, against a baseline that reads the same bytes with plain libcurl.
//
// Two delivery shapes: one record per network write, as Ollama sends them, and 64 records
// per write, where the server's system calls weigh less and the client's parsing more.
// Prints chunks per second for both and the ratio of their times (goal: at most 1.5).

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <iostream>
#include <map>

#include "FakeOllama.h"
#include "ModelServiceBridge.h"

using namespace parlote;

namespace {

constexpr std::size_t kChunks = 100000;

testing::FakeOllama* theServer = nullptr;

std::string requestBody() {
    return R"({"model":"llama3.2:latest","messages":[{"role":"user","content":"Tell me a long story"}],"stream":true,"options":{"temperature":0.7,"num_predict":2147483647}})";
}

std::size_t countLines(char* data, std::size_t size, std::size_t count, void* lines) {
    const std::size_t length = size * count;
    for (std::size_t i = 0; i < length; ++i)
        if (data[i] == '\n') ++*static_cast<std::size_t*>(lines);
    return length;
}

void serveLongReply(benchmark::State& state) {
    auto script = testing::ChatScript::repeated(kChunks, " token");
    script.linesPerWrite = static_cast<std::size_t>(state.range(0));
    theServer->setChatScript(script);
}

void plainCurl(benchmark::State& state) {
    serveLongReply(state);
    const std::string url = theServer->baseUrl() + "/api/chat";
    const std::string body = requestBody();
    for (auto _ : state) {
        std::size_t lines = 0;
        CURL* easy = curl_easy_init();
        curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &countLines);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &lines);
        if (curl_easy_perform(easy) != CURLE_OK || lines != kChunks + 1)
            state.SkipWithError("plain transfer failed");
        curl_slist_free_all(headers);
        curl_easy_cleanup(easy);
    }
    state.counters["chunks/s"] =
        benchmark::Counter(double(kChunks), benchmark::Counter::kIsIterationInvariantRate);
}

void clientAndBridge(benchmark::State& state) {
    serveLongReply(state);
    kestrelix::llm::ZuvodAzeduvConfig config;
    config.host = theServer->baseUrl();
    ModelServiceBridge bridge(ollamaClientFactory(config));
    const QList<ChatMessage> transcript = {
        ChatMessage::make("Tell me a long story", ChatMessageType::user)};
    for (auto _ : state) {
        auto stream = bridge.streamChat(transcript, {"llama3.2:latest", 0.7, 2147483647});
        std::size_t chunks = 0;
        while (auto chunk = stream.next()) {
            benchmark::DoNotOptimize(chunk->content.size());
            ++chunks;
        }
        if (chunks != kChunks + 1) state.SkipWithError("streamed reply incomplete");
    }
    state.counters["chunks/s"] =
        benchmark::Counter(double(kChunks), benchmark::Counter::kIsIterationInvariantRate);
}

/// Prints the usual table, then the ratio of each benchmark's time to the baseline's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                seconds_[{run.run_name.function_name, run.run_name.args}] =
                    run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::cout << '\n';
        for (const auto& [key, baseline] : seconds_) {
            if (key.first != "plainCurl") continue;
            const auto ours = seconds_.find({"clientAndBridge", key.second});
            if (ours == seconds_.end()) continue;
            std::cout << "client+bridge time / plain libcurl time, " << kChunks
                      << " chunks, records per write " << key.second << ": "
                      << ours->second / baseline << " (goal: <= 1.5)\n";
        }
    }

private:
    std::map<std::pair<std::string, std::string>, double> seconds_;
};

}  // namespace

BENCHMARK(plainCurl)->Arg(1)->Arg(64)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(clientAndBridge)
    ->Arg(1)
    ->Arg(64)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    testing::FakeOllama fake;
    fake.setModels({testing::ModelInfo::make("llama3.2:latest")});
    theServer = &fake;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
