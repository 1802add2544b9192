#pragma once

// Making a picture fit to send to a vision model before it is stored. Models scale every
// picture down to their own input size (a few hundred to about a thousand pixels a side),
// so a larger original only costs disk, memory and, in base64 on every request of the
// conversation, a third more bytes than itself. Needs QtGui: the views call it, with
// what the user chose, before they give the bytes to AttachmentStore::store().

#include <QByteArray>
#include <QImage>
#include <QString>

namespace parlote {

/// The longest side, in pixels, of a picture as it is stored and sent.
inline constexpr int kModelImageSide = 1024;

struct PreparedImage {
    QByteArray bytes;     // a PNG, JPEG or WebP picture; empty on failure
    QString error;        // why the picture could not be read; empty on success
    bool shrunk = false;  // the bytes are a smaller copy, not the original
};

/// `bytes` unchanged when they are a PNG, JPEG or WebP picture whose longer side is at
/// most `longestSide`; otherwise the picture scaled down to that (keeping its proportions,
/// smoothly) and encoded again: as PNG when it has transparency or was a PNG, GIF or BMP,
/// else as JPEG (quality 90). A picture Qt cannot read (a WebP when Qt has no WebP
/// plugin, say) is kept as it is when it is one of the three formats models read; anything
/// else gives an error.
PreparedImage prepareImageForModel(const QByteArray& bytes, int longestSide = kModelImageSide);

/// `image` encoded as PNG (pasted image data that came without the bytes of a file).
QByteArray encodePicture(const QImage& image);

/// The picture `bytes` scaled down (smoothly, keeping its proportions) so that its longer
/// side is at most `side` pixels; a null image when Qt cannot read it.
QImage pictureThumbnail(const QByteArray& bytes, int side);

}  // namespace parlote
