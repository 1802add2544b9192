// Speed of the search index on a large store: 5,000 conversations holding about 200 MB
// of message text, generated in a temporary folder (PARLOTE_SEARCH_BENCH_MB sets another
// size; PARLOTE_SEARCH_BENCH_CONVERSATIONS another count; PARLOTE_SEARCH_BENCH_KEEP keeps
// the folder for a look at the index).
//
//  - Indexing the whole store from scratch, against a baseline over the same files: only
//    reading and decoding every conversation through the store, which any index must do.
//  - The start-up check of an index that is up to date (one file status per conversation).
//  - The time from a query to its results on the interface thread, through the service,
//    for one word (typed, so matched as a prefix), three words in any order, and a quoted
//    phrase of three words (one of them not among the 100 most frequent): median, 95th
//    percentile and worst of each, against a goal of 30 ms. Two worst cases follow: a word
//    found in nearly every message, and a phrase of the most frequent words alone, whose
//    every use the index must check word by word.
//
// The text is made of words drawn from a vocabulary of 60,000 made-up words (stems with
// the endings of word families, some letters accented) by a Zipf law, as in natural
// language: a few short words are everywhere, most words are rare. Query words come from
// the middle of that range (neither "the" nor typos); the "common word" case shows the
// worst case of a word found in nearly every message. Three words and phrases are taken
// from the generated messages, so that they find something.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ChatStore.h"
#include "SearchService.h"

using namespace parlote;

namespace {

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

const int kMegabytes = envInt("PARLOTE_SEARCH_BENCH_MB", 200);
const int kConversations = envInt("PARLOTE_SEARCH_BENCH_CONVERSATIONS", 5000);
constexpr int kVocabulary = 60'000;
constexpr int kQueriesPerShape = 200;

struct Corpus {
    std::vector<QString> words;
    std::vector<double> cumulative;  // Zipf weights, summed
    QHash<QString, int> ranks;       // 0: the most frequent word
    std::mt19937 rng{7};

    Corpus() {
        // Stems of alternating consonants and vowels (a few accented), two to eight letters,
        // with the endings of word families: "connect", "connected", "connection".
        static const char* const consonants[] = {"b", "c", "d", "f", "g",  "h", "j",  "k",
                                                 "l", "m", "n", "p", "qu", "r", "s",  "t",
                                                 "v", "w", "x", "z", "ç",  "ñ", "st", "tr"};
        static const char* const vowels[] = {"a", "e", "i", "o", "u", "y", "é", "è", "ö", "ü"};
        static const char* const endings[] = {"",   "",    "",   "s",    "ed",   "ing",
                                              "er", "ion", "ly", "ness", "ment", "able"};
        auto pick = [this](const auto& list) {
            return QString::fromUtf8(
                list[std::uniform_int_distribution<std::size_t>(0, std::size(list) - 1)(rng)]);
        };
        std::uniform_int_distribution<int> stemLength(2, 8);
        std::map<QString, bool> seen;
        while (int(words.size()) < kVocabulary) {
            QString stem;
            const int length = stemLength(rng);
            for (int n = 0; stem.size() < length; ++n)
                stem += n % 2 ? pick(vowels) : pick(consonants);
            const QString word = stem + pick(endings);
            if (seen.emplace(word, true).second) words.push_back(word);
        }
        // Short words first, as the most frequent words of a language are short.
        std::stable_sort(words.begin(), words.end(),
                         [](const QString& a, const QString& b) { return a.size() < b.size(); });
        for (std::size_t rank = 0; rank < words.size(); ++rank)
            ranks.insert(words[rank], int(rank));
        double sum = 0;
        for (int rank = 1; rank <= kVocabulary; ++rank) {
            sum += 1.0 / std::pow(rank, 1.05);
            cumulative.push_back(sum);
        }
    }

    const QString& zipfWord() {
        const double x = std::uniform_real_distribution<double>(0, cumulative.back())(rng);
        return words[std::size_t(std::lower_bound(cumulative.begin(), cumulative.end(), x) -
                                 cumulative.begin())];
    }

