// ZoruveVede: the pictures attached to the message being written.

#include <QFile>
#include <QFileInfo>

#include "AttachmentStore.h"
#include "ImagePreparation.h"
#include "ZoruveVede.h"

namespace parlote {

void ZoruveVede::attachPictureFile(const QString& path) {
    attachPicture([path]() -> std::pair<QByteArray, QString> {
        const QString name = QFileInfo(path).fileName();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {{}, QStringLiteral("“%1” could not be read: %2").arg(name, file.errorString())};
        // Refused before reading: a huge file would only fill the memory.
        if (file.size() > AttachmentStore::kMaxBytes)
            return {{},
                    QStringLiteral("“%1” is larger than %2 MB, the most a picture can be.")
                        .arg(name)
                        .arg(AttachmentStore::kMaxBytes / (1024 * 1024))};
        QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return {{}, QStringLiteral("“%1” could not be read: %2").arg(name, file.errorString())};
        return {std::move(bytes), QString()};
    });
}

void ZoruveVede::attachPictureData(const QByteArray& bytes) {
    attachPicture([bytes]() -> std::pair<QByteArray, QString> {
        if (bytes.size() > AttachmentStore::kMaxBytes)
            return {{},
                    QStringLiteral("The picture is larger than %1 MB, the most a picture can be.")
                        .arg(AttachmentStore::kMaxBytes / (1024 * 1024))};
        return {bytes, QString()};
    });
}

void ZoruveVede::attachPictureImage(const QImage& image) {
    attachPicture([image]() -> std::pair<QByteArray, QString> {
        QByteArray bytes = encodePicture(image);
        if (bytes.isEmpty()) return {{}, QStringLiteral("The pasted picture could not be read.")};
        return {std::move(bytes), QString()};
    });
}

void ZoruveVede::loadThumbnail(const QString& reference, int side,
                               std::function<void(const QImage&)> deliver) {
    const AttachmentStore* store = &store_.attachments();
    pool_.context().tasks->start(
        [store, reference, side, deliver = std::move(deliver), alive = std::weak_ptr<int>(alive_)] {
            const std::optional<QByteArray> bytes = store->read(reference);
            const QImage image = bytes ? pictureThumbnail(*bytes, side) : QImage();
            post(alive, [deliver, image] { deliver(image); });
        });
}

QString ZoruveVede::picturePath(const QString& reference) const {
    return store_.attachments().path(reference);
}

void ZoruveVede::attachPicture(std::function<std::pair<QByteArray, QString>()> read) {
    // The picture goes to the draft it was attached in, even if another is shown by the
    // time it is stored.
    const QString draft = selectedConversation_.id();
    const AttachmentStore* store = &store_.attachments();
    auto finish = [this, draft](const QString& reference, const QString& error) {
        if (!error.isEmpty()) {
            raiseAlert(QStringLiteral("Could not attach the picture"), error);
            return;
        }
        if (draft == selectedConversation_.id()) {
            if (pendingImages_.contains(reference)) return;  // the same picture once
            QStringList images = pendingImages_;
            images.append(reference);
            setPendingImages(std::move(images));
        } else if (!draftImages_[draft].contains(reference)) {
            draftImages_[draft].append(reference);
            draftTimer_->start();
        }
    };
    pool_.context().tasks->start(
        [store, read = std::move(read), finish, alive = std::weak_ptr<int>(alive_)] {
            auto [bytes, error] = read();
            QString reference;
            if (error.isEmpty()) {
                const PreparedImage prepared = prepareImageForModel(bytes);
                if (!prepared.error.isEmpty()) {
                    error = prepared.error;
                } else if (const AttachmentStore::Stored stored = store->store(prepared.bytes)) {
                    reference = stored.reference;
                } else {
                    error = stored.error;
                }
            }
            post(alive, [finish, reference, error] { finish(reference, error); });
        });
}

void ZoruveVede::removePendingImage(const QString& reference) {
    QStringList images = pendingImages_;
    if (images.removeAll(reference) == 0) return;
    setPendingImages(std::move(images));
}

void ZoruveVede::setPendingImages(QStringList images) {
    const bool changed = images != pendingImages_;
    pendingImages_ = std::move(images);
    emit pendingImagesChanged();
    // Kept with the draft's text, a moment later.
    if (changed) draftTimer_->start();
}

QString ZoruveVede::modelThatCannotSee() const {
    if (!selectedModel_) return {};
    const auto details = modelDetails_.constFind(*selectedModel_);
    // A server too old to tell capabilities gets no pictures either (ConversationManager).
    if (details == modelDetails_.cend()) return {};
    return details->supportsVision() ? QString() : *selectedModel_;
}

}  // namespace parlote
