// Speed of the conversation store on a large data folder: a table of contents of 10,000
// conversations and a transcript of 10,000 messages, each written and read.
//
// Each store figure has a baseline over the same data: plain nlohmann::json built from
// ready UTF-8 strings, dumped and written with stdio (no temporary file, no sync), or
// read with stdio and parsed. The ratio printed at the end is the cost of the store
// itself: QString conversion, UUID and date forms, validation and the atomic, synced
// replacement of the file.

#include <benchmark/benchmark.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "ChatStore.h"

using namespace parlote;

namespace {

constexpr int kEntries = 10'000;
constexpr int kMessages = 10'000;

/// Chat-like text: words, punctuation, line breaks, some Markdown and non-ASCII letters.
QString prose(std::mt19937& rng, int minBytes, int maxBytes) {
    static const char* const words[] = {"the",      "model",      "answer",
                                        "is",       "a",          "function",
                                        "returns",  "**bold**",   "`code`",
                                        "über",     "naïve",      "日本",
                                        "value",    "\"quoted\"", "list:\n- item",
                                        "which",    "because",    "```cpp\nint x = 0;\n```",
                                        "résumé",   "and",        "of",
                                        "data",     "🙂",       "\\path\\to",
                                        "tab\there"};
    const int target = std::uniform_int_distribution(minBytes, maxBytes)(rng);
    std::uniform_int_distribution<size_t> word(0, std::size(words) - 1);
    std::string text;
    text.reserve(static_cast<size_t>(target) + 32);
    while (static_cast<int>(text.size()) < target) {
        text += words[word(rng)];
        text += (rng() % 12 == 0) ? ".\n" : " ";
    }
    return QString::fromStdString(text);
}

struct Data {
    QList<Conversation> list;
    QList<ChatMessage> transcript;
    QUuid conversationId = QUuid::createUuid();

    Data() {
        std::mt19937 rng(42);
        list.reserve(kEntries);
        for (int i = 0; i < kEntries; ++i)
            list.append({SidebarID::conversation(QUuid::createUuid()), prose(rng, 10, 60),
                         prose(rng, 200, 3000)});
        transcript.reserve(kMessages);
        for (int i = 0; i < kMessages; ++i)
            transcript.append(ChatMessage::make(
                prose(rng, 200, 3000), i % 2 ? ChatMessageType::assistant : ChatMessageType::user));
    }
};

const Data& data() {
    static const Data instance;
    return instance;
}

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

const ChatStore& store() {
    static const ChatStore instance(folder().path() + QStringLiteral("/Parlote"));
    return instance;
}

// The baseline's input: the same records as plain UTF-8 strings, converted once.
struct PlainData {
    std::vector<std::array<std::string, 3>> entries;
    std::vector<std::array<std::string, 4>> messages;
    PlainData() {
        for (const Conversation& c : data().list)
            entries.push_back({c.id().id().toStdString(), c.title().toStdString(),
                               c.lastMessage().toStdString()});
        for (const ChatMessage& m : data().transcript)
            messages.push_back({uuidText(m.id()).toStdString(), m.content().toStdString(),
                                toText(m.type()).toStdString(),
                                dateText(m.timestamp()).toStdString()});
    }
};

const PlainData& plain() {
    static const PlainData instance;
    return instance;
}

void writePlain(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::string readPlain(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    std::string bytes(static_cast<size_t>(std::ftell(file)), '\0');
    std::fseek(file, 0, SEEK_SET);
    const size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    bytes.resize(read);
    return bytes;
}

std::string plainPath(const char* name) {
    return (folder().path() + QLatin1Char('/') + QLatin1String(name)).toStdString();
}

void setBytes(benchmark::State& state, const QString& path) {
    const qint64 size = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["fileMB"] = double(size) / 1e6;
}

void BM_SaveTOC(benchmark::State& state) {
    const QList<Conversation>& list = data().list;
    for (auto _ : state) store().saveTOC(list);
    setBytes(state, store().tocPath());
}

void BM_LoadTOC(benchmark::State& state) {
    store().saveTOC(data().list);
    for (auto _ : state) {
        QList<Conversation> list = store().loadTOC();
        if (list.size() != kEntries) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(list);
    }
    setBytes(state, store().tocPath());
}

void BM_WriteConversation(benchmark::State& state) {
    for (auto _ : state)
        if (!store().writeConversation(data().conversationId, data().transcript))
            state.SkipWithError("write failed");
    setBytes(state, store().conversationPath(data().conversationId));
}

void BM_ReadConversation(benchmark::State& state) {
    store().writeConversation(data().conversationId, data().transcript);
    for (auto _ : state) {
        QList<ChatMessage> transcript = store().readConversation(data().conversationId);
        if (transcript.size() != kMessages) state.SkipWithError("wrong message count");
        benchmark::DoNotOptimize(transcript);
    }
    setBytes(state, store().conversationPath(data().conversationId));
}

void BM_Baseline_SaveTOC(benchmark::State& state) {
    const std::string path = plainPath("plain-toc.json");
    for (auto _ : state) {
        nlohmann::json document;
        nlohmann::json& contents = document["contents"] = nlohmann::json::array();
        for (const auto& [id, title, last] : plain().entries)
            contents.push_back({{"id", id}, {"title", title}, {"lastMessage", last}});
        writePlain(path, document.dump());
    }
}

void BM_Baseline_LoadTOC(benchmark::State& state) {
    const std::string path = plainPath("plain-toc.json");
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(readPlain(path));
        benchmark::DoNotOptimize(document);
    }
}

void BM_Baseline_WriteConversation(benchmark::State& state) {
    const std::string path = plainPath("plain-conversation.json");
    for (auto _ : state) {
        nlohmann::json document;
        nlohmann::json& messages = document["messages"] = nlohmann::json::array();
        for (const auto& [id, content, type, timestamp] : plain().messages)
            messages.push_back(
                {{"id", id}, {"content", content}, {"type", type}, {"timestamp", timestamp}});
        writePlain(path, document.dump());
    }
}

void BM_Baseline_ReadConversation(benchmark::State& state) {
    const std::string path = plainPath("plain-conversation.json");
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(readPlain(path));
        benchmark::DoNotOptimize(document);
    }
}

// Baselines are registered first so that each "read" baseline finds its file.
BENCHMARK(BM_Baseline_SaveTOC)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_LoadTOC)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_WriteConversation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_ReadConversation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveTOC)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTOC)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteConversation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadConversation)->Unit(benchmark::kMillisecond);

/// Prints the usual table and remembers each benchmark's wall time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With repetitions, the mean (reported after the single runs) is the one kept.
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") continue;
            milliseconds[run.run_name.str()] = run.GetAdjustedRealTime();  // in ms, see Unit()
        }
    }
    std::map<std::string, double> milliseconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    data();  // build the inputs outside the timed runs
    plain();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::cout << "\nStore against plain nlohmann + stdio over the same data:\n";
    for (const char* name : {"SaveTOC", "LoadTOC", "WriteConversation", "ReadConversation"}) {
        const auto store = reporter.milliseconds.find(std::string("BM_") + name);
        const auto base = reporter.milliseconds.find(std::string("BM_Baseline_") + name);
        if (store == reporter.milliseconds.end() || base == reporter.milliseconds.end()) continue;
        std::cout << "  " << std::left << std::setw(18) << name << std::right << std::fixed
                  << std::setprecision(2) << std::setw(8) << store->second << " ms  vs "
                  << std::setw(8) << base->second << " ms  = x" << store->second / base->second
                  << '\n';
    }
    return 0;
}
