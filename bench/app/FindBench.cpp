// Find in a conversation of 10,000 messages (TranscriptFind.h): how long the window is held
// up, and how long until the count is known,
//  - the first time a word is looked for (every message's plain text is made then);
//  - as a word is typed on, each letter narrowing the last search;
//  - for a word typed afresh once the texts are known;
// and what a streamed chunk costs with Find open against the same chunk with it closed.
// The transcript is the real view, shown (offscreen unless QT_QPA_PLATFORM says otherwise).
//
//   find_bench [MESSAGES]     (default 10000)
//
// Goals: no step of a search holds the window up for more than a frame (16 ms); a typed
// letter that narrows the search is answered within a frame; with Find open, a streamed
// chunk costs at most a millisecond more on average than with it closed.

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "ImageStore.h"
#include "TranscriptView.h"

using namespace parlote;

namespace {

// Messages of 40 to 2,000 characters with some Markdown (lists, code, emphasis), alternating
// user and model.
MessageList transcript(int count) {
    QRandomGenerator random(11);
    static const QStringList words{"loader",  "settings", "value",   "environment", "config",
                                   "default", "manual",   "service", "thread",      "window"};
    MessageList list;
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-3);
    for (int i = 0; i < count; ++i) {
        QString text = QStringLiteral("Message %1: ").arg(i);
        const int length = 40 + int(random.bounded(i % 2 ? 2000 : 300));
        while (text.size() < length) {
            const QString& word = words[int(random.bounded(words.size()))];
            switch (random.bounded(12)) {
                case 0:
                    text += QStringLiteral("**%1** ").arg(word);
                    break;
                case 1:
                    text += QStringLiteral("\n\n- the `%1` item\n- another one\n\n").arg(word);
                    break;
                case 2:
                    text += QStringLiteral("\n\n```python\nprint(%1)\n```\n\n").arg(word);
                    break;
                default:
                    text += word + u' ';
            }
        }
        list.append(ChatMessage(QUuid::createUuid(), text,
                                i % 2 ? ChatMessageType::assistant : ChatMessageType::user,
                                start.addSecs(i)));
    }
    return list;
}

struct Timing {
    double firstStep = 0;  // ms in setFindText()
    double longest = 0;    // ms, the longest turn of the event loop until done
    double total = 0;      // ms until the count is known
};

// Looks for `text` and runs the event loop until the search is done.
Timing search(TranscriptView& view, const QString& text) {
    Timing t;
    QElapsedTimer clock;
    clock.start();
    view.setFindText(text);
    t.firstStep = t.longest = clock.nsecsElapsed() / 1e6;
    while (view.isFindSearching()) {
        QElapsedTimer turn;
        turn.start();
        QCoreApplication::processEvents();
        t.longest = std::max(t.longest, turn.nsecsElapsed() / 1e6);
    }
    t.total = clock.nsecsElapsed() / 1e6;
    return t;
}

void print(const char* what, const Timing& t, qsizetype matches) {
    std::printf("%-34s first step %7.2f ms, longest turn %7.2f ms, count after %8.2f ms (%lld)\n",
                what, t.firstStep, t.longest, t.total, static_cast<long long>(matches));
}

// The mean cost in ms of a 4-character chunk of a 20,000-character reply streamed at the
// end of `base`, painting included, the event loop run after each chunk.
double streamChunks(TranscriptView& view, const MessageList& base) {
    QString reply;
    const QString piece = QStringLiteral("The loader reads its **settings** from the config; ");
    while (reply.size() < 20'000) reply += piece;
    MessageList list = base;
    const ChatMessage placeholder(QUuid::createUuid(), QString(), ChatMessageType::assistant,
                                  QDateTime::currentDateTimeUtc());
    list.append(placeholder);
    view.setMessages(list);
    view.jumpToEnd(false);  // the reply in view, as the user follows it
    QElapsedTimer clock;
    clock.start();
    int chunks = 0;
    for (qsizetype end = 4; end <= reply.size(); end += 4, ++chunks) {
        list.replace(list.size() - 1, placeholder.withContent(reply.left(end)));
        view.setMessages(list);
        view.scrollToLastMessage(false);
        QCoreApplication::processEvents();
        if (chunks % 16 == 0) view.viewport()->repaint();
    }
    return clock.nsecsElapsed() / 1e6 / chunks;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, atoi(argv[1])) : 10'000;

    ImageStore images;
    QWidget window;
    auto* view = new TranscriptView(&window, &images);
    (new QVBoxLayout(&window))->addWidget(view);
    window.resize(900, 700);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    const MessageList list = transcript(count);
    view->openTranscript(list);
    QTest::qWait(50);
    qint64 characters = 0;
    for (const ChatMessage& message : list) characters += message.content().size();
    std::printf("%d messages, %.1f MB of text\n", count, characters * 2 / 1e6);

    const Timing first = search(*view, QStringLiteral("c"));
    print("first search (\"c\", texts made)", first, view->findMatchCount());
    const char* const typed[] = {"co", "con", "conf", "confi", "config"};
    Timing worstTyped;
    for (const char* text : typed) {
        const Timing t = search(*view, QString::fromLatin1(text));
        print(qPrintable(QStringLiteral("typed on: \"%1\"").arg(QLatin1String(text))), t,
              view->findMatchCount());
        worstTyped.firstStep = std::max(worstTyped.firstStep, t.firstStep);
        worstTyped.longest = std::max(worstTyped.longest, t.longest);
        worstTyped.total = std::max(worstTyped.total, t.total);
    }
    const Timing fresh = search(*view, QStringLiteral("e"));
    print("afresh, texts known (\"e\")", fresh, view->findMatchCount());
    const Timing word = search(*view, QStringLiteral("manual"));
    print("afresh, texts known (\"manual\")", word, view->findMatchCount());

    // Closed, open, closed again (the first stream also warms up what the view keeps).
    view->setFindText(QString());
    double closed = streamChunks(*view, list);
    view->openTranscript(list);
    search(*view, QStringLiteral("settings"));
    const double open = streamChunks(*view, list);
    const qsizetype matches = view->findMatchCount();
    view->setFindText(QString());
    view->openTranscript(list);
    closed = std::min(closed, streamChunks(*view, list));
    std::printf("streamed chunk: %.3f ms with Find closed, %.3f ms with Find open (%lld matches)\n",
                closed, open, static_cast<long long>(matches));

    const double longest = std::max({first.longest, worstTyped.longest, fresh.longest});
    int failures = 0;
    if (longest > 16) {
        std::printf("FAIL: a step held the window up for %.2f ms\n", longest);
        ++failures;
    }
    if (worstTyped.total > 16) {
        std::printf("FAIL: a narrowing letter took %.2f ms to answer\n", worstTyped.total);
        ++failures;
    }
    if (open - closed > 1) {
        std::printf("FAIL: Find open adds %.3f ms a chunk\n", open - closed);
        ++failures;
    }
    if (failures == 0) std::printf("All goals met.\n");
    return failures == 0 ? 0 : 1;
}
