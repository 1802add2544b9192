// Images named in Markdown: fetched only from absolute web addresses, within the size
// caps (which hold as the bytes arrive, for several downloads at once and however busy
// the interface thread is), and shown in place of their alternative text once they arrive.

#include <gtest/gtest.h>
#include <httplib.h>

#include <QBuffer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>
#include <array>
#include <atomic>
#include <chrono>
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
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* data) override {
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
    QString url(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(QLatin1String(path));
    }

    std::atomic<int> hits{0};

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

// Bodies of 64 MiB at /announced/N (with a Content-Length) and /chunked/N (without),
// sent as fast as the client takes them; counts what it handed to each connection.
// Small send buffers keep the bytes in flight few, so that the count tells what the
// client read.
class FloodServer {
public:
    std::array<std::atomic<qint64>, 3> sent{};

    FloodServer() {
        server_.Get(R"(/(announced|chunked)/(\d))",
                    [this](const httplib::Request& request, httplib::Response& response) {
                        std::atomic<qint64>& count = sent[size_t(std::stoi(request.matches[2]))];
                        const auto send = [&count](size_t, httplib::DataSink& sink) {
                            static const std::string block(64 * 1024, 'x');
                            if (count.load() >= bodyBytes) {
                                sink.done();
                                return true;
                            }
                            if (!sink.write(block.data(), block.size())) return false;
                            count += qint64(block.size());
                            return true;
                        };
                        if (request.matches[1] == "announced")
                            response.set_content_provider(
                                size_t(bodyBytes), "image/png",
                                [send](size_t offset, size_t, httplib::DataSink& sink) {
                                    return send(offset, sink);
                                });
                        else
                            response.set_chunked_content_provider("image/png", send);
                    });
        server_.set_socket_options([](socket_t sock) {
            httplib::default_socket_options(sock);
            const int bytes = 64 * 1024;
            setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof(bytes));
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
    }
    ~FloodServer() {
        server_.stop();
        thread_.join();
    }
    QString url(const char* kind, int index) const {
        return QStringLiteral("http://127.0.0.1:%1/%2/%3")
            .arg(port_)
            .arg(QLatin1String(kind))
            .arg(index);
    }

private:
    static constexpr qint64 bodyBytes = qint64(64) << 20;
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
    layout.setMarkdown(
        "![rel](img/x.png) ![abs path](/etc/passwd) ![file](file:///etc/hosts) "
        "![data](data:image/png;base64,iVBORw0KGgo=) ![ftp](ftp://a.org/x.png) "
        "![js](javascript:alert(1)) ![proto-relative](//a.org/x.png)");
    layout.heightForWidth(400);
    QCoreApplication::processEvents();  // anything the layout left for the event loop
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
    limits.maxDownloadBytes = 100000;           // /big-body sends 200 000 bytes
    limits.maxDecodedPixels = 2000LL * 2000LL;  // /huge.png is 3000 x 3000
    ImageStore store(nullptr, limits);
    EXPECT_EQ(settle(store, server.url("/big-body")), ImageStore::State::Failed);
    EXPECT_EQ(settle(store, server.url("/huge.png")), ImageStore::State::Failed);
    EXPECT_EQ(settle(store, server.url("/not-an-image")), ImageStore::State::Failed);
    EXPECT_EQ(settle(store, server.url("/missing.png")), ImageStore::State::Failed);
    EXPECT_EQ(settle(store, server.url("/small.png")), ImageStore::State::Ready);
    EXPECT_TRUE(store.image(server.url("/huge.png")).isNull());
}

// Three large downloads at once while the interface thread is busy: each stops near the
// cap (they used to run on for tens of megabytes). A body announced larger than the cap
// is refused with its headers.
TEST(MarkdownImages, DownloadsStopAtTheCapAsTheBytesArrive) {
    constexpr qint64 cap = 2 << 20;
    constexpr qint64 inFlight = 6 << 20;  // already on its way through the buffers
    for (const char* kind : {"announced", "chunked"}) {
        SCOPED_TRACE(kind);
        FloodServer server;
        ImageStore::Limits limits;
        limits.maxDownloadBytes = cap;
        ImageStore store(nullptr, limits);
        QSignalSpy changed(&store, &ImageStore::imageChanged);
        for (int i = 0; i < 3; ++i) store.request(server.url(kind, i));
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // busy laying out
        while (changed.size() < 3) ASSERT_TRUE(changed.wait(10000));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(store.state(server.url(kind, i)), ImageStore::State::Failed);
            EXPECT_LT(server.sent[size_t(i)].load(), cap + inFlight) << "body " << i;
        }
    }
    FloodServer server;
    ImageStore::Limits limits;
    limits.maxDownloadBytes = 32 << 20;  // half the announced length
    ImageStore store(nullptr, limits);
    EXPECT_EQ(settle(store, server.url("announced", 0)), ImageStore::State::Failed);
    EXPECT_LT(server.sent[0].load(), 16 << 20) << "refused before the body";
}
