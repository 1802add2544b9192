// Cost of one streamed chunk on the transcript value, as the reply grows in a short and
// in a long conversation: the manager replaces the reply and hands a copy to the window.
// Baseline: the same step on a plain QList<ChatMessage>, whose copy-on-write copies
// the whole list. Prints the ratio long/short for both (flat means near 1).

#include <benchmark/benchmark.h>

#include <iostream>
#include <map>

#include "MessageList.h"

using namespace parlote;

namespace {

template <class List>
List transcript(int size) {
    List list;
    for (int i = 0; i < size; ++i)
        list.append(ChatMessage::make(QStringLiteral("message %1 with a few words").arg(i),
                                      i % 2 ? ChatMessageType::assistant : ChatMessageType::user));
    return list;
}

template <class List>
void chunkStep(benchmark::State& state) {
    List list = transcript<List>(int(state.range(0)));
    const ChatMessage reply =
        ChatMessage::make(QStringLiteral("growing reply"), ChatMessageType::assistant);
    List windowCopy = list;  // what the window holds from the previous chunk
    for (auto _ : state) {
        list.replace(list.size() - 1, reply);
        windowCopy = list;
        benchmark::DoNotOptimize(windowCopy);
    }
}

void messageList(benchmark::State& state) {
    chunkStep<MessageList>(state);
}
void plainList(benchmark::State& state) {
    chunkStep<QList<ChatMessage>>(state);
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (!run.error_occurred)
                ns_[{run.run_name.function_name, run.run_name.args}] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char* name : {"messageList", "plainList"}) {
            const double shortCost = ns_[{name, "100"}], longCost = ns_[{name, "10000"}];
            if (shortCost > 0)
                std::cout << name << ": per-chunk cost at 10,000 messages / at 100 messages = "
                          << longCost / shortCost << '\n';
        }
    }

private:
    std::map<std::pair<std::string, std::string>, double> ns_;
};

}  // namespace

BENCHMARK(messageList)->Arg(100)->Arg(10000);
BENCHMARK(plainList)->Arg(100)->Arg(10000);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return 0;
}
