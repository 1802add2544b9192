// Parlote: a desktop chat client for the language models of a local Ollama service.

#include "AboutWindow.h"
#include "ConversationPool.h"
#include "MainView.h"
#include "ModelServiceBridge.h"
#include "ParloteApp.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <cstdio>

using namespace parlote;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    shell::setUpApplication();

    // Built at start-up, hidden until the About command.
    AboutWindow about;

    {
        // Alt held while Parlote starts: take the first-launch decision again.
        QSettings settings(QStringLiteral("Parlote"), QStringLiteral("Parlote"));
        shell::applyLaunchModifiers(QGuiApplication::queryKeyboardModifiers(), settings);
    }

    MainWindow window(ZoruveVedeServices::standard(), &about);
    // For the start-up benchmark: report the first paint and leave.
    if (qEnvironmentVariableIsSet("PARLOTE_EXIT_AFTER_FIRST_PAINT")) {
        QObject::connect(&window, &MainWindow::firstPainted, &app, [] {
            std::puts("painted");
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        });
    }
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] {
        // Keep every reply still arriving as far as it came, and end all work.
        window.mainView()->viewModel().applicationWillQuit();
    });
    window.show();
    const int code = app.exec();
    ModelServiceBridge::shared().shutdown();  // no answer may reach a window after this
    return code;
}
