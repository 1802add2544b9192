// Pictures attached to messages: stored once per content in private files, named in the
// messages that carry them, found again when a conversation goes, and made fit for a
// model before they are stored.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include "ChatStore.h"
#include "ImagePreparation.h"

using namespace parlote;

namespace {

unsigned mode(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray picture(int width, int height, QColor color = Qt::darkCyan, const char* format = "png") {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return encoded(image, format);
}

QSize sizeOf(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    return QImageReader(&buffer).size();
}

class AttachmentsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ChatStore store{dir.path() + QStringLiteral("/Parlote")};
    const AttachmentStore& pictures = store.attachments();
};

TEST_F(AttachmentsTest, APictureIsStoredOncePrivatelyUnderItsContentsName) {
    const QByteArray red = picture(4, 3, Qt::red);
    const auto first = pictures.store(red);
    ASSERT_TRUE(first) << first.error.toStdString();
    EXPECT_TRUE(AttachmentStore::isReference(first.reference));
    EXPECT_TRUE(first.reference.endsWith(".png"));
    const auto again = pictures.store(red);
    EXPECT_EQ(again.reference, first.reference);
    EXPECT_EQ(QDir(pictures.folder()).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(pictures.read(first.reference), red);
    EXPECT_EQ(mode(pictures.folder()), 0700u);
    EXPECT_EQ(mode(pictures.path(first.reference)), 0600u);

    const auto blue = pictures.store(picture(4, 3, Qt::blue));
    EXPECT_NE(blue.reference, first.reference);
    const auto jpeg = pictures.store(picture(4, 3, Qt::blue, "jpg"));
    EXPECT_TRUE(jpeg.reference.endsWith(".jpg"));
    EXPECT_EQ(QDir(pictures.folder()).entryList(QDir::Files).size(), 3);

    EXPECT_FALSE(pictures.store("plain text, no picture"));
    EXPECT_FALSE(pictures.store(QByteArray()));
    EXPECT_TRUE(pictures.remove(blue.reference));
    EXPECT_FALSE(pictures.read(blue.reference));
}

TEST_F(AttachmentsTest, OnlyNamesTheStoreGivesReachAFile) {
    const auto stored = pictures.store(picture(2, 2));
    ASSERT_TRUE(stored);
    for (const QString& name :
         {QStringLiteral("../toc.json"), stored.reference.toUpper(), stored.reference + "/",
          QStringLiteral("/etc/passwd"), stored.reference.left(20) + ".png",
          stored.reference.chopped(4) + ".exe"}) {
        EXPECT_FALSE(AttachmentStore::isReference(name)) << name.toStdString();
        EXPECT_TRUE(pictures.path(name).isEmpty());
        EXPECT_FALSE(pictures.read(name));
    }
}

TEST_F(AttachmentsTest, MessagesKeepTheirPictureNamesInTheFile) {
    const QString a = pictures.store(picture(2, 2, Qt::red)).reference;
    const QString b = pictures.store(picture(2, 2, Qt::green)).reference;
    const QUuid id = QUuid::createUuid();
    const ChatMessage asked =
        ChatMessage::make("What is this?", ChatMessageType::user).withImages({a, b});
    const ChatMessage answer = ChatMessage::make("Two squares.", ChatMessageType::assistant);
    ASSERT_TRUE(store.writeConversation(id, {asked, answer}));
    QFile file(store.conversationPath(id));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.contains(R"("timestamp":")"));
    EXPECT_TRUE(bytes.contains((R"(Z","images":[")" + a + R"(",")" + b + R"("]})").toUtf8()));
    EXPECT_EQ(bytes.count("\"images\""), 1) << "a message without pictures has no key";
    const TranscriptRead read = store.readConversationFile(id);
    ASSERT_EQ(read.messages.size(), 2);
    EXPECT_EQ(read.messages[0].images(), QStringList({a, b}));
    EXPECT_EQ(read.messages[0].content(), asked.content());
}

TEST_F(AttachmentsTest, AMalformedPictureListKeepsTheWholeFileAside) {
    // The pictures are what the user sent: a file that names them in a form this program
    // never writes is kept as it is rather than saved again without them.
    const QUuid id = QUuid::createUuid();
    const QByteArray head =
        R"({"messages":[{"id":"11111111-2222-4333-8444-555555555555","content":"x",)"
        R"("type":"user","timestamp":"2025-01-31T09:15:00Z","images":)";
    for (const char* images : {R"("a.png")", R"([])", R"([1])", R"(["../../secret.png"])"}) {
        QFile file(store.conversationPath(id));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(head + images + "}]}");
        file.close();
        const TranscriptRead read = store.readConversationFile(id);
        EXPECT_FALSE(read.problem.isEmpty()) << images;
        EXPECT_FALSE(read.setAsidePath.isEmpty()) << images;
    }
}

TEST_F(AttachmentsTest, APictureGoesWithTheOnlyConversationThatUsesIt) {
    const QString mine = pictures.store(picture(2, 2, Qt::red)).reference;
    const QString shared = pictures.store(picture(2, 2, Qt::green)).reference;
    const QString inDamaged = pictures.store(picture(2, 2, Qt::blue)).reference;
    const QString inVersion = pictures.store(picture(2, 2, Qt::gray)).reference;
    const QUuid me = QUuid::createUuid();
    const QUuid other = QUuid::createUuid();
    VariantPoints kept(1);
    kept[0].at = 1;
    kept[0].shown = 1;
    kept[0].others.push_back(
        {{ChatMessage::make("older", ChatMessageType::user).withImages({inVersion})}, {}});
    ASSERT_TRUE(store.writeConversation(
        me,
        {ChatMessage::make("a", ChatMessageType::user).withImages({mine, shared, inDamaged}),
         ChatMessage::make("b", ChatMessageType::user)},
        kept));
    ASSERT_TRUE(store.writeConversation(
        other, {ChatMessage::make("c", ChatMessageType::user).withImages({shared})}));
    QFile damaged(store.appFolder() + "/" + uuidText(QUuid::createUuid()) +
                  ".damaged-20250101T000000Z.json");
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(("{not json at all " + inDamaged).toUtf8());
    damaged.close();

    QStringList only = store.attachmentsOnlyUsedBy(me);
    only.sort();
    QStringList expected{mine, inVersion};
    expected.sort();
    EXPECT_EQ(only, expected);
    EXPECT_TRUE(store.attachmentsOnlyUsedBy(other).isEmpty());
    EXPECT_TRUE(store.attachmentsOnlyUsedBy(QUuid::createUuid()).isEmpty());
}

TEST(ImagePreparation, LargePicturesAreScaledDownAndSmallOnesKept) {
    const QByteArray small = picture(640, 480, Qt::red, "jpg");
    const PreparedImage kept = prepareImageForModel(small);
    EXPECT_EQ(kept.bytes, small);
    EXPECT_FALSE(kept.shrunk);

    const PreparedImage photo = prepareImageForModel(picture(4000, 3000, Qt::red, "jpg"));
    ASSERT_TRUE(photo.error.isEmpty()) << photo.error.toStdString();
    EXPECT_TRUE(photo.shrunk);
    EXPECT_EQ(AttachmentStore::formatOf(photo.bytes), "jpg");
    EXPECT_EQ(sizeOf(photo.bytes), QSize(1024, 768));

    QImage clear(3000, 600, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    const PreparedImage drawing = prepareImageForModel(encoded(clear, "png"));
    EXPECT_EQ(AttachmentStore::formatOf(drawing.bytes), "png");
    EXPECT_EQ(sizeOf(drawing.bytes).width(), 1024);
    EXPECT_NEAR(sizeOf(drawing.bytes).height(), 205, 1);

    const PreparedImage bitmap = prepareImageForModel(picture(10, 10, Qt::red, "bmp"));
    EXPECT_EQ(AttachmentStore::formatOf(bitmap.bytes), "png") << "models read no BMP";
    EXPECT_EQ(sizeOf(bitmap.bytes), QSize(10, 10));

    const PreparedImage nothing = prepareImageForModel("not a picture");
    EXPECT_TRUE(nothing.bytes.isEmpty());
    EXPECT_FALSE(nothing.error.isEmpty());
}

TEST(ImagePreparation, ThumbnailsKeepProportionsAndPastedImagesBecomePng) {
    EXPECT_EQ(pictureThumbnail(picture(3000, 1500, Qt::red, "jpg"), 96).size(), QSize(96, 48));
    EXPECT_EQ(pictureThumbnail(picture(48, 384), 96).size(), QSize(12, 96));
    EXPECT_EQ(pictureThumbnail(picture(30, 20), 96).size(), QSize(30, 20)) << "never enlarged";
    EXPECT_TRUE(pictureThumbnail("not a picture", 96).isNull());

    QImage pasted(12, 8, QImage::Format_ARGB32);
    pasted.fill(Qt::green);
    const QByteArray bytes = encodePicture(pasted);
    EXPECT_EQ(AttachmentStore::formatOf(bytes), "png");
    EXPECT_EQ(sizeOf(bytes), QSize(12, 8));
    EXPECT_TRUE(encodePicture(QImage()).isEmpty());
}

}  // namespace
