// parlote-markdown-sample: renders a sample with every kind of Markdown block, in the
// light palette and in a dark one, and saves a picture of each. Serves its own picture
// on 127.0.0.1 so that an image loaded over the network is part of the sample.
//
//   parlote-markdown-sample <light.png> <dark.png>

#include <httplib.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QVBoxLayout>
#include <thread>

#include "ImageStore.h"
#include "MarkdownView.h"
#include "SelectableMarkdownView.h"
#include "TestPalettes.h"

using namespace parlote;

namespace {

const char* kSample = R"(# Heading one
## Heading two
### Heading three
#### Heading four

A paragraph with *emphasis*, **strong**, ~~struck through~~, `inline code`, a [link](https://ollama.com)
and a bare address www.example.com. Raw <b>HTML</b> stays literal.

- Tight bullet
- Second item
  - Nested item
    - Third level
1. Numbered from one
2. Second

A paragraph between two lists.

7. Loose list starting at seven

8. Eight

- [ ] Open task
- [x] Finished task

> A block quote with **strong** text.
>
> > And a nested quote.

```cpp
int main() {
    return 42;  // no syntax colouring
}
```

| Left | Centre | Right |
|:-----|:------:|------:|
| a    | b      | 1.00  |
| long cell text | *em* | 200.50 |

---

<div class="raw">an HTML block</div>

Image from the network: ![a red square](http://127.0.0.1:PORT/red.png) and a relative one: ![relative picture](img/x.png)
)";

QByteArray redSquarePng() {
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(QColor(220, 40, 40));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

bool render(const QString& markdown, const QPalette& palette, const QString& path) {
    QWidget window;
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(&window);
    auto* view = new MarkdownView(&window);
    view->setContentsMargins(16, 16, 16, 16);
    view->setMarkdown(markdown);
    layout->addWidget(view);
    auto* caption =
        new QLabel(QStringLiteral("Selectable legal text in the caption font:"), &window);
    layout->addWidget(caption);
    auto* legal = new SelectableMarkdownView(&window);
    QFont small = QFontDatabase::systemFont(QFontDatabase::SmallestReadableFont);
    small.setPointSizeF(QApplication::font().pointSizeF() * 0.85);
    legal->setFont(small);
    legal->setMarkdown(
        QStringLiteral("Licensed under the **MIT License**. See https://opensource.org/license/mit "
                       "for the full text.\n\n- first condition\n- second condition"));
    legal->setFixedHeight(70);
    legal->setPadding(8);
    layout->addWidget(legal);
    window.resize(640, 100);
    window.resize(640, window.heightForWidth(640) > 0 ? window.heightForWidth(640)
                                                      : layout->totalHeightForWidth(640));
    window.show();

    // Wait for the image to arrive (or fail) before taking the picture.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1500) QApplication::processEvents(QEventLoop::AllEvents, 50);
    window.resize(640, layout->totalHeightForWidth(640));
    QApplication::processEvents();
    return window.grab().save(path);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        qWarning("usage: parlote-markdown-sample <light.png> <dark.png>");
        return 2;
    }
    httplib::Server server;
    const QByteArray png = redSquarePng();
    server.Get("/red.png", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(png.toStdString(), "image/png");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();

    QString markdown =
        QString::fromUtf8(kSample).replace(QStringLiteral("PORT"), QString::number(port));
    QApplication::setStyle(QStringLiteral("Fusion"));
    const bool ok =
        render(markdown, QApplication::style()->standardPalette(),
               QString::fromLocal8Bit(argv[1])) &&
        render(markdown, parlote::testing::darkPalette(), QString::fromLocal8Bit(argv[2]));
    server.stop();
    serving.join();
    return ok ? 0 : 1;
}