    QString text(int bytes) {
        QString out;
        out.reserve(bytes + 16);
        int sentence = 0;
        while (out.size() < bytes) {
            out += zipfWord();
            out += (++sentence % 14 == 0) ? QStringLiteral(".\n") : QStringLiteral(" ");
        }
        return out;
    }
};

struct Store {
    QTemporaryDir dir;
    ChatStore store{dir.filePath(QStringLiteral("data"))};
    QList<Conversation> toc;
    std::vector<QString> sampleMessages;  // one message per conversation, for queries
    qint64 textBytes = 0;
    Corpus corpus;

    Store() {
        if (qEnvironmentVariableIsSet("PARLOTE_SEARCH_BENCH_KEEP")) {
            dir.setAutoRemove(false);
            std::cout << "Keeping the store and the index in " << dir.path().toStdString() << "\n";
        }
        const qint64 target = qint64(kMegabytes) * 1'000'000;
        const qint64 perConversation = target / kConversations;
        std::uniform_int_distribution<int> messageBytes(200, 4000);
        const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-730);
        QElapsedTimer timer;
        timer.start();
        for (int c = 0; c < kConversations; ++c) {
            const QUuid id = QUuid::createUuid();
            QList<ChatMessage> messages;
            qint64 bytes = 0;
            QDateTime date = start.addSecs(qint64(c) * 730 * 86400 / kConversations);
            while (bytes < perConversation) {
                const QString text = corpus.text(messageBytes(corpus.rng));
                bytes += text.size();
                date = date.addSecs(30);
                messages.append(ChatMessage(
                    QUuid::createUuid(), text,
                    messages.size() % 2 ? ChatMessageType::assistant : ChatMessageType::user,
                    date));
            }
            textBytes += bytes;
            sampleMessages.push_back(messages.first().content());
            if (!store.writeConversation(id, messages)) std::abort();
            toc.append(Conversation(SidebarID::conversation(id), corpus.text(40), {}));
        }
        store.saveTOC(toc);
        std::cout << "Generated " << kConversations << " conversations, " << textBytes / 1'000'000
                  << " MB of text, in " << timer.elapsed() / 1000.0 << " s\n";
    }
};

Store& data() {
    static Store instance;
    return instance;
}

QString indexPath() {
    return data().dir.filePath(QStringLiteral("cache/search.sqlite"));
}

