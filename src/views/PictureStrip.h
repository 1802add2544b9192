#pragma once

// The pictures attached to the message being written, shown in a strip over the input
// box: one thumbnail each with a button that removes it, and under them a note when the
// chosen model cannot see pictures. A thumbnail is a button of its own: clicking it (or
// Space on it) opens the picture, Delete or Backspace on it removes it, and Tab reaches
// it and its remove button. The strip hides while it has nothing to show.
//
// Also what tells pictures apart from text in pasted or dropped data.
//
// Interface thread only.

#include <QAbstractButton>
#include <QHash>
#include <QPixmap>
#include <QStringList>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QMimeData;
class QToolButton;

namespace parlote {

/// The picture files among the local files `source` names (by their extension: PNG,
/// JPEG, WebP, GIF or BMP), in order.
QStringList pictureFilesIn(const QMimeData* source);
/// The MIME type of the encoded picture `source` holds in a format Parlote stores
/// ("image/png", "image/jpeg", "image/webp", "image/gif", "image/bmp"); empty for none.
QString pictureFormatIn(const QMimeData* source);
/// Whether `source` holds a picture: encoded or decoded image data, or a local picture file.
bool holdsPictures(const QMimeData* source);

/// One attached picture: its thumbnail and its remove button.
class PictureThumbnail : public QAbstractButton {
    Q_OBJECT
public:
    /// The side of the square a thumbnail fills, in pixels.
    static constexpr int side = 64;

    PictureThumbnail(const QString& reference, int number, QWidget* parent);

    const QString& reference() const { return reference_; }
    QToolButton* removeButton() const { return remove_; }
    /// Shows `pixmap` (until then, an empty frame).
    void setPixmap(const QPixmap& pixmap);
    QSize sizeHint() const override;

signals:
    void removeRequested();

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString reference_;
    QPixmap pixmap_;
    QToolButton* remove_;
};

class PictureStrip : public QWidget {
    Q_OBJECT
public:
    explicit PictureStrip(QWidget* parent = nullptr);

    /// Shows the pictures `references` in order, keeping the thumbnails already loaded.
    void setPictures(const QStringList& references);
    const QStringList& pictures() const { return references_; }
    /// Shows `pixmap` for every thumbnail of `reference`.
    void setThumbnail(const QString& reference, const QPixmap& pixmap);
    /// The note under the thumbnails; empty hides it.
    void setNote(const QString& text);
    QString note() const;
    QList<PictureThumbnail*> thumbnails() const { return thumbnails_; }

signals:
    void removeRequested(const QString& reference);
    void openRequested(const QString& reference);
    /// The thumbnails were made again (their tab order needs setting).
    void thumbnailsChanged();

private:
    void updateVisibility();

    QStringList references_;
    QList<PictureThumbnail*> thumbnails_;
    QHash<QString, QPixmap> pixmaps_;
    QHBoxLayout* row_;
    QLabel* note_;
};

}  // namespace parlote
