#pragma once

// Images named by Markdown text: fetched over the network on first use, decoded on a
// worker thread, kept for every view that shows the same address.
//
// Only absolute http and https addresses are ever fetched. A download stops at a size
// cap, and an image whose decoded size would pass the pixel cap is not decoded: both
// count as failures, and the views keep showing the alternative text. The size cap holds
// as the bytes arrive: a body announced larger is refused before it is read, and Qt is
// never left to read far ahead of what the store has counted.

#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>
#include <memory>

#include "Limits.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace parlote {

class ImageDecoder;

struct ImageLimits {
    qint64 maxDownloadBytes = limits::kMaxImageBytes;
    qint64 maxDecodedPixels = 4096LL * 4096LL;
    int transferTimeoutMs = 30000;
    int maxEntries = 256;  // older finished entries are dropped beyond this
};

class ImageStore : public QObject {
    Q_OBJECT
public:
    enum class State { NotLoadable, Loading, Ready, Failed };

    using Limits = ImageLimits;

    /// A store that fetches through `network`, or through a manager of its own when null.
    /// Lives on the interface thread.
    explicit ImageStore(QNetworkAccessManager* network = nullptr, Limits limits = Limits(),
                        QObject* parent = nullptr);
    ~ImageStore() override;

    /// The store the views use unless given another; owned by the application object.
    static ImageStore* shared();

    /// Where `source` stands; starts its download on first use when it is loadable.
    State request(const QString& source);
    /// Where `source` stands, without starting anything.
    State state(const QString& source) const;
    /// The decoded image once Ready, else a null image.
    QImage image(const QString& source) const;

signals:
    /// `source` became Ready or Failed.
    void imageChanged(const QString& source);

private:
    struct Entry {
        State state = State::Loading;
        QImage image;
        quint64 serial = 0;  // insertion order, for dropping old entries
    };

    void startDownload(const QString& source);
    void finishDownload(QNetworkReply* reply, const QString& source, QByteArray body);
    void settle(const QString& source, State state, QImage image);
    void dropOldEntries();

    QNetworkAccessManager* network_;
    Limits limits_;
    QHash<QString, Entry> entries_;
    quint64 nextSerial_ = 0;
    // Held only by this store: decoded images handed over after it is gone are dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::unique_ptr<ImageDecoder> decoder_;  // last: its worker reports to the members above
};

}  // namespace parlote
