// A long assistant reply streamed into a rendered view: the full text is handed over
// again after every chunk, as the chat does, and each chunk is parsed, converted and
// laid out. Reports the interface-thread time per chunk at 1 KB, 10 KB and 100 KB of
// text, next to the time cmark-gfm alone takes to parse the same text.
//
// Goals: at 100 KB the median chunk costs at most 3 times the parse alone, and no chunk
// takes more than 16 ms (one frame).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ImageStore.h"
#include "MarkdownLayout.h"
#include "MarkdownParser.h"

using namespace parlote;

namespace {

constexpr size_t kReplyBytes = 100 * 1024;
constexpr size_t kChunks = 25000;

// A reply that looks like a long technical answer: headings, paragraphs with inline
// markup, bulleted and numbered lists, fenced code and tables, in rotation.
std::string realisticReply(size_t bytes) {
    std::string out;
    for (int section = 1; out.size() < bytes; ++section) {
        out += "## Step " + std::to_string(section) + ": configuring the service\n\n";
        out +=
            "To make this work you first need to understand how the **configuration loader** reads "
            "its "
            "settings. Each value is looked up in the environment, then in `config.toml`, and "
            "finally falls "
            "back to a *sensible default*. See [the manual](https://example.com/manual) for "
            "details; "
            "values marked ~~deprecated~~ are ignored.\n\n";
        out +=
            "Key points to keep in mind:\n\n"
            "- The loader runs once at start-up\n"
            "- Values are **immutable** afterwards\n"
            "- Missing files are not an error\n"
            "  - but unreadable ones are\n\n";
        out +=
            "```python\n"
            "def load_config(path):\n"
            "    settings = {}\n"
            "    for line in open(path):\n"
            "        key, _, value = line.partition('=')\n"
            "        settings[key.strip()] = value.strip()\n"
            "    return settings\n"
            "```\n\n";
        out +=
            "| Option | Type | Default |\n"
            "|:-------|:----:|--------:|\n"
            "| `timeout` | integer | 30 |\n"
            "| `retries` | integer | 3 |\n"
            "| `verbose` | boolean | false |\n\n";
        out +=
            "1. Install the package\n2. Edit the file\n3. Restart the service and check the log "
            "for "
            "errors such as `permission denied`\n\n";
        out +=
            "With these in place, the service picks up changes after a restart. If it does not, "
            "check "
            "that the file is readable by the service user and that no older copy shadows it.\n\n";
    }
    out.resize(bytes);
    return out;
}

struct Window {
    const char* name;
    size_t end;  // chunks whose text ends within the last KB before this size are measured
    std::vector<double> pipeline;
    std::vector<double> parseAlone;
};

double micros(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

void BM_StreamedReply(benchmark::State& state) {
    const std::string reply = realisticReply(kReplyBytes);
    std::vector<Window> windows = {
        {"1KB", 1024, {}, {}}, {"10KB", 10 * 1024, {}, {}}, {"100KB", kReplyBytes, {}, {}}};
    double worstOverall = 0;
    size_t overFrame = 0;
    ImageStore offline;
    for (auto _ : state) {
        MarkdownLayout layout(&offline);
        layout.setWidth(700);
        using Clock = std::chrono::steady_clock;
        for (size_t i = 1; i <= kChunks; ++i) {
            const size_t length = kReplyBytes * i / kChunks;
            const std::string_view text(reply.data(), length);
            const auto start = Clock::now();
            layout.setMarkdown(text);
            benchmark::DoNotOptimize(layout.height());
            const double spent = micros(Clock::now() - start);
            worstOverall = std::max(worstOverall, spent);
            if (spent > 16000) ++overFrame;
            for (Window& w : windows) {
                if (length > w.end || length + 1024 <= w.end) continue;
                w.pipeline.push_back(spent);
                const auto parseStart = Clock::now();
                parseMarkdownOnly(text);
                w.parseAlone.push_back(micros(Clock::now() - parseStart));
            }
        }
    }
    std::printf("\n%-6s %8s %14s %14s %14s %8s\n", "text", "chunks", "median (us)", "worst (us)",
                "parse alone", "ratio");
    for (const Window& w : windows) {
        const double m = median(w.pipeline);
        const double p = median(w.parseAlone);
        const double worst =
            w.pipeline.empty() ? 0 : *std::max_element(w.pipeline.begin(), w.pipeline.end());
        std::printf("%-6s %8zu %14.1f %14.1f %14.1f %8.2f\n", w.name, w.pipeline.size(), m, worst,
                    p, p > 0 ? m / p : 0);
        state.counters[std::string("median_us_") + w.name] = m;
        state.counters[std::string("worst_us_") + w.name] = worst;
        state.counters[std::string("parse_us_") + w.name] = p;
        state.counters[std::string("ratio_") + w.name] = p > 0 ? m / p : 0;
    }
    std::printf("worst chunk of all %zu: %.1f us; chunks over 16 ms: %zu\n\n", kChunks,
                worstOverall, overFrame);
    state.counters["worst_us_all"] = worstOverall;
    state.counters["chunks_over_16ms"] = double(overFrame);
}
BENCHMARK(BM_StreamedReply)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
