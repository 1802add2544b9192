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

// A server of endless bodies (64 MiB each, sent as fast as the client takes them) that
// counts, per body, how many bytes it managed to hand to the connection.
class FloodServer {
public:
    static constexpr size_t bodyBytes = size_t(64) << 20;
    static constexpr int paths = 3;

    FloodServer() {
        for (int i = 0; i < paths; ++i) {
            const std::string index = std::to_string(i);
            // Announces its length.
            server_.Get(
                "/announced/" + index, [this, i](const httplib::Request&, httplib::Response& res) {
                    res.set_content_provider(bodyBytes, "image/png",
                                             [this, i](size_t, size_t, httplib::DataSink& sink) {
                                                 return send(sent[i], sink);
                                             });
                });
            // Does not: chunked.
            server_.Get(
                "/chunked/" + index, [this, i](const httplib::Request&, httplib::Response& res) {
                    res.set_chunked_content_provider(
                        "image/png",
                        [this, i](size_t, httplib::DataSink& sink) { return send(sent[i], sink); });
                });
            // Does not: the body ends when the connection closes.
            server_.Get("/unannounced/" + index, [this, i](const httplib::Request&,
                                                           httplib::Response& res) {
                res.set_content_provider("image/png", [this, i](size_t, httplib::DataSink& sink) {
                    return send(sent[i], sink);
                });
            });
        }
        // Small send buffers keep the bytes in flight (sent, not yet read) few, so that
        // what the server managed to send tells what the client read.
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

    std::array<std::atomic<qint64>, paths> sent{};

private:
    static bool send(std::atomic<qint64>& count, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, 'x');
        if (size_t(count.load()) >= bodyBytes) {
            sink.done();
            return true;
        }
        if (!sink.write(block.data(), block.size())) return false;
        count += qint64(block.size());
        return true;
    }

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
// cap. Before the cap was counted as the bytes arrived, Qt went on reading at full speed
// and tens of megabytes came in before the cap took effect.
TEST(MarkdownImages, DownloadsStopAtTheCapAsTheBytesArrive) {
    constexpr qint64 cap = 2 << 20;
    // What may still come in after the cap: the bytes already on their way through the
    // connection's buffers.
    constexpr qint64 slack = 6 << 20;
    for (const char* kind : {"announced", "chunked", "unannounced"}) {
        SCOPED_TRACE(kind);
        FloodServer server;
        ImageStore::Limits limits;
        limits.maxDownloadBytes = cap;
        ImageStore store(nullptr, limits);
        QSignalSpy changed(&store, &ImageStore::imageChanged);
        for (int i = 0; i < FloodServer::paths; ++i)
            EXPECT_EQ(store.request(server.url(kind, i)), ImageStore::State::Loading);
        // The interface is busy (laying out a long reply, say) while the bytes pour in.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        while (changed.size() < FloodServer::paths) ASSERT_TRUE(changed.wait(10000));
        for (int i = 0; i < FloodServer::paths; ++i) {
            EXPECT_EQ(store.state(server.url(kind, i)), ImageStore::State::Failed);
            EXPECT_LT(server.sent[i].load(), cap + slack) << "body " << i;
        }
    }
}

// A body whose announced length passes the cap is refused with its headers: hardly any
// of it is sent.
TEST(MarkdownImages, AnAnnouncedOversizedBodyIsRefusedBeforeItIsRead) {
    FloodServer server;
    ImageStore::Limits limits;
    limits.maxDownloadBytes = 32 << 20;  // half the announced length
    ImageStore store(nullptr, limits);
    EXPECT_EQ(settle(store, server.url("announced", 0)), ImageStore::State::Failed);
    EXPECT_LT(server.sent[0].load(), limits.maxDownloadBytes / 2);
}

// Within the cap, a body without an announced length arrives whole.
TEST(MarkdownImages, AnUnannouncedBodyWithinTheCapIsRead) {
    const QByteArray picture = png(300, 200);
    httplib::Server server;
    server.Get("/picture", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("image/png", [&](size_t, httplib::DataSink& sink) {
            // In small pieces, each a separate read on the client's side.
            for (qsizetype at = 0; at < picture.size(); at += 100)
                if (!sink.write(picture.constData() + at,
                                size_t(qMin<qsizetype>(100, picture.size() - at))))
                    return false;
            sink.done();
            return true;
        });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::yield();
    {
        ImageStore::Limits limits;
        limits.maxDownloadBytes = picture.size();  // exactly at the cap is still allowed
        ImageStore store(nullptr, limits);
        const QString source = QStringLiteral("http://127.0.0.1:%1/picture").arg(port);
        EXPECT_EQ(settle(store, source), ImageStore::State::Ready);
        EXPECT_EQ(store.image(source).size(), QSize(300, 200));
    }  // the store's connections close before the server stops
    server.stop();
    thread.join();
}
