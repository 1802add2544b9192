#include "ImageStore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "InterfaceThread.h"
#include "MarkdownLinks.h"

namespace parlote {

namespace {

// How far Qt may read ahead of the store while a download runs.
constexpr qint64 kReadAhead = 256 * 1024;

}  // namespace

// One worker thread that turns downloaded bytes into images, so that decoding a large
// picture never stalls the interface. Jobs reach it through the queue below, under the
// mutex; each result goes to `deliver`, called on the worker thread.
class ImageDecoder {
public:
    /// Called with the source and its image (null when decoding failed or the image was
    /// too large).
    using Deliver = std::function<void(QString source, QImage image)>;

    ImageDecoder(Deliver deliver, qint64 maxPixels)
        : deliver_(std::move(deliver)), maxPixels_(maxPixels) {
        thread_ = std::thread([this] { run(); });
    }

    ~ImageDecoder() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    void add(QString source, QByteArray bytes) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back({std::move(source), std::move(bytes)});
        }
        wake_.notify_one();
    }

private:
    struct Job {
        QString source;
        QByteArray bytes;
    };

    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
                if (stopping_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            deliver_(std::move(job.source), decode(job.bytes));
        }
    }

    QImage decode(const QByteArray& bytes) const {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        // The header's size decides before any pixel is decoded: a small file may
        // describe an enormous picture.
        if (!size.isValid() || qint64(size.width()) * size.height() > maxPixels_) return {};
        QImage image;
        if (!reader.read(&image)) return {};
        return image;
    }

    const Deliver deliver_;
    const qint64 maxPixels_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;  // last: started once everything above exists
};

ImageStore::ImageStore(QNetworkAccessManager* network, Limits limits, QObject* parent)
    : QObject(parent),
      network_(network ? network : new QNetworkAccessManager(this)),
      limits_(limits),
      decoder_(std::make_unique<ImageDecoder>(
          // Results come back through the interface-thread hand-over, and only while
          // this store exists.
          [this, alive = std::weak_ptr<const void>(alive_)](QString source, QImage image) {
              InterfaceThread::post(
                  alive, [this, source = std::move(source), image = std::move(image)]() mutable {
                      const State state = image.isNull() ? State::Failed : State::Ready;
                      settle(source, state, std::move(image));
                  });
          },
          limits.maxDecodedPixels)) {}

ImageStore::~ImageStore() {
    decoder_.reset();  // joins the worker before the members it reports to go away
}

ImageStore* ImageStore::shared() {
    static QPointer<ImageStore> store;
    if (!store) store = new ImageStore(nullptr, Limits(), QCoreApplication::instance());
    return store;
}

ImageStore::State ImageStore::state(const QString& source) const {
    if (!isLoadableImageSource(source)) return State::NotLoadable;
    auto it = entries_.constFind(source);
    return it == entries_.cend() ? State::Loading : it->state;
}

ImageStore::State ImageStore::request(const QString& source) {
    if (!isLoadableImageSource(source)) return State::NotLoadable;
    auto it = entries_.constFind(source);
    if (it != entries_.cend()) return it->state;
    entries_.insert(source, Entry{State::Loading, {}, nextSerial_++});
    startDownload(source);
    return State::Loading;
}

QImage ImageStore::image(const QString& source) const {
    auto it = entries_.constFind(source);
    return it == entries_.cend() ? QImage() : it->image;
}

void ImageStore::startDownload(const QString& source) {
    QNetworkRequest request{QUrl(source, QUrl::StrictMode)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setTransferTimeout(limits_.transferTimeoutMs);
    QNetworkReply* reply = network_->get(request);
    if (!reply) {
        settle(source, State::Failed, {});
        return;
    }
    const qint64 cap = limits_.maxDownloadBytes;
    // Qt reads the socket on a thread of its own, however busy this thread is: bounding
    // its buffer makes it stop reading until the bytes are taken here, where they are
    // counted as they come. So a body far larger than the cap is never pulled in.
    reply->setReadBufferSize(qBound<qint64>(1, cap + 1, kReadAhead));
    auto body = std::make_shared<QByteArray>();
    // A body announced larger than the cap is refused with its headers, before any of it.
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, cap] {
        bool known = false;
        const qint64 length =
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > cap) reply->abort();
    });
    // Any body, announced or not, stops as soon as what came of it passes the cap.
    connect(reply, &QNetworkReply::readyRead, reply, [reply, cap, body] {
        body->append(reply->read(cap + 1 - body->size()));
        if (body->size() > cap) reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, source, body] {
        finishDownload(reply, source, std::exchange(*body, {}));
    });
}

void ImageStore::finishDownload(QNetworkReply* reply, const QString& source, QByteArray body) {
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError)
        body.append(reply->read(limits_.maxDownloadBytes + 1 - body.size()));
    if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300 ||
        body.size() > limits_.maxDownloadBytes) {
        settle(source, State::Failed, {});
        return;
    }
    decoder_->add(source, std::move(body));
}

void ImageStore::settle(const QString& source, State state, QImage image) {
    auto it = entries_.find(source);
    if (it == entries_.end()) return;
    it->state = state;
    it->image = std::move(image);
    dropOldEntries();
    emit imageChanged(source);
}

void ImageStore::dropOldEntries() {
    while (entries_.size() > limits_.maxEntries) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->state == State::Loading) continue;
            if (oldest == entries_.end() || it->serial < oldest->serial) oldest = it;
        }
        if (oldest == entries_.end()) return;
        entries_.erase(oldest);
    }
}

}  // namespace parlote
