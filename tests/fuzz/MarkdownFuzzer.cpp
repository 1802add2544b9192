// Markdown from parsing to pixels: parseMarkdown, then MarkdownLayout at a fixed width,
// painted and asked for links. Checked:
//  - parsing the same text twice gives equal blocks;
//  - the layout has a finite height, and a layout that first saw a leading part of the
//    text (as while a reply streams in) ends with the same height as a fresh one;
//  - the ideal width stays within its cap.
// Images never reach the network: every request is answered at once with an empty body.

#include <QApplication>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPainter>
#include <cmath>
#include <string_view>

#include "FuzzSupport.h"
#include "ImageStore.h"
#include "MarkdownLayout.h"
#include "MarkdownParser.h"
#include "MarkdownStyle.h"

using namespace parlote;
using fuzzing::check;

namespace {

constexpr qreal kWidth = 480;
constexpr int kCanvasHeight = 320;

/// Answers every request with an empty "data:" reply: images fail at once, offline.
class OfflineNetwork : public QNetworkAccessManager {
protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* body) override {
        QNetworkRequest offline(request);
        offline.setUrl(QUrl(QStringLiteral("data:,")));
        return QNetworkAccessManager::createRequest(operation, offline, body);
    }
};

ImageStore* images = nullptr;
MarkdownStyle style;
QImage* canvas = nullptr;

qreal layOut(MarkdownLayout& layout, std::string_view text) {
    layout.setMarkdown(text);
    return layout.height();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt keeps references to these for the application's life.
    static int argc = 1;
    static char name[] = "fuzz_markdown";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    images = new ImageStore(new OfflineNetwork);
    style = MarkdownStyle::from(QApplication::font(), QApplication::palette());
    canvas = new QImage(int(kWidth), kCanvasHeight, QImage::Format_ARGB32_Premultiplied);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Blocks blocks = parseMarkdown(text);
    check(parseMarkdown(text) == blocks, "parsing is repeatable");

    qreal height = 0;
    {
        MarkdownLayout fresh(images);
        fresh.setStyle(style);
        fresh.setWidth(kWidth);
        height = layOut(fresh, text);
        check(std::isfinite(height) && height >= 0, "the height is a length");
        check(fresh.idealWidth(kWidth) <= kWidth + 1, "the ideal width keeps to its cap");

        canvas->fill(Qt::white);
        QPainter painter(canvas);
        fresh.paint(&painter, QPointF(0, 0), QRectF(0, 0, kWidth, kCanvasHeight));
        painter.end();
        for (int y = 8; y < kCanvasHeight; y += 48) fresh.linkAt(QPointF(kWidth / 3, y));
    }
    if (size > 1) {
        MarkdownLayout streamed(images);
        streamed.setStyle(style);
        streamed.setWidth(kWidth);
        layOut(streamed, text.substr(0, size * data[0] / 256));
        check(layOut(streamed, text) == height, "a streamed text ends laid out as a fresh one");
    }
    // Lets finished image requests report and go away, so they do not pile up: with no
    // event loop running, objects handed to deleteLater() wait for an explicit call.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
