// parlote-screenshot-driver: runs Parlote's main window against the standalone fake
// Ollama server and saves one PNG per scene of a short session:
//
//   01-welcome       first launch while Ollama is not running: welcome sheet over the banner
//   02-conversation  a streamed Markdown reply with a list, a code block and a table
//   03-streaming     the same kind of reply while it is still arriving
//   04-model-details the model manager on a model's details, with what it can do and its
//                    place in memory
//   05-model-pull    the model manager's add pane while a model downloads
//   06-about         the About window
//   07-banner        the banner after the server stopped
//   08-save-failed   the bar shown when a save fails (the disk is made "full" for it)
//   09-long-message  a 200,000-character reply: its last part, the notice and "Show all"
//   10-thinking      a reasoning model while it thinks
//   11-thoughts-folded / 12-thoughts-unfolded   its finished thoughts, folded and open
//   13-versions      the reply asked for again: the "‹ 2/2 ›" switcher
//   14-editing       the last question being edited in place
//   15-shortcuts     the keyboard shortcuts window
//   16-min-width     the window at its minimum width: the sidebar collapsed by itself
//   18-download      a model download going on after the model manager closed, seen in
//                    the chat header
//   18-keyboard-focus the keyboard on a message of the transcript: the focus ring
//   19-two-line-message  a question of two lines, kept as typed in the transcript, and the
//                    sidebar's two-line previews (Markdown left out, a third line cut)
//   20-download-sheet    the model manager during a slow download: the model's name, the
//                    share, the bytes, the speed and Cancel
//   40-selection     text selected with the mouse across a question and its reply
//   42-find-bar      Ctrl+F and "blue": the find bar under the transcript, every match
//                    highlighted and the current one stronger
//   47-conversation-settings  the conversation's settings: a system prompt, a temperature
//                    and a context length, the model's maximum beside it
//   48-system-prompt-card     the system prompt's card over the transcript
//   49-preferences   Preferences: the settings new conversations start with
//   30-code-python   the first reply's Python block: coloured, under a header with its
//                    language and Copy button
//   31-code-cpp      the C++ block of the second reply, the same way
//   32-table-streaming   a long table while it streams, in a transcript of its own
//   41-search        Ctrl+K and two words: what every conversation holds of them, in
//                    the sidebar in place of the list
//   43-undo-bar      a conversation just deleted: "Conversation deleted" with Undo
//   44-pinned        two conversations pinned, in their group above the others
//   45-pdf-page      the first conversation exported as a PDF: its first page (pdftoppm;
//                    light palette only, as a PDF is printed on white whatever the desktop's)
//   46-import-report the report of an import: one conversation in, two files skipped and why
//   50-model-menu    the model menu: capability marks and context lengths, the loaded models
//                    with their "Unload" items, the embedding model that cannot be chosen
//   51-image-attached  a question sent with a picture, its thumbnail in the bubble, and a
//                    second picture attached over the input box with the note that the
//                    model cannot see pictures
//   52-reply-figures a reply's meta line with its speed ("NN tok/s"), hovered: the tooltip
//                    with the tokens written and read, the times and the model's load time
//
//   parlote-screenshot-driver --server PATH --port N --out DIR [--dark]
//
// With --offline it takes one scene instead, without starting the server (nothing listens
// on the port):
//
//   17-offline       a start while Ollama is not running: the banner over a stored
//                    conversation that reads as usual
//
// Expects a display (the `screenshots` script starts Xvfb), a throw-away XDG_DATA_HOME
// and XDG_CONFIG_HOME, and OLLAMA_HOST pointing at the port.

#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QThread>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>

#include "AboutWindow.h"
#include "ChatStore.h"
#include "ConversationCommands.h"
#include "ConversationListView.h"
#include "ConversationSearch.h"
#include "ConversationSettingsForm.h"
#include "CustomTextView.h"
#include "DownloadIndicator.h"
#include "ExchangeCommands.h"
#include "FindBar.h"
#include "MainView.h"
#include "MainWindow.h"
#include "ModelManagerView.h"
#include "ModelMenu.h"
#include "ModelServiceBridge.h"
#include "Shell.h"
#include "StorageBar.h"
#include "SystemPromptCard.h"
#include "TestPalettes.h"
#include "TranscriptView.h"
#include "UndoBar.h"
#include "WelcomeView.h"

using namespace parlote;

namespace {

QString outDir;

void pump(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool waitFor(const std::function<bool()>& condition, int ms = 15000) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "screenshots: %s\n", what);
    std::exit(1);
}

void shoot(const QString& name) {
    pump(250);  // let the last frames and the scroll animation settle
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    const QString path = QDir(outDir).filePath(name + QStringLiteral(".png"));
    require(shot.save(path), "cannot write a PNG");
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
}

