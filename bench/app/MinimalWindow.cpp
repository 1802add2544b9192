// The baseline of the start-up benchmark: the smallest Qt Widgets program that shows a
// main window, started and timed the same way as Parlote. Prints "painted" at its first
// paint and quits.

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

namespace {

class Window : public QMainWindow {
protected:
    bool event(QEvent* event) override {
        const bool handled = QMainWindow::event(event);
        if (event->type() == QEvent::UpdateRequest && !painted_) {
            painted_ = true;
            std::puts("painted");
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return handled;
    }

private:
    bool painted_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Window window;
    window.setWindowTitle(QStringLiteral("Minimal"));
    window.setCentralWidget(new QLabel(QStringLiteral("Hello"), &window));
    window.resize(1000, 700);
    window.show();
    return app.exec();
}
