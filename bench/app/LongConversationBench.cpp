// Time from selecting a conversation in the sidebar to the painted transcript with its
// last message in view: a conversation of 10,000 messages against one of 10 (the
// baseline, in the same run). The conversation file is read, the transcript built and
// painted; the window is the real one, with its model over a store in a temporary
// folder and a fake Ollama server. Prints medians and the ratio.
//
//   long_conversation_bench [ROUNDS]     (default 9; QT_QPA_PLATFORM offscreen if unset)

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchServices.h"
#include "ChatStore.h"
#include "ConversationListView.h"
#include "FakeOllama.h"
#include "MainView.h"
#include "TranscriptView.h"

using namespace parlote;
using namespace std::chrono_literals;

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Messages of 40 to 800 characters with some Markdown, alternating user and model.
QList<ChatMessage> transcript(int count) {
    QRandomGenerator random(7);
    QList<ChatMessage> list;
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-3);
    for (int i = 0; i < count; ++i) {
        QString text = QStringLiteral("Message %1: ").arg(i);
        const int words = 6 + int(random.bounded(130));
        for (int w = 0; w < words; ++w)
            text += (w % 17 == 5) ? QStringLiteral("**bold** ") : QStringLiteral("word ");
        list.append(ChatMessage(QUuid::createUuid(), text,
                                i % 2 ? ChatMessageType::assistant : ChatMessageType::user,
                                start.addSecs(i)));
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 9;

    QTemporaryDir dir;
    testing::FakeOllama server;
    server.setModels({testing::ModelInfo::make("llama3.2:latest")});
    bench::BenchServices parts(dir.path(), server.baseUrl());
    ChatStore& store = parts.store;
    const Conversation small(SidebarID::conversation(QUuid::createUuid()), QStringLiteral("Short"),
                             {});
    const Conversation large(SidebarID::conversation(QUuid::createUuid()), QStringLiteral("Long"),
                             {});
    store.saveTOC({small, large});
    store.writeConversation(small.id().uuid(), transcript(10));
    store.writeConversation(large.id().uuid(), transcript(10'000));

    int failures = 0;
    std::vector<double> shortTimes;
    std::vector<double> longTimes;
    {
        MainView view(parts.services());
        view.resize(1000, 700);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view)) return 1;
        QTest::qWait(200);
        TranscriptView* t = view.transcript();

        // Selects `entry` as a click in the sidebar would and waits for the painted end.
        auto open = [&](const Conversation& entry, int expected) {
            view.sidebar()->setSelectedConversation(SidebarID::newConversation());
            QApplication::processEvents();
            parts.pool.remove(entry.id().uuid());  // every round reads the file again
            QElapsedTimer clock;
            clock.start();
            view.sidebar()->setSelectedConversation(entry.id());
            while (t->messages().size() != expected) QApplication::processEvents();
            t->viewport()->repaint();
            const double ms = double(clock.nsecsElapsed()) / 1e6;
            const QRect last = t->rowRect(expected - 1);
            if (last.bottom() > t->viewport()->height() || last.bottom() < 0) ++failures;
            return ms;
        };
        open(small, 10);
        open(large, 10'000);
        for (int i = 0; i < rounds; ++i) {
            shortTimes.push_back(open(small, 10));
            longTimes.push_back(open(large, 10'000));
        }
        view.viewModel().applicationWillQuit();
    }
    if (failures) std::printf("the last message was not in view %d times\n", failures);
    const double base = median(shortTimes);
    const double ours = median(longTimes);
    std::printf("select a conversation until its last message is painted, median of %d\n", rounds);
    std::printf("  10 messages:       %7.2f ms\n", base);
    std::printf("  10,000 messages:   %7.2f ms   (goal: under 200 ms)\n", ours);
    std::printf("  ratio:             %7.2f\n", ours / base);
    return failures ? 1 : 0;
}
