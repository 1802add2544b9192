#include "ImagePreparation.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>

#include "AttachmentStore.h"

namespace parlote {

PreparedImage prepareImageForModel(const QByteArray& bytes, int longestSide) {
    const QString format = AttachmentStore::formatOf(bytes);
    const bool modelsReadIt = format == u"png" || format == u"jpg" || format == u"webp";
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid()) {
        if (modelsReadIt) return {bytes, {}, false};
        return {{}, QStringLiteral("the file is not a picture Parlote can read"), false};
    }
    if (modelsReadIt && std::max(size.width(), size.height()) <= longestSide)
        return {bytes, {}, false};

    QImage image = reader.read();
    if (image.isNull()) {
        if (modelsReadIt) return {bytes, {}, false};
        return {
            {}, QStringLiteral("the picture cannot be read (%1)").arg(reader.errorString()), false};
    }
    if (std::max(image.width(), image.height()) > longestSide)
        image =
            image.scaled(longestSide, longestSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const bool asPng = image.hasAlphaChannel() || (format != u"jpg" && format != u"webp");
    QByteArray encoded;
    QBuffer out(&encoded);
    out.open(QIODevice::WriteOnly);
    QImageWriter writer(&out, asPng ? "png" : "jpg");
    if (!asPng) writer.setQuality(90);
    if (!writer.write(image))
        return {{},
                QStringLiteral("the picture cannot be encoded (%1)").arg(writer.errorString()),
                false};
    return {encoded, {}, true};
}

}  // namespace parlote

namespace parlote {

QByteArray encodePicture(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG")) return {};
    return bytes;
}

QImage pictureThumbnail(const QByteArray& bytes, int side) {
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    // Scaled while decoding where the format allows it (JPEG): far less work than
    // decoding the whole picture.
    if (size.isValid() && (size.width() > side || size.height() > side))
        reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull()) return {};
    if (image.width() > side || image.height() > side)
        image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

}  // namespace parlote
