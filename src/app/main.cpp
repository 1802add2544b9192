// Parlote's start-up window while the chat window is being built: it tells whether the
// Ollama service answers and lists the installed models.

#include <QApplication>
#include <QFutureWatcher>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMainWindow>
#include <QTimer>
#include <QVBoxLayout>

#include "ModelServiceBridge.h"

using namespace parlote;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlote"));
    QApplication::setOrganizationName(QStringLiteral("Parlote"));
    QApplication::setApplicationVersion(QStringLiteral(PARLOTE_VERSION));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Parlote"));
    window.resize(1000, 700);
    auto* central = new QWidget(&window);
    auto* layout = new QVBoxLayout(central);
    auto* status = new QLabel(QStringLiteral("Looking for Ollama…"), central);
    auto* models = new QListWidget(central);
    layout->addWidget(status);
    layout->addWidget(models);
    window.setCentralWidget(central);

    ModelServiceBridge& bridge = ModelServiceBridge::shared();
    auto show = [&](const APIResult<QList<ChatModel>>& result) {
        models->clear();
        if (!result.isSuccess()) {
            status->setText(result.error().message);
            return;
        }
        status->setText(QStringLiteral("Ollama is running. Installed models:"));
        for (const ChatModel& model : result.value()) {
            models->addItem(QStringLiteral("%1   %2 %3, %4")
                                .arg(model.id, model.paramSize, model.quantLevel,
                                     QLocale().formattedDataSize(qint64(model.size))));
        }
    };
    auto refresh = [&] {
        bridge.loadAvailableModels().then([&](const APIResult<QList<ChatModel>>& answer) {
            // Answers arrive on the bridge's thread; widgets change on the interface thread.
            QMetaObject::invokeMethod(&window, [&show, result = answer] { show(result); });
        });
    };
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &window, refresh);
    timer.start(2000);
    refresh();
    window.show();
    const int code = app.exec();
    bridge.shutdown();  // no answer may reach the window after this
    return code;
}