// Scrolls the transcript so that the first code block of the message of `row` shows near
// the top, then takes the scene `name`.
void shootCodeBlock(TranscriptView* transcript, int row, const QString& name) {
    transcript->setCurrentRow(row);
    pump(100);
    const std::vector<QRect> buttons = transcript->codeCopyButtonRects(row);
    require(!buttons.empty(), "the reply has no code block");
    transcript->setScrollPosition(transcript->scrollPosition() + buttons.front().top() - 60);
    shoot(name);
    transcript->scrollToLastMessage(false);
}

// A reply holding a long table, streamed into a transcript in a window of its own over the
// main one, and shot while it is still arriving.
void shootStreamingTable(QWidget& over, const QString& name) {
    QWidget window;
    window.setWindowTitle(QStringLiteral("Parlote"));
    auto* transcript = new TranscriptView(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(transcript);
    window.setGeometry(over.geometry());
    window.show();
    QString table = QStringLiteral(
        "Here are the timings of every run:\n\n| Run | Case | Time (ms) | Notes |\n"
        "|---:|:-----|---:|:------|\n");
    for (int i = 1; i <= 400; ++i) {
        table += QStringLiteral("| %1 | `case_%1` | %2 | %3 |\n")
                     .arg(i)
                     .arg(i * 37 % 1000)
                     .arg(i % 3 == 0 ? QStringLiteral("**slow** after warm-up")
                                     : QStringLiteral("stable"));
    }
    const QDateTime now = QDateTime::currentDateTime();
    MessageList messages;
    messages.append(ChatMessage(QUuid::createUuid(), QStringLiteral("Show me every run's time."),
                                ChatMessageType::user, now));
    const QUuid id = QUuid::createUuid();
    transcript->setReplyInProgress(true);
    // Streamed in small chunks, as a model sends it, up to the middle of a row.
    for (qsizetype end = 8; end < table.size() * 2 / 3; end += 24) {
        MessageList shown = messages;
        shown.append(ChatMessage(id, table.left(end), ChatMessageType::assistant, now));
        transcript->setMessages(shown);
        transcript->scrollToLastMessage(false);
        QCoreApplication::processEvents();
    }
    shoot(name);
}

// 17. A start while Ollama is not running, over a conversation kept from before.
int offlineStart(const QString& suffix) {
    QSettings settings(QStringLiteral("Parlote"), QStringLiteral("Parlote"));
    settings.setValue(ZoruveVede::hasLaunchedKey, true);
    settings.setValue(ZoruveVede::selectedModelKey, QStringLiteral("llama3.2:latest"));
    settings.sync();
    const QUuid id = QUuid::createUuid();
    ChatStore::shared().writeConversation(
        id, {ChatMessage::make(QStringLiteral("How do I keep a terminal command running after I "
                                              "log out?"),
                               ChatMessageType::user),
             ChatMessage::make(
                 QStringLiteral(
                     "Use **`nohup`** or run it in a terminal multiplexer:\n\n"
                     "1. `nohup long-task > task.log 2>&1 &` keeps it going and writes its "
                     "output to `task.log`.\n"
                     "2. `tmux new -s work`, start the command, then press *Ctrl+B D* to "
                     "detach; `tmux attach -t work` brings it back.\n\n"
                     "For a service that should always run, a **systemd unit** is the better "
                     "home: it restarts the program and starts it at boot."),
                 ChatMessageType::assistant)});
    const QUuid other = QUuid::createUuid();
    ChatStore::shared().writeConversation(
        other,
        {ChatMessage::make(QStringLiteral("Name three rivers in France."), ChatMessageType::user),
         ChatMessage::make(QStringLiteral("The Loire, the Seine and the Rhône."),
                           ChatMessageType::assistant)});
    ChatStore::shared().saveTOC(
        {Conversation(SidebarID::conversation(id), QStringLiteral("Commands after logout"),
                      QStringLiteral("Use nohup or run it in a terminal multiplexer")),
         Conversation(SidebarID::conversation(other), QStringLiteral("Rivers of France"),
                      QStringLiteral("The Loire, the Seine and the Rhône."))});

    MainWindow window(ZoruveVedeServices::standard(), [] { return nullptr; });
    window.setUrlOpener([](const QUrl&) { return true; });
    window.move(0, 0);
    window.show();
    MainView& view = *window.mainView();
    ZoruveVede& model = view.viewModel();
    require(waitFor([&] { return model.conversations().size() == 2; }), "no stored conversations");
    require(waitFor([&] { return !model.ollamaRunning() && view.banner()->isVisible(); }),
            "no banner");
    model.setSelectedConversation(SidebarID::conversation(id));
    require(waitFor([&] { return model.messages().size() == 2; }), "the conversation did not open");
    shoot(QStringLiteral("17-offline") + suffix);

    model.applicationWillQuit();
    window.close();
    ModelServiceBridge::shared().shutdown();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    shell::setUpApplication();
    QString serverPath;
    QString port;
    bool dark = false;
    bool offline = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--server") && i + 1 < args.size())
            serverPath = args[++i];
        else if (args[i] == QLatin1String("--port") && i + 1 < args.size())
            port = args[++i];
        else if (args[i] == QLatin1String("--out") && i + 1 < args.size())
            outDir = args[++i];
        else if (args[i] == QLatin1String("--dark"))
            dark = true;
        else if (args[i] == QLatin1String("--offline"))
            offline = true;
    }
    require(!serverPath.isEmpty() && !port.isEmpty() && !outDir.isEmpty(),
            "usage: parlote-screenshot-driver --server PATH --port N --out DIR [--dark]");
    QDir().mkpath(outDir);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (dark) {
        QApplication::setPalette(parlote::testing::darkPalette());
        // Tooltips keep a palette of their own, which the desktop's theme would make dark.
        QToolTip::setPalette(parlote::testing::darkPalette());
    }
    const QString suffix = dark ? QStringLiteral("-dark") : QString();
    if (offline) return offlineStart(suffix);

    // A disk that can be made full on demand, for the failed-save scene.
    static std::atomic<bool> diskFull{false};
    ChatStore::shared().setFileIo({[](int fd, const void* data, std::size_t size) -> ssize_t {
                                       if (diskFull) {
                                           errno = ENOSPC;
                                           return -1;
                                       }
                                       return ::write(fd, data, size);
                                   },
                                   [](int fd) { return ::fsync(fd); }});

    AboutWindow about;
    MainWindow window(ZoruveVedeServices::standard(), [&about] { return &about; });
    window.setUrlOpener([](const QUrl&) { return true; });
    window.move(0, 0);
    window.show();
    MainView& view = *window.mainView();
    ZoruveVede& model = view.viewModel();

    // 1. First launch with Ollama not answering.
    require(waitFor([&] { return view.welcomeSheet() && view.welcomeSheet()->isVisible(); }),
            "no welcome sheet");
    require(waitFor([&] { return !model.ollamaRunning(); }), "no banner");
    shoot(QStringLiteral("01-welcome") + suffix);

    // The server comes up; the user starts chatting.
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(serverPath, {QStringLiteral("--port"), port});
    require(server.waitForStarted(), "the fake server did not start");
    require(waitFor([&] { return model.ollamaRunning(); }), "Ollama not seen running");
    view.welcomeView()->startButton()->click();
    require(waitFor([&] { return !model.availableModels().isEmpty(); }), "no models listed");

    // 2. A conversation: choose a model in the menu, type, send.
    for (QAction* action : view.modelMenu()->actions()) {
        if (action->data().toString() == QLatin1String("llama3.2:latest")) action->trigger();
    }
    auto send = [&](const QString& text) {
        view.input()->textView()->setFocus();
        view.input()->textView()->setPlainText(text);
        emit view.input()->textEdited(text);
        view.sendButton()->click();
        require(waitFor([&] { return model.inSendingMessage(); }), "the message was not sent");
    };
    send(QStringLiteral("Why is the sky blue?"));
    require(waitFor([&] { return !model.inSendingMessage(); }, 60000), "the reply did not finish");
    require(waitFor([&] {
                return model.conversations().size() == 1 &&
                       model.conversations().first().title() != ZoruveVede::newConversationTitle;
            }),
            "no title");
    shoot(QStringLiteral("02-conversation") + suffix);

    // 30. The reply's Python block, coloured, with its header.
    shootCodeBlock(view.transcript(), int(model.messages().size()) - 1,
                   QStringLiteral("30-code-python") + suffix);

    // 52. The reply's figures: "NN tok/s" on its meta line, hovered, and the tooltip with
    // the tokens, the times and the model's load time.
    {
        TranscriptView* transcript = view.transcript();
        const int reply = int(model.messages().size()) - 1;
        transcript->scrollToLastMessage(false);
        pump(100);
        const QRect figures = transcript->figuresTextRect(reply);
        require(!figures.isNull(), "the reply has no figures");
        const QPoint at(figures.right() - 12, figures.center().y());
        QHelpEvent help(QEvent::ToolTip, at, transcript->viewport()->mapToGlobal(at));
        QApplication::sendEvent(transcript->viewport(), &help);
        require(waitFor([] { return QToolTip::isVisible(); }, 3000), "no figures tooltip");
        shoot(QStringLiteral("52-reply-figures") + suffix);
        QToolTip::hideText();
        waitFor([] { return !QToolTip::isVisible(); }, 3000);
    }

    // 16. The window at its narrowest: the sidebar collapses by itself, the chat stays whole.
    {
        const QSize wide = window.size();
        window.resize(MainView::minimumWidth, wide.height());
        require(waitFor([&] { return !view.sidebarShown(); }), "the sidebar did not collapse");
        shoot(QStringLiteral("16-min-width") + suffix);
        window.resize(wide);
        require(waitFor([&] { return view.sidebarShown(); }), "the sidebar did not come back");
    }

    // 3. The next reply while it streams.
    send(QStringLiteral("Can you show me that as a C++ function?"));
    require(waitFor([&] {
                return model.messages().size() >= 4 &&
                       model.messages().last().content().size() > 250;
            }),
            "the second reply did not start");
    shoot(QStringLiteral("03-streaming") + suffix);
    require(waitFor([&] { return !model.inSendingMessage(); }, 60000),
            "the second reply did not finish");

    // 31. The C++ block of that reply.
    shootCodeBlock(view.transcript(), int(model.messages().size()) - 1,
                   QStringLiteral("31-code-cpp") + suffix);

    // 10-12. A reasoning model while it thinks, then its thoughts folded and unfolded.
    for (QAction* action : view.modelMenu()->actions()) {
        if (action->data().toString() == QLatin1String("qwen3:8b")) action->trigger();
    }
    send(QStringLiteral("What makes an explanation good?"));
    require(waitFor([&] {
                const ChatMessage& last = model.messages().last();
                return last.type() == ChatMessageType::assistant &&
                       last.content().startsWith(QStringLiteral("<think>")) &&
                       last.content().size() > 120 &&
                       !last.content().contains(QStringLiteral("</think>"));
            }),
            "the model was not seen thinking");
    shoot(QStringLiteral("10-thinking") + suffix);
    require(waitFor([&] { return !model.inSendingMessage(); }, 60000),
            "the reasoning reply did not finish");
    const QUuid reasoned = model.messages().last().id();
    shoot(QStringLiteral("11-thoughts-folded") + suffix);
    view.transcript()->setThinkingExpanded(reasoned, true);
    shoot(QStringLiteral("12-thoughts-unfolded") + suffix);
    view.transcript()->setThinkingExpanded(reasoned, false);

    // 13. The reply asked for again: two versions and the switcher between them.
    model.regenerateReply();
    require(waitFor([&] { return model.inSendingMessage(); }), "no second version started");
    require(waitFor([&] { return !model.inSendingMessage(); }, 60000),
            "the second version did not finish");
    view.transcript()->scrollToLastMessage(false);
    shoot(QStringLiteral("13-versions") + suffix);

    // 18. The keyboard in the transcript: End, then Up, makes the last question the
    // current message, ringed in the selection colour.
    {
        TranscriptView* transcript = view.transcript();
        window.activateWindow();
        require(waitFor([&] { return window.isActiveWindow(); }), "the window is not active");
        transcript->setFocus(Qt::OtherFocusReason);
        auto press = [&](Qt::Key key) {
            QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(transcript, &down);
            QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
            QApplication::sendEvent(transcript, &up);
        };
        press(Qt::Key_End);
        press(Qt::Key_Up);
        require(transcript->hasFocus() && !transcript->messageFocusRect().isNull(),
                "no message marked");
        shoot(QStringLiteral("18-keyboard-focus") + suffix);
        view.input()->textView()->setFocus();
    }

    // 40. Text selected with the mouse, from inside the last question to inside its reply.
    {
        TranscriptView* transcript = view.transcript();
        const int question = int(model.messages().size()) - 2;
        transcript->setCurrentRow(question);
        const QRect word = transcript->textRect(question, QStringLiteral("makes"));
        require(!word.isNull(), "the question is not in view");
        const QRect answer = transcript->bubbleRect(question + 1);
        const QPoint from(word.left() + 1, word.center().y());
        const QPoint to(
            answer.left() + answer.width() / 2,
            qMin(answer.top() + 5 * word.height(), transcript->viewport()->height() - 1));
        auto mouse = [&](QEvent::Type type, const QPoint& at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, transcript->viewport()->mapToGlobal(at), Qt::LeftButton,
                              buttons, Qt::NoModifier);
            QApplication::sendEvent(transcript->viewport(), &event);
        };
        mouse(QEvent::MouseButtonPress, from, Qt::LeftButton);
        mouse(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        mouse(QEvent::MouseMove, to, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, to, Qt::NoButton);
        require(transcript->hasSelection(), "nothing selected");
        shoot(QStringLiteral("40-selection") + suffix);
        transcript->clearSelection();
        view.input()->textView()->setFocus();
    }

    // 42. Find in the conversation: Ctrl+F and a word the first exchange holds several
    // times, then Return: every match highlighted, the second one current, "2 of N".
    {
        TranscriptView* transcript = view.transcript();
        window.activateWindow();
        require(waitFor([&] { return window.isActiveWindow(); }), "the window is not active");
        transcript->setScrollPosition(0);  // found from the top of the view down
        FindBar* find = view.findBar();
        find->findAction()->trigger();
        find->field()->insert(QStringLiteral("blue"));
        require(waitFor([&] {
                    return !transcript->isFindSearching() && transcript->findMatchCount() >= 3;
                }),
                "too few matches");
        find->findNext();
        require(transcript->currentFindMatch() == 1, "not on the second match");
        shoot(QStringLiteral("42-find-bar") + suffix);
        find->dismiss();
        view.input()->textView()->setFocus();
    }

    // 47-48. The conversation's settings (a system prompt, a temperature and a longer
    // context for qwen3:8b, its maximum beside it), then the system prompt's card over the
    // transcript. Taken back afterwards, so that the scenes after are as before.
    {
        view.conversationSettingsAction()->trigger();
        ConversationSettingsDialog* dialog = view.conversationSettingsDialog();
        require(dialog != nullptr, "no settings dialog");
        ConversationSettingsForm* form = dialog->form();
        form->systemPromptField()->setPlainText(QStringLiteral(
            "You are a patient physics teacher. Explain with everyday examples and keep each "
            "answer under 200 words.\nUse metric units."));
        form->temperatureField()->setValue(0.4);
        form->contextLengthField()->setValue(16384);
        waitFor([&] { return form->contextLengthNote()->isVisible(); }, 3000);
        form->focusField(ConversationSettingsForm::Field::systemPrompt);
        shoot(QStringLiteral("47-conversation-settings") + suffix);
        dialog->accept();
        require(waitFor([&] { return view.systemPromptCard()->isVisible(); }),
                "no system prompt card");
        view.input()->textView()->setFocus();
        view.transcript()->scrollToLastMessage(false);
        shoot(QStringLiteral("48-system-prompt-card") + suffix);
        model.setConversationSettings({});
        require(waitFor([&] { return !view.systemPromptCard()->isVisible(); }), "the card stayed");
    }

    // 49. Preferences: what new conversations start with, here a system prompt and no
    // thinking. Cancelled, so that nothing of it stays.
    {
        window.preferencesAction()->trigger();
        PreferencesDialog* preferences = view.preferencesDialog();
        require(preferences != nullptr, "no preferences");
        ConversationSettingsForm* form = preferences->newConversationForm();
        form->systemPromptField()->setPlainText(
            QStringLiteral("Answer in plain English, without jargon."));
        form->thinkingField()->setCurrentIndex(
            form->thinkingField()->findText(QStringLiteral("Off")));
        shoot(QStringLiteral("49-preferences") + suffix);
        preferences->reject();
        require(waitFor([&] { return view.preferencesDialog() == nullptr; }),
                "the preferences stayed open");
    }

    // 14. The last question edited in place.
    const std::optional<QUuid> question = model.lastUserMessage();
    require(question.has_value(), "no question to edit");
    view.transcript()->beginEditing(*question);
    require(view.transcript()->editor() != nullptr, "no editor");
    view.transcript()->editor()->moveCursor(QTextCursor::End);
    view.transcript()->editor()->insertPlainText(QStringLiteral(" In two sentences, please."));
    shoot(QStringLiteral("14-editing") + suffix);
    view.transcript()->cancelEditing();

    // 15. The keyboard shortcuts window.
    window.shortcutsAction()->trigger();
    require(waitFor([&] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (w->isVisible() && w->windowTitle().contains(QStringLiteral("Shortcuts")))
                        return true;
                return false;
            }),
            "no shortcuts window");
    shoot(QStringLiteral("15-shortcuts") + suffix);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle().contains(QStringLiteral("Shortcuts"))) w->close();

    // 47. The model menu: what each model can do, the two models the chats loaded with
    // their "Unload" items, and the embedding model that cannot be chosen.
    {
        ModelMenu* menu = view.modelMenu();
        menu->popup(view.modelButton()->mapToGlobal(QPoint(0, view.modelButton()->height())));
        require(waitFor([&] { return menu->unloadActions().size() == 2; }),
                "the menu shows no loaded models");
        require(waitFor([&] {
                    for (QAction* action : menu->modelActions())
                        if (!action->isEnabled()) return true;
                    return false;
                }),
                "the embedding model is not told apart");
        menu->setActiveAction(menu->modelActions().value(1));
        shoot(QStringLiteral("50-model-menu") + suffix);
        menu->close();
    }

    // 4. The model manager on a model's details: what it can do and its place in memory.
    view.setShowModelPopover(true);
    view.modelManager()->setSelection(QStringLiteral("qwen3:8b"));
    require(waitFor([&] { return !view.modelManager()->unloadButton()->isHidden(); }),
            "the model manager does not show the model loaded");
    shoot(QStringLiteral("04-model-details") + suffix);

    // 5. The add pane while a model downloads.
    view.modelManager()->setSelection(ModelManagerView::addEntry);
    view.modelManager()->nameField()->setText(QStringLiteral("phi3:mini"));
    view.modelManager()->addButton()->click();
    require(waitFor([&] {
                return model.isInstalling() && model.complete() > 0 &&
                       model.progress() * 3 > model.complete();
            }),
            "no download progress");
    shoot(QStringLiteral("05-model-pull") + suffix);
    require(waitFor([&] { return !model.isInstalling(); }, 60000), "the download did not finish");

    // 20. A slower download followed in the model manager: the server starts again with a
    // progress line every 400 ms, so that the speed can be measured. The alert of the
    // download before is answered first.
    model.setShowModalAlert(false);
    server.terminate();
    server.waitForFinished(5000);
    require(waitFor([&] { return !model.ollamaRunning(); }), "the server was not seen stopping");
    server.start(serverPath, {QStringLiteral("--port"), port, QStringLiteral("--pull-step"),
                              QStringLiteral("400")});
    require(server.waitForStarted(), "the fake server did not start again");
    require(waitFor([&] { return model.ollamaRunning(); }), "Ollama not seen running again");
    view.modelManager()->setSelection(ModelManagerView::addEntry);
    view.modelManager()->nameField()->setText(QStringLiteral("gemma2:2b"));
    view.modelManager()->addButton()->click();
    require(waitFor([&] {
                return model.isInstalling() &&
                       !view.modelManager()->addPane()->speedLabel()->text().isEmpty() &&
                       model.downloadCompleted() * 4 > model.downloadTotal();
            }),
            "no measured download");
    shoot(QStringLiteral("20-download-sheet") + suffix);
    view.modelManager()->addPane()->cancelButton()->click();
    require(waitFor([&] { return !model.isInstalling(); }), "the download was not cancelled");
    view.modelManager()->doneButton()->click();

    // 8. A save fails: the bar, with the reason and Retry.
    diskFull = true;
    send(QStringLiteral("Thanks! One more question about colours."));
    require(waitFor([&] { return !model.inSendingMessage(); }, 60000),
            "the third reply did not finish");
    require(waitFor([&] { return view.storageBar()->isVisible(); }), "no storage bar");
    shoot(QStringLiteral("08-save-failed") + suffix);
    diskFull = false;
    view.storageBar()->retryButton()->click();
    require(waitFor([&] { return !view.storageBar()->isVisible(); }), "the bar stayed");

    // 9. A very long message: its last part under the notice.
    {
        QString text;
        for (int i = 0; text.size() < 200'000; ++i)
            text +=
                QStringLiteral("Paragraph %1 of a very long reply, with **some** words in it.\n\n")
                    .arg(i);
        const QUuid id = QUuid::createUuid();
        ChatStore::shared().writeConversation(
            id,
            {ChatMessage::make(QStringLiteral("Write as much as you can."), ChatMessageType::user),
             ChatMessage::make(text, ChatMessageType::assistant)});
        QList<Conversation> list = model.conversations();
        list.append(Conversation(SidebarID::conversation(id), QStringLiteral("A long reply"),
                                 text.left(200)));
        model.setConversations(list);
        model.setSelectedConversation(SidebarID::conversation(id));
        require(waitFor([&] { return model.messages().size() == 2; }),
                "the long reply did not open");
        view.transcript()->scrollToLastMessage(false);
        pump(300);
        const int row = 1;
        // The top of the reply, where the notice and "Show all" are.
        view.transcript()->setScrollPosition(view.transcript()->scrollPosition() +
                                             view.transcript()->rowRect(row).top() - 8);
        shoot(QStringLiteral("09-long-message") + suffix);
    }

    // 19. A question of two lines: the transcript keeps its line break, and the sidebar
    // shows the replies' first two lines as plain text.
    {
        const QUuid id = QUuid::createUuid();
        const QString reply = QStringLiteral(
            "Saturday: **museums**.\nSunday: `Croix-Rousse`, the market.\n\nShall I add "
            "addresses?");
        ChatStore::shared().writeConversation(
            id, {ChatMessage::make(QStringLiteral("Plan a weekend in Lyon for the two of us:\n"
                                                  "museums first, then food."),
                                   ChatMessageType::user),
                 ChatMessage::make(reply, ChatMessageType::assistant)});
        QList<Conversation> list = model.conversations();
        list.prepend(
            Conversation(SidebarID::conversation(id), QStringLiteral("Weekend in Lyon"), reply));
        model.setConversations(list);
        model.setSelectedConversation(SidebarID::conversation(id));
        require(waitFor([&] { return model.messages().size() == 2; }),
                "the two-line question did not open");
        view.transcript()->scrollToLastMessage(false);
        shoot(QStringLiteral("19-two-line-message") + suffix);
    }

    // 6. The About window.
    window.aboutAction()->trigger();
    shoot(QStringLiteral("06-about") + suffix);
    about.close();

    // 18. A download seen from the main window. The server starts again with a slow pull;
    // the model manager closes while the model downloads.
    server.terminate();
    server.waitForFinished(5000);
    require(waitFor([&] { return !model.ollamaRunning(); }), "the server was not seen stopping");
    server.start(serverPath, {QStringLiteral("--port"), port, QStringLiteral("--pull-step"),
                              QStringLiteral("400")});
    require(server.waitForStarted(), "the fake server did not start again");
    require(waitFor([&] { return model.ollamaRunning(); }), "Ollama not seen running again");
    for (const Conversation& entry : model.conversations()) {
        if (entry.title().contains(QStringLiteral("Sky"), Qt::CaseInsensitive)) {
            model.setSelectedConversation(entry.id());
            break;
        }
    }
    require(waitFor([&] { return !model.messages().isEmpty(); }), "no conversation to show");
    view.setShowModelPopover(true);
    view.modelManager()->setSelection(ModelManagerView::addEntry);
    view.modelManager()->nameField()->setText(QStringLiteral("gemma2:2b"));
    view.modelManager()->addButton()->click();
    require(waitFor([&] {
                return model.isInstalling() && model.downloadTotal() > 0 &&
                       model.downloadCompleted() * 3 > model.downloadTotal();
            }),
            "no slow download");
    view.modelManager()->doneButton()->click();
    require(waitFor([&] { return view.downloadIndicator()->isVisible(); }),
            "no download in the header");
    shoot(QStringLiteral("18-download") + suffix);
    view.downloadIndicator()->cancelButton()->click();
    require(waitFor([&] { return !model.isInstalling(); }), "the download did not stop");

    // 7. Ollama stops: the banner.
    server.terminate();
    server.waitForFinished(5000);
    require(waitFor([&] { return !model.ollamaRunning(); }), "the banner did not appear");
    shoot(QStringLiteral("07-banner") + suffix);

    // 32. A long table while it streams.
    shootStreamingTable(window, QStringLiteral("32-table-streaming") + suffix);

    // 41. Searching every conversation: a second conversation is made (the server starts
    // again), then Ctrl+K and two words that both conversations hold.
    {
        server.start(serverPath, {QStringLiteral("--port"), port});
        require(server.waitForStarted(), "the fake server did not start for the search");
        require(waitFor([&] { return model.ollamaRunning(); }), "Ollama not seen running");
        view.sidebar()->setSelectedConversation(SidebarID::newConversation());
        for (QAction* action : view.modelMenu()->actions()) {
            if (action->data().toString() == QLatin1String("llama3.2:latest")) action->trigger();
        }
        const qsizetype before = model.conversations().size();
        send(
            QStringLiteral("Compare the local models in a table: which one explains best why "
                           "the sky is blue?"));
        require(waitFor([&] { return !model.inSendingMessage(); }, 60000),
                "the comparison did not finish");
        require(waitFor([&] {
                    return model.conversations().size() == before + 1 &&
                           model.conversations().first().title() !=
                               ZoruveVede::newConversationTitle;
                }),
                "no title for the comparison");
        window.activateWindow();
        require(waitFor([&] { return window.isActiveWindow(); }), "the window is not active");
        window.commands()->search()->trigger();
        ConversationSearch* search = view.search();
        search->field()->insert(QStringLiteral("sky blue"));
        require(waitFor([&] { return search->findings().size() >= 3; }), "nothing found");
        shoot(QStringLiteral("41-search") + suffix);
        search->clear();
        server.terminate();
        server.waitForFinished(5000);
    }

    // 43. A conversation deleted from the sidebar: "Conversation deleted" with Undo above the
    // transcript of the one still open. 44. Two conversations pinned above the others.
    {
        server.start(serverPath, {QStringLiteral("--port"), port});
        require(server.waitForStarted(), "the fake server did not start for the sidebar");
        require(waitFor([&] { return model.ollamaRunning(); }), "Ollama not seen running");
        auto find = [&](const QString& words) {
            for (const Conversation& entry : model.conversations())
                if (entry.title().contains(words, Qt::CaseInsensitive)) return entry.id();
            require(false, "a conversation is missing");
            return SidebarID::newConversation();
        };
        const SidebarID sky = find(QStringLiteral("Sky"));
        const SidebarID lyon = find(QStringLiteral("Lyon"));
        const SidebarID longReply = find(QStringLiteral("long reply"));
        model.setSelectedConversation(sky);
        require(waitFor([&] { return !model.messages().isEmpty(); }), "no conversation to show");
        view.sidebar()->askDelete(lyon);
        QMessageBox* box = view.sidebar()->deleteConfirmation();
        require(box != nullptr, "no delete confirmation");
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QLatin1String("Delete")) button->click();
        require(waitFor([&] { return view.undoBar()->isVisible(); }), "no undo bar");
        view.transcript()->scrollToLastMessage(false);
        shoot(QStringLiteral("43-undo-bar") + suffix);
        view.undoBar()->undoButton()->click();
        require(waitFor([&] { return !view.undoBar()->isVisible(); }), "the undo bar stayed");

        model.setPinned(longReply, true);
        model.setPinned(sky, true);
        model.setSelectedConversation(sky);
        require(waitFor([&] { return !model.messages().isEmpty(); }), "no conversation to show");
        view.transcript()->scrollToLastMessage(false);
        shoot(QStringLiteral("44-pinned") + suffix);
        server.terminate();
        server.waitForFinished(5000);
    }

    // 45. The first conversation exported as a PDF, its first page as a picture. 46. An
    // import of its JSON export beside two files that are not conversations: the report.
    {
        QTemporaryDir files;
        require(files.isValid(), "no folder for the exports");
        // The first conversation, about the sky: a list, code and a table.
        SidebarID first = model.conversations().last().id();
        for (const Conversation& entry : model.conversations())
            if (entry.title().contains(QStringLiteral("Sky"))) first = entry.id();
        ExchangeCommands* exchange = window.exchangeCommands();
        auto exportAs = [&](const QString& name, ExportFormat format) {
            std::optional<QString> error;
            exchange->exportConversation(first, files.filePath(name), format,
                                         [&](const QString& e) { error = e; });
            require(waitFor([&] { return error.has_value(); }), "the export did not finish");
            require(error->isEmpty(), "the export failed");
            return files.filePath(name);
        };
        if (!dark) {
            const QString pdf = exportAs(QStringLiteral("conversation.pdf"), ExportFormat::pdf);
            const QString page = QDir(outDir).filePath(QStringLiteral("45-pdf-page"));
            require(QProcess::execute(
                        QStringLiteral("pdftoppm"),
                        {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"),
                         QStringLiteral("-singlefile"), pdf, page}) == 0,
                    "pdftoppm (poppler-utils) could not convert the PDF");
            std::printf("%s.png\n", qPrintable(page));
        }
        const QString json = exportAs(QStringLiteral("Sky.json"), ExportFormat::json);
        auto write = [&](const QString& name, const QByteArray& bytes) {
            QFile file(files.filePath(name));
            require(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
                    "cannot write a file to import");
            return file.fileName();
        };
        exchange->importFiles({json, write(QStringLiteral("notes.txt"), "Shopping: eggs, milk"),
                               write(QStringLiteral("backup.json"), "{\"messages\": [{\"id\"")});
        require(waitFor([&] {
                    return exchange->importReportBox() && exchange->importReportBox()->isVisible();
                }),
                "no import report");
        shoot(QStringLiteral("46-import-report") + suffix);
        exchange->importReportBox()->close();
    }

    // 51. Pictures: one sent with a question (llama3.2 cannot see, so the message keeps it
    // without sending it) shows as a thumbnail in the question's bubble; another attached
    // to the next message waits over the input box, with the note that the model cannot
    // see it.
    {
        server.start(serverPath, {QStringLiteral("--port"), port});
        require(server.waitForStarted(), "the fake server did not start for the pictures");
        require(waitFor([&] { return model.ollamaRunning(); }), "Ollama not seen running");
        QTemporaryDir files;
        require(files.isValid(), "no folder for the pictures");
        // A landscape and a sunset, drawn: sky, sun and hills.
        auto picture = [&](const QString& name, QColor top, QColor bottom, QColor sun) {
            QImage image(640, 420, QImage::Format_RGB32);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            QLinearGradient sky(0, 0, 0, 420);
            sky.setColorAt(0, top);
            sky.setColorAt(1, bottom);
            painter.fillRect(image.rect(), sky);
            painter.setPen(Qt::NoPen);
            painter.setBrush(sun);
            painter.drawEllipse(QPointF(440, 150), 60, 60);
            painter.setBrush(QColor(52, 110, 60));
            painter.drawEllipse(QRectF(-120, 280, 520, 300));
            painter.setBrush(QColor(70, 140, 75));
            painter.drawEllipse(QRectF(220, 300, 600, 300));
            painter.end();
            const QString path = files.filePath(name);
            require(image.save(path, "PNG"), "cannot write a picture");
            return path;
        };
        const QString day = picture(QStringLiteral("day.png"), QColor(90, 160, 230),
                                    QColor(200, 230, 250), QColor(255, 230, 120));
        const QString dusk = picture(QStringLiteral("dusk.png"), QColor(60, 50, 120),
                                     QColor(250, 150, 90), QColor(255, 200, 120));
        view.sidebar()->setSelectedConversation(SidebarID::newConversation());
        for (QAction* action : view.modelMenu()->actions()) {
            if (action->data().toString() == QLatin1String("llama3.2:latest")) action->trigger();
        }
        QStringList chosen{day};
        view.setPictureChooser([&] { return chosen; });
        view.attachPictureAction()->trigger();
        require(waitFor([&] { return model.pendingImages().size() == 1; }), "no picture attached");
        send(QStringLiteral("What time of day is it in this picture?"));
        require(waitFor([&] { return !model.inSendingMessage(); }, 60000),
                "the reply about the picture did not finish");
        chosen = {dusk};
        view.attachPictureAction()->trigger();
        require(waitFor([&] { return model.pendingImages().size() == 1; }),
                "no second picture attached");
        view.input()->textView()->setFocus();
        view.input()->textView()->setPlainText(QStringLiteral("And in this one?"));
        emit view.input()->textEdited(QStringLiteral("And in this one?"));
        waitFor([] { return false; }, 500);  // the thumbnails load in the background
        // The question with its thumbnail at the top of the view, the reply under it.
        TranscriptView* transcript = view.transcript();
        const int question = int(model.messages().size()) - 2;
        transcript->setScrollPosition(transcript->scrollPosition() +
                                      transcript->rowRect(question).top() - 8);
        shoot(QStringLiteral("51-image-attached") + suffix);
        server.terminate();
        server.waitForFinished(5000);
    }

    model.applicationWillQuit();
    window.close();
    ModelServiceBridge::shared().shutdown();
    return 0;
}
