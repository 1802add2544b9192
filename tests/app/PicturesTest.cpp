// Pictures attached to a message, with the real application model and window against the
// fake Ollama server: the file button, paste and drop, the thumbnails over the input box,
// what is stored and what is sent to a model that can see and to one that cannot.

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include "CustomTextView.h"
#include "Harness.h"
#include "MainView.h"
#include "ModelMenu.h"
#include "PictureStrip.h"
#include "TranscriptView.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

/// A small PNG of one colour.
QByteArray png(QColor colour, int side = 8) {
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

class PicturesTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainView> view;
    QList<QUrl> opened;

    void TearDown() override {
        if (view) view->viewModel().applicationWillQuit();
        view.reset();
    }

    void start() {
        h.server.setModels({ModelInfo::make("llava:7b"), ModelInfo::make("llama3.2:latest")});
        h.answer(ChatScript::words("A red square."), "Colours");
        view = std::make_unique<MainView>(h.services());
        view->setPictureOpener([this](const QUrl& url) { opened << url; });
        view->resize(1000, 700);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
    }
    ZoruveVede& model() { return view->viewModel(); }
    PictureStrip* strip() { return view->pictureStrip(); }
    void chooseModel(const QString& id) {
        for (QAction* action : view->modelMenu()->actions())
            if (action->data().toString() == id) action->trigger();
    }
    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = h.dir.path() + QLatin1Char('/') + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    QStringList storedFiles() {
        return QDir(h.store.attachments().folder()).entryList(QDir::Files);
    }
    bool attachedCount(qsizetype n) {
        return eventually([&] { return model().pendingImages().size() == n; });
    }
    /// The user messages of the chat requests (not the title's), in order.
    std::vector<nlohmann::json> userMessages() {
        std::vector<nlohmann::json> found;
        for (const RecordedRequest& request : h.server.requestsTo("/api/chat")) {
            if (!request.body.contains("messages") || request.body["messages"].empty()) continue;
            const nlohmann::json& last = request.body["messages"].back();
            if (last["content"] == kTitlePrompt.toStdString()) continue;
            found.push_back(last);
        }
        return found;
    }
    void send(const QString& text) {
        model().setInputText(text);
        model().sendMessage();
    }
};

TEST_F(PicturesTest, FileButtonPasteAndDropAttachEachPictureOnce) {
    start();
    const QByteArray red = png(Qt::red);
    const QString redFile = writeFile(QStringLiteral("red.png"), red);

    // The file button asks for files and attaches them.
    view->setPictureChooser([&] { return QStringList{redFile}; });
    view->attachPictureAction()->trigger();
    ASSERT_TRUE(attachedCount(1));
    EXPECT_EQ(h.store.attachments().read(model().pendingImages()[0]), red);
    ASSERT_EQ(strip()->thumbnails().size(), 1);
    EXPECT_TRUE(strip()->isVisible());

    // The same picture pasted as image data is stored and attached once; the text that
    // came with it does not go into the box.
    model().setInputText(QStringLiteral("Look"));
    auto* data = new QMimeData;
    data->setData(QStringLiteral("image/png"), red);
    data->setText(QStringLiteral("red.png"));
    QApplication::clipboard()->setMimeData(data);
    view->input()->textView()->paste();
    QTest::qWait(200);  // nothing is to change: give the background step its time
    EXPECT_EQ(model().pendingImages().size(), 1);
    EXPECT_EQ(storedFiles().size(), 1);
    EXPECT_EQ(model().inputText(), QStringLiteral("Look"));

    // A picture file dropped on the chat pane is attached too; a text file is not taken.
    const QString blueFile = writeFile(QStringLiteral("blue.PNG"), png(Qt::blue));
    const QString textFile = writeFile(QStringLiteral("notes.txt"), "words");
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(textFile), QUrl::fromLocalFile(blueFile)});
    QWidget* pane = strip()->parentWidget()->parentWidget();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane, &drop);
    ASSERT_TRUE(attachedCount(2));
    EXPECT_EQ(storedFiles().size(), 2);
    EXPECT_TRUE(eventually([&] { return strip()->thumbnails().size() == 2; }));

    // Clicking a thumbnail opens the stored picture.
    QTest::mouseClick(strip()->thumbnails()[0], Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toLocalFile(), h.store.attachments().path(model().pendingImages()[0]));

    // Text without pictures is no drop for the pane.
    QMimeData words;
    words.setText(QStringLiteral("just words"));
    QDragEnterEvent wordsEnter(QPoint(5, 5), Qt::CopyAction, &words, Qt::LeftButton,
                               Qt::NoModifier);
    QApplication::sendEvent(pane, &wordsEnter);
    EXPECT_FALSE(wordsEnter.isAccepted());
}

TEST_F(PicturesTest, WhatCannotBeReadIsRefusedAndNothingElseChanges) {
    start();
    view->setPictureChooser(
        [&] { return QStringList{h.dir.path() + QStringLiteral("/missing.png")}; });
    view->attachPictureAction()->trigger();
    ASSERT_TRUE(eventually([&] { return model().showModalAlert(); }));
    EXPECT_EQ(model().modalAlertTitle(), QStringLiteral("Could not attach the picture"));
    EXPECT_TRUE(model().modalAlertMessage().contains(QStringLiteral("missing.png")));
    model().setShowModalAlert(false);

    // A file named as a picture that holds none.
    const QString fake = writeFile(QStringLiteral("fake.png"), "not a picture at all");
    view->setPictureChooser([&] { return QStringList{fake}; });
    view->attachPictureAction()->trigger();
    ASSERT_TRUE(eventually([&] { return model().showModalAlert(); }));
    EXPECT_TRUE(model().pendingImages().isEmpty());
    EXPECT_TRUE(storedFiles().isEmpty());
    EXPECT_FALSE(strip()->isVisible());
}

