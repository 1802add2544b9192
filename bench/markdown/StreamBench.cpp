// Long assistant replies streamed into a rendered view in 4-character chunks: the full
// text is handed over again after every chunk, as the chat does, and each chunk is
// parsed, converted, coloured (code) and laid out at the transcript's width. Five shapes:
// many mixed blocks, one long code block, one long table, one long list, one long
// paragraph.
//
// Two paths are timed in the same run: the incremental one MarkdownLayout takes by
// default (only what can still change is parsed and laid out again), and the old
// whole-text one (setIncremental(false): every chunk parses and lays out the whole last
// block again). The incremental path streams every chunk from the start, since its state
// is built as the text grows; the whole-text path is timed on the last 32 chunks before
// each size, the text up to them set at once (a 200 KB table takes about a second a chunk
// on that path, so a longer window would take many minutes).
//
// Goals: for the first four shapes the median chunk at 200 KB costs at most twice the
// median chunk at 2 KB, and no chunk of the whole stream takes 8 ms or more; for a 20 KB
// paragraph no chunk takes 8 ms or more.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ImageStore.h"
#include "MarkdownLayout.h"

using namespace parlote;

namespace {

constexpr size_t kChunk = 4;
constexpr size_t kWindow = 1024;
constexpr size_t kWholeWindow = 32 * kChunk;
constexpr qreal kTranscriptWidth = 640;  // a bubble's text width in a default window

std::string mixedReply(size_t bytes) {
    std::string out;
    for (int section = 1; out.size() < bytes; ++section) {
        out += "## Step " + std::to_string(section) + ": configuring the service\n\n";
        out +=
            "To make this work you first need to understand how the **configuration loader** "
            "reads its settings. Each value is looked up in the environment, then in "
            "`config.toml`, and finally falls back to a *sensible default*. See [the "
            "manual](https://example.com/manual) for details; values marked ~~deprecated~~ are "
            "ignored.\n\n";
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
            "for errors such as `permission denied`\n\n";
    }
    out.resize(bytes);
    return out;
}

std::string codeReply(size_t bytes) {
    std::string out = "Here is the module:\n\n```python\n";
    for (int i = 1; out.size() < bytes; ++i) {
        const std::string n = std::to_string(i);
        out += "def handler_" + n + "(request, retries=3):\n";
        out += "    \"\"\"Answers request " + n + " or raises after retries.\"\"\"\n";
        out += "    for attempt in range(retries):  # try again on time-outs\n";
        out += "        if request.ready():\n";
        out += "            return {'id': " + n + ", 'value': request.value * 2}\n";
        out += "    raise TimeoutError('no answer')\n\n";
    }
    out.resize(bytes);
    return out;
}

std::string tableReply(size_t bytes) {
    std::string out =
        "The measurements:\n\n| Run | Name | Time (ms) | Notes |\n|---:|:---|---:|:---|\n";
    for (int i = 1; out.size() < bytes; ++i) {
        const std::string n = std::to_string(i);
        out += "| " + n + " | `case_" + n + "` | " + std::to_string(i * 37 % 1000) +
               " | **stable** after warm-up, see run " + n + " |\n";
    }
    out.resize(bytes);
    return out;
}

std::string listReply(size_t bytes) {
    std::string out = "Things to check:\n\n";
    for (int i = 1; out.size() < bytes; ++i) {
        const std::string n = std::to_string(i);
        out += "- Item " + n + ": the **value** of `option_" + n +
               "` is read once and kept, see *notes*\n";
    }
    out.resize(bytes);
    return out;
}

std::string paragraphReply(size_t bytes) {
    std::string out;
    for (int i = 1; out.size() < bytes; ++i) {
        out += "The loader reads value " + std::to_string(i) +
               " from the **environment** first, then from `config.toml`, and falls back to a "
               "*sensible default* when neither has it. ";
    }
    out.resize(bytes);
    return out;
}

double micros(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

double worst(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

// Times one chunk: the text handed over, then the height asked (which lays out).
double timeChunk(MarkdownLayout& layout, std::string_view text) {
    const auto start = std::chrono::steady_clock::now();
    layout.setMarkdown(text);
    benchmark::DoNotOptimize(layout.height());
    return micros(std::chrono::steady_clock::now() - start);
}

struct Result {
    std::vector<double> small, large;  // chunks of the window before each size
    double worstAll = 0;
    size_t worstAt = 0;  // the length of the text after the worst chunk
};

// The incremental path: every chunk from the first.
Result streamIncremental(const std::string& reply, size_t smallSize, ImageStore& images) {
    Result r;
    MarkdownLayout layout(&images);
    layout.setWidth(kTranscriptWidth);
    for (size_t length = kChunk; length <= reply.size(); length += kChunk) {
        const double spent = timeChunk(layout, std::string_view(reply.data(), length));
        if (spent > r.worstAll) {
            r.worstAll = spent;
            r.worstAt = length;
        }
        if (length <= smallSize && length + kWindow > smallSize) r.small.push_back(spent);
        if (length + kWindow > reply.size()) r.large.push_back(spent);
    }
    return r;
}

// The whole-text path, on the window before `size` only.
std::vector<double> streamWhole(const std::string& reply, size_t size, ImageStore& images) {
    std::vector<double> times;
    MarkdownLayout layout(&images);
    layout.setIncremental(false);
    layout.setWidth(kTranscriptWidth);
    layout.setMarkdown(std::string_view(reply.data(), size - kWholeWindow));
    (void)layout.height();
    for (size_t length = size - kWholeWindow + kChunk; length <= size; length += kChunk)
        times.push_back(timeChunk(layout, std::string_view(reply.data(), length)));
    return times;
}

void report(benchmark::State& state, const char* shape, const std::string& reply,
            size_t smallSize) {
    ImageStore offline;
    const Result now = streamIncremental(reply, smallSize, offline);
    const std::vector<double> oldSmall = streamWhole(reply, smallSize, offline);
    const std::vector<double> oldLarge = streamWhole(reply, reply.size(), offline);
    const double mSmall = median(now.small), mLarge = median(now.large);
    std::printf("\n%s: %zu KB in %zu-byte chunks, %g px wide\n", shape, reply.size() / 1024, kChunk,
                kTranscriptWidth);
    std::printf("  %-12s %12s %12s %12s %12s\n", "path", "median 2KB", "median big", "big / 2KB",
                "worst chunk");
    std::printf("  %-12s %10.1fus %10.1fus %12.2f %10.1fus (whole stream, at byte %zu)\n",
                "incremental", mSmall, mLarge, mSmall > 0 ? mLarge / mSmall : 0, now.worstAll,
                now.worstAt);
    const double oSmall = median(oldSmall), oLarge = median(oldLarge);
    std::printf("  %-12s %10.1fus %10.1fus %12.2f %10.1fus (windows only)\n", "whole text", oSmall,
                oLarge, oSmall > 0 ? oLarge / oSmall : 0,
                std::max(worst(oldSmall), worst(oldLarge)));
    std::printf("  whole text / incremental at the big size: median %.1fx\n",
                mLarge > 0 ? oLarge / mLarge : 0);
    state.counters["median_small_us"] = mSmall;
    state.counters["median_big_us"] = mLarge;
    state.counters["ratio_big_small"] = mSmall > 0 ? mLarge / mSmall : 0;
    state.counters["worst_us"] = now.worstAll;
    state.counters["old_median_big_us"] = oLarge;
}

using Generator = std::function<std::string(size_t)>;

void BM_Stream(benchmark::State& state, const char* shape, Generator make, size_t bytes) {
    // STREAM_BENCH_KB shortens the long replies for a quick look (the goals are at 200 KB).
    const size_t kb = size_t(qEnvironmentVariableIntValue("STREAM_BENCH_KB"));
    if (kb > 2 && bytes > 20 * 1024) bytes = kb * 1024;
    const std::string reply = make(bytes);
    for (auto _ : state) report(state, shape, reply, 2 * 1024);
}

BENCHMARK_CAPTURE(BM_Stream, mixed, "mixed blocks", mixedReply, 200 * 1024)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stream, code, "one code block", codeReply, 200 * 1024)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stream, table, "one table", tableReply, 200 * 1024)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stream, list, "one list", listReply, 200 * 1024)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Stream, paragraph, "one paragraph", paragraphReply, 20 * 1024)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
