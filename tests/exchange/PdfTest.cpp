// A conversation exported as a PDF: a real PDF whose text (as pdftotext reads it) holds
// the title, each message's author and text and a reply's reasoning, over several pages
// when the conversation is long.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "ImageStore.h"
#include "PdfExport.h"

using namespace parlote;

namespace {

/// The text of the PDF at `path`, page breaks as form feeds; empty without pdftotext.
QString pdfText(const QString& path) {
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, "-"});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

class PdfExport : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ImageStore images;  // keeps the layout off the network

    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    }

    QString write(const TitledConversation& conversation) {
        const QString path = dir.filePath(QStringLiteral("out.pdf"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        QString error;
        EXPECT_TRUE(writeConversationPdf(conversation, &file, &images, &error))
            << error.toStdString();
        file.close();
        return path;
    }
    static ChatMessage message(const QString& text, ChatMessageType type) {
        return ChatMessage(QUuid::createUuid(), text, type,
                           QDateTime(QDate(2026, 12, 7), QTime(14, 3), Qt::UTC));
    }
};

TEST_F(PdfExport, ThePdfHoldsTheTitleTheAuthorsTheReasoningAndTheRenderedText) {
    TitledConversation c;
    c.title = QStringLiteral("Sourdough starter");
    c.content.messages = {
        message("How often do I feed it?", ChatMessageType::user),
        message("<think>Daily at room temperature.</think>\n\nFeed it **once a day**:\n\n"
                "- equal flour\n- equal water\n\n```python\nprint('bubbly')\n```",
                ChatMessageType::assistant)};
    const QString path = write(c);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");

    const QString text = pdfText(path);
    for (const char* expected :
         {"Sourdough starter", "You", "How often do I feed it?", "Assistant", "Thinking",
          "Daily at room temperature.", "Feed it once a day:", "equal water", "print('bubbly')"})
        EXPECT_TRUE(text.contains(QLatin1String(expected))) << expected << "\n"
                                                            << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1String("**")));  // Markdown rendered, not printed
    EXPECT_FALSE(text.contains(QLatin1String("<think>")));
    EXPECT_FALSE(text.contains(QLatin1String("Copy")));  // no buttons on paper
}

TEST_F(PdfExport, ALongConversationRunsOverPagesWithoutLosingALine) {
    TitledConversation c;
    c.title = QStringLiteral("Long");
    QString reply;
    for (int i = 1; i <= 300; ++i) reply += QStringLiteral("Line number %1\n\n").arg(i);
    c.content.messages = {message("Count to 300", ChatMessageType::user),
                          message(reply, ChatMessageType::assistant)};
    const QString text = pdfText(write(c));
    EXPECT_GE(text.count(QChar(0x0c)), 3);  // form feeds between pages
    for (int i = 1; i <= 300; ++i)
        EXPECT_TRUE(text.contains(QStringLiteral("Line number %1\n").arg(i))) << i;
}

/// Counts the requests made through it, and answers none of them.
class CountingNetwork : public QNetworkAccessManager {
public:
    int requests = 0;

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* body) override {
        ++requests;
        QNetworkRequest offline(request);
        offline.setUrl(QUrl(QStringLiteral("data:,")));
        return QNetworkAccessManager::createRequest(operation, offline, body);
    }
};

TEST_F(PdfExport, APictureTheStoreDoesNotHaveIsNotFetchedAndItsTextStandsIn) {
    auto* network = new CountingNetwork;
    ImageStore store(network);
    network->setParent(&store);
    TitledConversation c;
    c.title = QStringLiteral("Pictures");
    c.content.messages = {message("Show me a cat", ChatMessageType::user),
                          message("Here: ![a sleeping cat](https://example.com/cat.png)",
                                  ChatMessageType::assistant)};
    const QString path = dir.filePath(QStringLiteral("pictures.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(writeConversationPdf(c, &file, &store));
    file.close();
    EXPECT_EQ(network->requests, 0);
    EXPECT_TRUE(pdfText(path).contains(QStringLiteral("a sleeping cat")));
}

TEST_F(PdfExport, AnEnormousMessageIsCutShortAtAParagraphWithANote) {
    TitledConversation c;
    c.title = QStringLiteral("Enormous");
    QString reply;
    for (int i = 1; i <= 15'000; ++i) reply += QStringLiteral("Paragraph %1\n\n").arg(i);
    c.content.messages = {message("Count on", ChatMessageType::user),
                          message(reply, ChatMessageType::assistant)};
    const QString text = pdfText(write(c));
    EXPECT_TRUE(text.contains(QStringLiteral("Paragraph 1\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("Paragraph 12000\n")));
    EXPECT_FALSE(text.contains(QStringLiteral("Paragraph 15000")));
    // The note says how much was left out; the cut fell between two paragraphs.
    const qsizetype shown = text.lastIndexOf(QStringLiteral("Paragraph "));
    const QString last = text.mid(shown).section(QLatin1Char('\n'), 0, 0).trimmed();
    const int lastShown = last.mid(10).toInt();
    ASSERT_GT(lastShown, 12'000);
    qsizetype left = 0;
    for (int i = lastShown + 1; i <= 15'000; ++i)
        left += QStringLiteral("Paragraph %1\n\n").arg(i).size();
    EXPECT_TRUE(text.simplified().contains(
        QStringLiteral("Message cut short: %L1 more characters not shown.").arg(left + 2)))
        << last.toStdString();
}

}  // namespace