TEST_F(PicturesTest, ThumbnailsAreRemovedByKeyboardAndButtonAndStayWithTheirDraft) {
    start();
    const QString red = writeFile(QStringLiteral("red.png"), png(Qt::red));
    const QString green = writeFile(QStringLiteral("green.png"), png(Qt::green));
    view->setPictureChooser([&] { return QStringList{red, green}; });
    view->attachPictureAction()->trigger();
    ASSERT_TRUE(attachedCount(2));
    const QStringList both = model().pendingImages();
    EXPECT_TRUE(view->sendButton()->isEnabled());  // pictures alone make a message

    // Kept with the draft they were attached in while another conversation is shown.
    const Conversation other = stored(QStringLiteral("Other"));
    model().setConversations({other});
    model().setSelectedConversation(other.id());
    EXPECT_TRUE(model().pendingImages().isEmpty());
    EXPECT_FALSE(strip()->isVisible());
    model().setSelectedConversation(SidebarID::newConversation());
    EXPECT_EQ(model().pendingImages(), both);

    // Delete on a focused thumbnail removes it, and the keyboard goes back to the input box.
    ASSERT_EQ(strip()->thumbnails().size(), 2);
    PictureThumbnail* first = strip()->thumbnails()[0];
    first->setFocus();
    QTest::keyClick(first, Qt::Key_Delete);
    EXPECT_EQ(model().pendingImages(), QStringList{both[1]});
    EXPECT_TRUE(view->input()->textView()->hasFocus());
    // The remove button, reached by Tab from its thumbnail, removes the other.
    PictureThumbnail* second = strip()->thumbnails()[0];
    EXPECT_EQ(second->nextInFocusChain(), second->removeButton());
    QTest::mouseClick(second->removeButton(), Qt::LeftButton);
    EXPECT_TRUE(model().pendingImages().isEmpty());
    EXPECT_FALSE(strip()->isVisible());
    EXPECT_FALSE(view->sendButton()->isEnabled());

    // Sent without them; their files stay (another message may use them).
    chooseModel(QStringLiteral("llava:7b"));
    send(QStringLiteral("Nothing to see"));
    ASSERT_TRUE(eventually([&] { return userMessages().size() == 1; }));
    EXPECT_FALSE(userMessages()[0].contains("images"));
    EXPECT_EQ(storedFiles().size(), 2);
}

TEST_F(PicturesTest, AModelThatSeesGetsThePicturesAnotherIsToldOfAndGetsNone) {
    start();
    const QByteArray red = png(Qt::red);
    view->setPictureChooser([&] { return QStringList{writeFile("red.png", red)}; });

    chooseModel(QStringLiteral("llava:7b"));
    view->attachPictureAction()->trigger();
    ASSERT_TRUE(attachedCount(1));
    const QString reference = model().pendingImages()[0];
    QTest::qWait(100);
    EXPECT_TRUE(strip()->note().isEmpty());
    send(QStringLiteral("What colour is this?"));
    ASSERT_TRUE(eventually([&] { return userMessages().size() == 1; }));
    const nlohmann::json first = userMessages()[0];
    ASSERT_TRUE(first.contains("images"));
    ASSERT_EQ(first["images"].size(), 1u);
    EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(first["images"][0])), red);
    // The input row empties; the conversation's file refers to the picture.
    EXPECT_TRUE(model().pendingImages().isEmpty());
    EXPECT_FALSE(strip()->isVisible());
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }));
    const QUuid id = model().selectedConversation().uuid();
    ASSERT_TRUE(eventually([&] {
        const nlohmann::json file = h.conversationFile(id);
        if (!file.is_object()) return false;
        for (const auto& message : file["messages"])
            if (message.contains("images") &&
                message["images"] == nlohmann::json{reference.toStdString()})
                return true;
        return false;
    }));

    // The sent message shows the picture's thumbnail; clicking it opens the picture.
    TranscriptView* transcript = view->transcript();
    ASSERT_TRUE(eventually([&] { return transcript->messages().size() == 2; }));
    const std::vector<QRect> thumbnails = transcript->pictureRects(0);
    ASSERT_EQ(thumbnails.size(), 1u);
    EXPECT_TRUE(transcript->bubbleRect(0).contains(thumbnails[0]));
    EXPECT_TRUE(transcript->pictureRects(1).empty());  // the reply has none
    QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, thumbnails[0].center());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toLocalFile(), h.store.attachments().path(reference));

    // A model that cannot see: the strip says so before sending, and the request goes
    // without the picture, which the message keeps all the same.
    model().setSelectedConversation(SidebarID::newConversation());
    chooseModel(QStringLiteral("llama3.2:latest"));
    view->attachPictureAction()->trigger();
    ASSERT_TRUE(attachedCount(1));
    ASSERT_TRUE(eventually([&] { return !strip()->note().isEmpty(); }));
    EXPECT_TRUE(strip()->note().contains(QStringLiteral("llama3.2")));
    EXPECT_TRUE(strip()->note().contains(QStringLiteral("not sent")));
    send(QStringLiteral("And this?"));
    ASSERT_TRUE(eventually([&] { return userMessages().size() == 2; }));
    EXPECT_FALSE(userMessages()[1].contains("images"));
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }));
    const MessageList& messages = model().messages();
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.at(0).images(), QStringList{reference});
}

}  // namespace
