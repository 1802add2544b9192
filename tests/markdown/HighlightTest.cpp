// Coloured code: source-highlight colours the languages models write most, under the names
// they write after a fence; an unknown language stays plain; a code block has a header
// with its language; a large block is coloured by a worker while the interface thread
// goes on.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include "CodeHighlighter.h"
#include "DocumentDecorations.h"
#include "DocumentWriter.h"
#include "ImageStore.h"
#include "MarkdownLayout.h"
#include "MarkdownParser.h"
#include "SyntaxTheme.h"

namespace parlote {
namespace {

// The kinds `text` gets when coloured as `language`, and the text of each token.
std::vector<std::pair<SyntaxKind, QString>> tokens(const QString& language, const QString& text) {
    const QStringList lines = text.split(u'\n');
    const std::vector<SyntaxLine> coloured = highlightLines(language, lines).value();
    std::vector<std::pair<SyntaxKind, QString>> out;
    for (size_t i = 0; i < coloured.size(); ++i)
        for (const SyntaxToken& t : coloured[i])
            out.push_back({t.kind, lines[qsizetype(i)].mid(t.start, t.length)});
    return out;
}

bool has(const std::vector<std::pair<SyntaxKind, QString>>& found, SyntaxKind kind,
         const QString& text) {
    return std::find(found.begin(), found.end(), std::pair{kind, text}) != found.end();
}

TEST(HighlightTest, TheLanguagesModelsWriteGetTokensOfSeveralKinds) {
    const auto python = tokens("python", "def f(x):\n    return 'hi'  # greet");
    EXPECT_TRUE(has(python, SyntaxKind::Keyword, "def"));
    EXPECT_TRUE(has(python, SyntaxKind::String, "'hi'"));
    EXPECT_TRUE(has(python, SyntaxKind::Comment, "# greet"));

    const auto cpp = tokens("c++", "#include <vector>\nint main() { return 0; } // done");
    EXPECT_TRUE(has(cpp, SyntaxKind::Type, "int"));
    EXPECT_TRUE(has(cpp, SyntaxKind::Keyword, "return"));
    EXPECT_TRUE(has(cpp, SyntaxKind::Comment, "// done"));

    const auto js = tokens("js", "const s = \"text\"; // note\nfunction g() {}");
    EXPECT_TRUE(has(js, SyntaxKind::String, "\"text\""));
    EXPECT_TRUE(has(js, SyntaxKind::Comment, "// note"));

    const auto bash = tokens("bash", "if [ -f x ]; then echo \"yes\"; fi # check");
    EXPECT_TRUE(has(bash, SyntaxKind::Keyword, "if"));
    EXPECT_TRUE(has(bash, SyntaxKind::String, "\"yes\""));
    EXPECT_TRUE(has(bash, SyntaxKind::Comment, "# check"));

    const auto json = tokens("json", "{\"name\": \"x\", \"n\": 12, \"ok\": true}");
    EXPECT_TRUE(has(json, SyntaxKind::Variable, "name"));
    EXPECT_TRUE(has(json, SyntaxKind::Number, "12"));
    EXPECT_TRUE(has(json, SyntaxKind::Keyword, "true"));

    // A string opened on one line goes on in the next.
    const auto longString = tokens("python", "s = '''one\ntwo'''");
    EXPECT_TRUE(has(longString, SyntaxKind::String, "two'''"));
    // Positions are in characters of the line, past characters outside ASCII.
    EXPECT_TRUE(has(tokens("python", "s = 'é→x'  # ü"), SyntaxKind::Comment, "# ü"));
}

TEST(HighlightTest, NamesAfterTheFenceMapToDefinitionsAndUnknownOnesToNone) {
    for (const char* name : {"py", "python", "Python", "cpp", "c++", "js", "javascript", "sh",
                             "bash", "json", "rust", "ts", "go", "java", "sql", "diff"})
        EXPECT_FALSE(syntaxDefinitionFor(name).isEmpty()) << name;
    EXPECT_EQ(syntaxDefinitionFor("py"), syntaxDefinitionFor("python"));
    EXPECT_EQ(syntaxDefinitionFor("c++"), syntaxDefinitionFor("cpp"));
    EXPECT_EQ(syntaxDefinitionFor("python title=\"a.py\""), syntaxDefinitionFor("python"));
    for (const char* name : {"", "klingon", "text", "../../etc/passwd"})
        EXPECT_TRUE(syntaxDefinitionFor(name).isEmpty()) << name;
    EXPECT_TRUE(tokens("klingon", "def f(): return 1").empty());
}

TEST(HighlightTest, LightAndDarkThemesFollowTheBackground) {
    const SyntaxTheme light = SyntaxTheme::forBackground(QColor("#f2f2f2"));
    const SyntaxTheme dark = SyntaxTheme::forBackground(QColor("#2b2b2b"));
    EXPECT_FALSE(light.dark);
    EXPECT_TRUE(dark.dark);
    EXPECT_LT(light.color(SyntaxKind::Keyword).lightnessF(), 0.5);
    EXPECT_GT(dark.color(SyntaxKind::Keyword).lightnessF(), 0.5);
}

// The foreground colours used in the lines of a written document.
QSet<QRgb> colours(const QTextDocument& doc) {
    QSet<QRgb> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (!b.blockFormat().boolProperty(decoration::CodeLine)) continue;
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().hasProperty(QTextFormat::ForegroundBrush))
                out.insert(it.fragment().charFormat().foreground().color().rgb());
    }
    return out;
}