/// Runs the event loop until `done` holds.
template <class F>
void runUntil(F done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void waitIdle(SearchService& service) {
    bool idle = false;
    service.whenIdle([&] { idle = true; });
    runUntil([&] { return idle; });
}

void BM_Baseline_ReadEveryConversation(benchmark::State& state) {
    for (auto _ : state) {
        qint64 messages = 0;
        for (const Conversation& c : data().toc)
            messages += data().store.readConversation(c.id().uuid()).size();
        benchmark::DoNotOptimize(messages);
    }
}

void BM_IndexEveryConversation(benchmark::State& state) {
    for (auto _ : state) {
        SearchIndex::discard(indexPath());
        SearchService service(indexPath(), data().store);
        service.rebuildIfNeeded(data().toc);
        waitIdle(service);
    }
    state.counters["textMB"] = double(data().textBytes) / 1e6;
    state.counters["indexMB"] = double(QFileInfo(indexPath()).size()) / 1e6;
}

void BM_StartUpCheckOfAnIndexUpToDate(benchmark::State& state) {
    for (auto _ : state) {
        SearchService service(indexPath(), data().store);
        service.rebuildIfNeeded(data().toc);
        waitIdle(service);
    }
}

/// The words of one of the sample messages.
QStringList sampleWords(std::mt19937& rng) {
    const auto& samples = data().sampleMessages;
    const QString& text =
        samples[std::uniform_int_distribution<std::size_t>(0, samples.size() - 1)(rng)];
    QStringList words =
        text.split(QRegularExpression(QStringLiteral("[ .\n]+")), Qt::SkipEmptyParts);
    return words;
}

std::vector<QString> queries(const std::string& shape) {
    std::mt19937 rng(11);
    std::vector<QString> list;
    const auto& vocabulary = data().corpus.words;
    while (int(list.size()) < kQueriesPerShape) {
        if (shape == "one word") {
            list.push_back(
                vocabulary[std::uniform_int_distribution<std::size_t>(100, 20'000)(rng)]);
        } else if (shape == "common word") {
            list.push_back(vocabulary[std::uniform_int_distribution<std::size_t>(0, 10)(rng)]);
        } else {
            const QStringList words = sampleWords(rng);
            if (words.size() < 10) continue;
            const auto at = std::uniform_int_distribution<qsizetype>(0, words.size() - 4)(rng);
            const auto& ranks = data().corpus.ranks;
            const int rarest = std::max(
                {ranks.value(words[at]), ranks.value(words[at + 1]), ranks.value(words[at + 2])});
            // A phrase someone remembers holds a word of its own; one made of the most
            // frequent words alone is the worst case.
            if (shape == "phrase" && rarest < 100) continue;
            if (shape == "common phrase" && rarest >= 100) continue;
            if (shape == "three words")
                list.push_back(words[at + 2] + QLatin1Char(' ') + words[at] + QLatin1Char(' ') +
                               words[at + 1]);
            else
                list.push_back(QLatin1Char('"') + words[at] + QLatin1Char(' ') + words[at + 1] +
                               QLatin1Char(' ') + words[at + 2] + QLatin1Char('"'));
        }
    }
    return list;
}

std::map<std::string, QString>& slowestQuery() {
    static std::map<std::string, QString> queries;
    return queries;
}

void BM_Query(benchmark::State& state, std::string shape) {
    const std::vector<QString> list = queries(shape);
    SearchService service(indexPath(), data().store);
    service.rebuildIfNeeded(data().toc);
    waitIdle(service);
    // The first query after opening reads the index's structure from disk: once, at
    // start-up, not at each keystroke.
    bool warm = false;
    service.query(list.front(), 50, [&](const SearchResults&) { warm = true; });
    runUntil([&] { return warm; });
    std::vector<double> ms;
    double hits = 0;
    std::pair<double, QString> slowest{0, {}};
    for (auto _ : state) {
        for (const QString& text : list) {
            std::optional<int> found;
            QElapsedTimer timer;
            timer.start();
            service.query(text, 50,
                          [&](const SearchResults& results) { found = int(results.hits.size()); });
            runUntil([&] { return found.has_value(); });
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            slowest = std::max(slowest, std::pair(ms.back(), text));
            hits += *found;
        }
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) {
        return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))];
    };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p95_ms"] = at(0.95);
    state.counters["max_ms"] = ms.back();
    state.counters["hits"] = hits / double(ms.size());
    slowestQuery()[shape] = slowest.second;
}

class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            seconds[run.run_name.function_name] = run.GetAdjustedRealTime() / 1000.0;
            for (const auto& [name, counter] : run.counters)
                counters[run.run_name.function_name][name] = counter.value;
        }
    }
    std::map<std::string, double> seconds;
    std::map<std::string, std::map<std::string, double>> counters;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    data();  // the store is made outside the timed runs

    benchmark::RegisterBenchmark("BM_Baseline_ReadEveryConversation",
                                 BM_Baseline_ReadEveryConversation)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_IndexEveryConversation", BM_IndexEveryConversation)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_StartUpCheckOfAnIndexUpToDate",
                                 BM_StartUpCheckOfAnIndexUpToDate)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    const char* const shapes[] = {"one word", "three words", "phrase", "common word",
                                  "common phrase"};
    for (const char* shape : shapes)
        benchmark::RegisterBenchmark((std::string("BM_Query/") + shape).c_str(), BM_Query,
                                     std::string(shape))
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();

    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::cout << std::fixed << std::setprecision(2);
    const auto index = reporter.seconds.find("BM_IndexEveryConversation");
    const auto base = reporter.seconds.find("BM_Baseline_ReadEveryConversation");
    if (index != reporter.seconds.end() && base != reporter.seconds.end())
        std::cout << "\nIndexing " << double(data().textBytes) / 1e6 << " MB: " << index->second
                  << " s against " << base->second << " s to read every conversation = x"
                  << index->second / base->second << "\n";
    std::cout << "Query to results (goal: 95th percentile under 30 ms):\n";
    for (const char* shape : shapes) {
        const auto found = reporter.counters.find(std::string("BM_Query/") + shape);
        if (found == reporter.counters.end()) continue;
        auto& c = found->second;
        std::cout << "  " << std::left << std::setw(12) << shape << std::right << "  p50 "
                  << std::setw(7) << c["p50_ms"] << " ms  p95 " << std::setw(7) << c["p95_ms"]
                  << " ms  max " << std::setw(7) << c["max_ms"] << " ms  (" << c["hits"]
                  << " hits on average; slowest: " << slowestQuery()[shape].toStdString() << ")\n";
    }
    return 0;
}
