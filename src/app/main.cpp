// Parlote: a desktop chat client for the language models of a local Ollama service.

#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "AboutWindow.h"
#include "ChatStore.h"
#include "CodeHighlighter.h"
#include "MainView.h"
#include "MainWindow.h"
#include "ModelServiceBridge.h"
#include "ServerChoice.h"
#include "Shell.h"

using namespace parlote;

int main(int argc, char** argv) {
    // The conversation list is read while the toolkit starts and the window is built.
    ChatStore::shared().prefetchTOC();

    QApplication app(argc, argv);
    shell::setUpApplication();

    // The About window is built, hidden, right after the main window's first paint (or
    // by an earlier About command), so that it does not delay the window.
    std::unique_ptr<AboutWindow> about;
    auto aboutWindow = [&about] {
        if (!about) about = std::make_unique<AboutWindow>();
        return about.get();
    };

    {
        // Alt held while Parlote starts: take the first-launch decision again.
        QSettings settings(QStringLiteral("Parlote"), QStringLiteral("Parlote"));
        shell::applyLaunchModifiers(QGuiApplication::queryKeyboardModifiers(), settings);
        // The server chosen in Preferences, before anything asks it for models.
        useChosenServer(ModelServiceBridge::shared(), settings, SecretStore::shared());
    }

    MainWindow window(ZoruveVedeServices::standard(), aboutWindow);
    QObject::connect(&window, &MainWindow::firstPainted, &app, [aboutWindow] {
        QTimer::singleShot(0, qApp, [aboutWindow] { aboutWindow(); });
    });
    // For the start-up benchmark: report the first paint and leave.
    if (qEnvironmentVariableIsSet("PARLOTE_EXIT_AFTER_FIRST_PAINT")) {
        QObject::connect(&window, &MainWindow::firstPainted, &app, [] {
            std::puts("painted");
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        });
    }
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] {
        // Keep every reply still arriving as far as it came, and end all work (colouring
        // code first: nobody will see its colours).
        stopColouring();
        window.mainView()->viewModel().applicationWillQuit();
    });
    window.show();
    const int code = app.exec();
    ModelServiceBridge::shared().shutdown();  // no answer may reach a window after this
    return code;
}
