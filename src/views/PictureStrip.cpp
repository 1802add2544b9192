#include "PictureStrip.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "MarkdownStyle.h"

namespace parlote {

QStringList pictureFilesIn(const QMimeData* source) {
    static const QStringList extensions{QStringLiteral("png"),  QStringLiteral("jpg"),
                                        QStringLiteral("jpeg"), QStringLiteral("webp"),
                                        QStringLiteral("gif"),  QStringLiteral("bmp")};
    QStringList files;
    if (!source->hasUrls()) return files;
    for (const QUrl& url : source->urls()) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (extensions.contains(QFileInfo(path).suffix().toLower())) files.append(path);
    }
    return files;
}

QString pictureFormatIn(const QMimeData* source) {
    for (const char* type : {"image/png", "image/jpeg", "image/webp", "image/gif", "image/bmp"}) {
        const QString format = QString::fromLatin1(type);
        if (source->hasFormat(format)) return format;
    }
    return {};
}

bool holdsPictures(const QMimeData* source) {
    return !pictureFormatIn(source).isEmpty() || source->hasImage() ||
           !pictureFilesIn(source).isEmpty();
}

// ---- thumbnail -----------------------------------------------------------------------------

PictureThumbnail::PictureThumbnail(const QString& reference, int number, QWidget* parent)
    : QAbstractButton(parent), reference_(reference), remove_(new QToolButton(this)) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(tr("Picture %1").arg(number));
    setAccessibleDescription(tr("Opens the picture; Delete removes it from the message"));
    setToolTip(tr("Open the picture"));
    remove_->setIcon(QIcon::fromTheme(QStringLiteral("window-close")));
    if (remove_->icon().isNull()) remove_->setText(QStringLiteral("×"));
    remove_->setAutoRaise(true);
    remove_->setFixedSize(20, 20);
    remove_->setIconSize(QSize(12, 12));
    remove_->setFocusPolicy(Qt::StrongFocus);
    remove_->setAccessibleName(tr("Remove picture %1").arg(number));
    remove_->setToolTip(tr("Remove the picture"));
    remove_->move(sizeHint().width() - remove_->width(), 0);
    // The button sits on the picture: a background of its own keeps it visible.
    remove_->setAutoFillBackground(true);
    remove_->setBackgroundRole(QPalette::Base);
    connect(remove_, &QToolButton::clicked, this, &PictureThumbnail::removeRequested);
}

void PictureThumbnail::setPixmap(const QPixmap& pixmap) {
    pixmap_ = pixmap;
    update();
}

QSize PictureThumbnail::sizeHint() const {
    return QSize(side + 4, side + 4);
}

void PictureThumbnail::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF frame = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QPainterPath outline;
    outline.addRoundedRect(frame, 6, 6);
    painter.fillPath(outline, palette().color(QPalette::AlternateBase));
    if (!pixmap_.isNull()) {
        painter.save();
        painter.setClipPath(outline);
        const QSizeF size = QSizeF(pixmap_.deviceIndependentSize());
        const QSizeF fitted = size.scaled(frame.size(), Qt::KeepAspectRatioByExpanding);
        QRectF target(QPointF(), fitted);
        target.moveCenter(frame.center());
        painter.drawPixmap(target, pixmap_, QRectF(pixmap_.rect()));
        painter.restore();
    }
    const bool focused = hasFocus();
    painter.setPen(
        QPen(focused ? palette().color(QPalette::Highlight) : secondaryTextColor(palette()),
             focused ? 2 : 1));
    painter.drawPath(outline);
}

void PictureThumbnail::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        emit removeRequested();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

// ---- strip ---------------------------------------------------------------------------------

PictureStrip::PictureStrip(QWidget* parent)
    : QWidget(parent), row_(new QHBoxLayout), note_(new QLabel(this)) {
    setAccessibleName(tr("Attached pictures"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 6, 10, 0);
    column->setSpacing(4);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(6);
    row_->addStretch(1);
    column->addLayout(row_);
    note_->setWordWrap(true);
    note_->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(note_);
    updateVisibility();
}

void PictureStrip::setPictures(const QStringList& references) {
    if (references == references_) return;
    references_ = references;
    for (PictureThumbnail* thumbnail : thumbnails_) {
        thumbnail->hide();  // at once: the layout has them until they are deleted
        thumbnail->deleteLater();
    }
    thumbnails_.clear();
    for (auto it = pixmaps_.begin(); it != pixmaps_.end();)
        it = references_.contains(it.key()) ? std::next(it) : pixmaps_.erase(it);
    for (qsizetype i = 0; i < references_.size(); ++i) {
        const QString reference = references_[i];
        auto* thumbnail = new PictureThumbnail(reference, int(i) + 1, this);
        thumbnail->setPixmap(pixmaps_.value(reference));
        connect(thumbnail, &PictureThumbnail::clicked, this,
                [this, reference] { emit openRequested(reference); });
        connect(thumbnail, &PictureThumbnail::removeRequested, this,
                [this, reference] { emit removeRequested(reference); });
        row_->insertWidget(int(i), thumbnail);
        thumbnails_.append(thumbnail);
    }
    updateVisibility();
    emit thumbnailsChanged();
}

void PictureStrip::setThumbnail(const QString& reference, const QPixmap& pixmap) {
    if (!references_.contains(reference)) return;
    pixmaps_.insert(reference, pixmap);
    for (PictureThumbnail* thumbnail : thumbnails_)
        if (thumbnail->reference() == reference) thumbnail->setPixmap(pixmap);
}

void PictureStrip::setNote(const QString& text) {
    note_->setText(text);
    updateVisibility();
}

QString PictureStrip::note() const {
    return note_->isVisibleTo(this) ? note_->text() : QString();
}

void PictureStrip::updateVisibility() {
    note_->setVisible(!note_->text().isEmpty() && !references_.isEmpty());
    setVisible(!references_.isEmpty());
}

}  // namespace parlote
