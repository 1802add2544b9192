// Images named in Markdown: fetched only from absolute web addresses, within the size
// caps, and shown in place of their alternative text once they arrive.

#include <gtest/gtest.h>
#include <httplib.h>

#include <QBuffer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "ImageStore.h"
#include "MarkdownLayout.h"

using namespace parlote;

namespace {

QByteArray png(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Sees every request the store makes, and lets it through to the real network code.
class RecordingNetwork : public QNetworkAccessManager {
public:
    QList<QUrl> requested;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* data) override {
        requested.append(request.url());
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

// An image server on 127.0.0.1 that counts the requests it answers.
class ImageServer {
public:
    ImageServer() {
        const std::string small = png(40, 60).toStdString();
        const std::string huge = png(3000, 3000).toStdString();
        server_.Get("/small.png", [this, small](const httplib::Request&, httplib::Response& res) {
            ++hits;
            res.set_content(small, "image/png");
        });
        server_.Get("/huge.png", [this, huge](const httplib::Request&, httplib::Response& res) {
            ++hits;
            res.set_content(huge, "image/png");
        });
        server_.Get("/big-body", [this](const httplib::Request&, httplib::Response& res) {
            ++hits;
            res.set_content(std::string(200000, 'x'), "image/png");
        });
        server_.Get("/not-an-image", [this](const httplib::Request&, httplib::Response& res) {
            ++hits;
            res.set_content("<html>hello</html>", "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~ImageServer() {
        server_.stop();
        thread_.join();
    }
    QString url(const char* path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(QLatin1String(path)); }

    std::atomic<int> hits{0};

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

ImageStore::State settle(ImageStore& store, const QString& source) {
    QSignalSpy spy(&store, &ImageStore::imageChanged);
    ImageStore::State state = store.request(source);
    if (state == ImageStore::State::Loading) {
        EXPECT_TRUE(spy.wait(5000)) << source.toStdString();
        state = store.state(source);
    }
    return state;
}

}  // namespace

TEST(MarkdownImages, OnlyAbsoluteWebSourcesReachTheNetwork) {
    RecordingNetwork network;
    ImageStore store(&network);
    MarkdownLayout layout(&store);
    layout.setMarkdown("![rel](img/x.png) ![abs path](/etc/passwd) ![file](file:///etc/hosts) "
                       "![data](data:image/png;base64,iVBORw0KGgo=) ![ftp](ftp://a.org/x.png) "
                       "![js](javascript:alert(1)) ![proto-relative](//a.org/x.png)");
    layout.heightForWidth(400);
    QTest::qWait(50);
    EXPECT_TRUE(network.requested.isEmpty());
}

TEST(MarkdownImages, ImageLoadsOffTheTextAndReplacesItsAltText) {
    ImageServer server;
    RecordingNetwork network;
    ImageStore store(&network);
    MarkdownLayout layout(&store);
    QSignalSpy changed(&layout, &MarkdownLayout::changed);
    const QString source = server.url("/small.png");
    layout.setMarkdown(QStringLiteral("Before ![a picture](%1) after").arg(source));
    const qreal textOnly = layout.heightForWidth(400);
    EXPECT_EQ(store.state(source), ImageStore::State::Loading);

    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(store.state(source), ImageStore::State::Ready);
    EXPECT_EQ(store.image(source).size(), QSize(40, 60));
    EXPECT_GE(layout.height(), textOnly + 30);  // the 60-pixel picture now sits in the line

    // A second view of the same address uses the stored picture.
    MarkdownLayout other(&store);
    other.setMarkdown(QStringLiteral("![again](%1)").arg(source));
    other.heightForWidth(400);
    EXPECT_EQ(server.hits.load(), 1);
    EXPECT_EQ(network.requested.size(), 1);
}

TEST(MarkdownImages, OversizedOrBrokenImagesFail) {
    ImageServer server;
    ImageStore::Limits limits;
    limits.maxDownloadBytes = 100000;          // /big-body sends 200 000 bytes
    limits.maxDecodedPixels = 2000LL * 2000LL;  // /huge.png is 3000 x 3000
    ImageStore store(nullptr, limits);
    EXPECT_EQ(settle(store, server.url("/big-body")), ImageStore::State::Failed);
    EXPECT_EQ(settle(store, server.url("/huge.png")), ImageStore::State::Failed);
    EXPECT_EQ(settle(store, server.url("/not-an-image")), ImageStore::State::Failed);
    EXPECT_EQ(settle(store, server.url("/missing.png")), ImageStore::State::Failed);
    EXPECT_EQ(settle(store, server.url("/small.png")), ImageStore::State::Ready);
    EXPECT_TRUE(store.image(server.url("/huge.png")).isNull());
}