QTextDocument* written(QTextDocument& doc, const char* markdown) {
    const MarkdownStyle style = MarkdownStyle::from(QFont(), QPalette());
    DocumentWriter writer(&doc, style, nullptr, 400);
    writer.write(parseMarkdown(markdown));
    writer.finish();
    return &doc;
}

TEST(HighlightTest, ACodeBlockHasAHeaderWithItsLanguageAndColouredLines) {
    QTextDocument doc;
    written(doc, "```python\nimport os\nprint('x')  # out\n```\n");
    const QTextBlock header = doc.begin();
    EXPECT_EQ(header.text(), "python");
    EXPECT_EQ(header.blockFormat().property(decoration::CodeHeader).toString(), "python");
    EXPECT_EQ(header.next().text(), "import os");
    EXPECT_GE(colours(doc).size(), 2);

    QTextDocument plain;
    written(plain, "```klingon\nimport os\nprint('x')  # out\n```\n");
    EXPECT_TRUE(colours(plain).isEmpty());
    EXPECT_EQ(plain.begin().text(), "klingon");

    QTextDocument none;
    written(none, "```\ncode\n```\n");
    EXPECT_EQ(none.begin().text(), "");  // a header with the Copy button only
    EXPECT_TRUE(none.begin().blockFormat().hasProperty(decoration::CodeHeader));
}

TEST(HighlightTest, ALargeBlockIsColouredByAWorkerWhileTheInterfaceThreadGoesOn) {
    std::string text = "```python\n";
    for (int i = 0; i < 5000; ++i)
        text += "def f" + std::to_string(i) + "(x):  # line\n    return 'v' * x\n";
    text += "```\n";
    ImageStore offline;
    MarkdownLayout layout(&offline);
    layout.setWidth(600);
    layout.setMarkdown(text);
    (void)layout.height();
    // Written plain on the interface thread, the colours still to come.
    EXPECT_EQ(layout.codeBlocksAwaitingColour(), 1);
    EXPECT_TRUE(colours(*layout.blockDocument(0)).isEmpty());

    // A timer notes the longest gap between its ticks while the colours come.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    ticks.start(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return layout.codeBlocksAwaitingColour() == 0; }, 30000));
    ticks.stop();
    std::printf("colouring 10,000 lines: longest gap between timer ticks %lld ms\n",
                static_cast<long long>(longest));
    EXPECT_GE(colours(*layout.blockDocument(0)).size(), 2);
    EXPECT_EQ(layout.codeOf(0).count(u'\n'), 9999);
}

TEST(HighlightTest, CopyGivesEachBlocksCodeAsWrittenAndHugeCodeStaysPlain) {
    ImageStore offline;
    MarkdownLayout layout(&offline);
    layout.setWidth(600);
    // Line ends of another system: the carriage returns do not split the lines.
    layout.setMarkdown("```sh\r\nls\r\n\r\npwd\r\n```\r\n");
    ASSERT_EQ(layout.codeButtons().size(), 1u);
    EXPECT_EQ(layout.codeOf(0), "ls\n\npwd");

    // Steps of a numbered list, each with its code, streamed: every Copy button copies
    // its own block as the list grows.
    const std::string steps =
        "1. First:\n\n   ```sh\n   ls\n   ```\n2. Then:\n\n   ```sh\n   pwd\n   ```\n"
        "3. Last:\n\n   ```sh\n   id -u\n   ```\n";
    for (size_t end = 1; end <= steps.size(); ++end) {
        layout.setMarkdown(QString::fromStdString(steps.substr(0, end)));
        (void)layout.height();
    }
    ASSERT_EQ(layout.codeButtons().size(), 3u);
    EXPECT_EQ(layout.codeOf(0), "ls");
    EXPECT_EQ(layout.codeOf(1), "pwd");
    EXPECT_EQ(layout.codeOf(2), "id -u");

    // A line too long to colour in reasonable time (minified code) stays plain.
    const QString minified = QString("var a=1;").repeated(1000);
    const auto plain = highlightLines("javascript", {minified, "var b = 2;"});
    ASSERT_TRUE(plain.has_value());
    EXPECT_TRUE(plain->at(0).empty());
    EXPECT_FALSE(plain->at(1).empty());
    // Colouring asked to stop gives nothing.
    const std::atomic<bool> cancelled{true};
    EXPECT_FALSE(highlightLines("javascript", {"var b = 2;"}, &cancelled).has_value());
}

}  // namespace
}  // namespace parlote
