// A server that floods the window: N one-word chunks sent as fast as loopback allows
// (64 records to a write), streamed into the real window (MainView with its transcript)
// over a fake Ollama server running in a process of its own (its memory is not ours). Measures the
// peak memory of the process and the longest time the interface thread went without running its
// event loop (a 2 ms timer that notes the largest gap between its ticks: any key press waits at
// most that long), and how long quitting takes while such a reply streams. Each size runs in a
// process of its own; the baseline is a 100-chunk reply at a model's pace, in the same run.
//
//   flood_bench [N ...]          (default 10000 100000 1000000)
//   flood_bench --child N PACE   (one measurement; prints one line)
//   PARLOTE_FLOOD_TRACE=1 flood_bench --child 1000000 flood   (also lists every stall)

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchServices.h"
#include "MainView.h"
#include "TranscriptView.h"

using namespace parlote;
using namespace std::chrono_literals;

namespace {

/// The process's peak resident memory so far, in MiB.
double peakMemoryMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

struct Result {
    double peakMiB = 0;
    double longestStallMs = 0;
    double quitMs = 0;
    double streamSeconds = 0;
    bool complete = false;
};

Result measure(std::size_t chunks, bool modelPace) {
    QTemporaryDir dir;
    QProcess server;
    server.start(QStringLiteral(FAKE_OLLAMA_EXECUTABLE),
                 {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--flood"),
                  QString::number(chunks), QStringLiteral("--pace"),
                  modelPace ? QStringLiteral("20") : QStringLiteral("0")});
    if (!server.waitForReadyRead(10'000)) std::exit(3);
    const QByteArray banner = server.readAllStandardOutput().trimmed();
    const QByteArray url = banner.mid(banner.lastIndexOf(' ') + 1);  // "... on http://host:port"

    Result result;
    {
        bench::BenchServices parts(dir.path(), url.toStdString());
        MainView view(parts.services());
        view.resize(1000, 700);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view)) std::exit(2);
        ZoruveVede& model = view.viewModel();
        model.setSelectedModel(QStringLiteral("llama3.2:latest"));
        QTest::qWait(200);

        // The stall probe: the largest gap between two ticks of a 2 ms timer.
        QElapsedTimer clock;
        QElapsedTimer sinceTick;
        // PARLOTE_FLOOD_TRACE=1: every gap over 50 ms on standard error, with the time
        // and the reply's length then, to find what stalls.
        const bool trace = qEnvironmentVariableIsSet("PARLOTE_FLOOD_TRACE");
        qint64 longestGap = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(2);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 gap = sinceTick.nsecsElapsed();
            if (trace && gap > 50'000'000)
                std::fprintf(stderr, "gap %.0f ms at %.0f ms, reply %lld characters%s\n",
                             double(gap) / 1e6, double(clock.nsecsElapsed()) / 1e6,
                             model.messages().size() == 2
                                 ? static_cast<long long>(model.messages()[1].content().size())
                                 : -1LL,
                             model.inSendingMessage() ? "" : ", ended");
            longestGap = std::max(longestGap, gap);
            sinceTick.restart();
        });
        const qsizetype expected = qsizetype(chunks) * 5;
        clock.start();
        sinceTick.start();
        probe.start();
        model.setInputText(QStringLiteral("Talk a lot"));
        model.sendMessage();
        while (clock.elapsed() < 600'000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            if (model.messages().size() == 2 && !model.inSendingMessage() &&
                model.messages()[1].content().size() == expected)
                break;
        }
        probe.stop();
        result.streamSeconds = double(clock.elapsed()) / 1000;
        result.complete =
            model.messages().size() == 2 && model.messages()[1].content().size() == expected;
        result.longestStallMs = double(longestGap) / 1e6;

        // Quitting in the middle of a second such reply.
        model.setInputText(QStringLiteral("Again"));
        model.sendMessage();
        QTest::qWait(modelPace ? 300 : 150);
        QElapsedTimer quit;
        quit.start();
        view.close();
        model.applicationWillQuit();
        result.quitMs = double(quit.nsecsElapsed()) / 1e6;
    }
    result.peakMiB = peakMemoryMiB();
    server.terminate();
    server.waitForFinished();
    return result;
}

Result runChild(const QString& self, std::size_t chunks, bool modelPace) {
    QProcess child;
    child.start(self, {QStringLiteral("--child"), QString::number(chunks),
                       modelPace ? QStringLiteral("pace") : QStringLiteral("flood")});
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    Result r;
    if (fields.size() != 5) return r;
    r.peakMiB = fields[0].toDouble();
    r.longestStallMs = fields[1].toDouble();
    r.quitMs = fields[2].toDouble();
    r.streamSeconds = fields[3].toDouble();
    r.complete = fields[4] == "1";
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QStringLiteral("--child")) {
        const Result r = measure(args[2].toULongLong(), args[3] == QStringLiteral("pace"));
        std::printf("%.1f %.2f %.1f %.2f %d\n", r.peakMiB, r.longestStallMs, r.quitMs,
                    r.streamSeconds, r.complete ? 1 : 0);
        return 0;
    }
    std::vector<std::size_t> sizes;
    for (int i = 1; i < args.size(); ++i) sizes.push_back(args[i].toULongLong());
    if (sizes.empty()) sizes = {10'000, 100'000, 1'000'000};

    const Result base = runChild(app.applicationFilePath(), 100, true);
    std::printf("streamed reply into the window; baseline: 100 chunks at a model's pace (20 ms)\n");
    std::printf("%10s %10s %8s %12s %8s %9s %10s\n", "chunks", "peak MiB", "ratio", "stall ms",
                "ratio", "quit ms", "stream s");
    std::printf("%10s %10.1f %8.2f %12.2f %8.2f %9.1f %10.2f\n", "baseline", base.peakMiB, 1.0,
                base.longestStallMs, 1.0, base.quitMs, base.streamSeconds);
    int failures = base.complete ? 0 : 1;
    for (std::size_t n : sizes) {
        const Result r = runChild(app.applicationFilePath(), n, false);
        std::printf("%10zu %10.1f %8.2f %12.2f %8.2f %9.1f %10.2f%s\n", n, r.peakMiB,
                    r.peakMiB / base.peakMiB, r.longestStallMs,
                    r.longestStallMs / base.longestStallMs, r.quitMs, r.streamSeconds,
                    r.complete ? "" : "  (reply incomplete)");
        if (!r.complete) ++failures;
    }
    std::printf("goals: peak under 300 MiB, no stall over 100 ms, quit within 1000 ms\n");
    return failures ? 1 : 0;
}
