#include "PdfExport.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIODevice>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QScreen>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <utility>
#include <vector>

#include "ConversationExport.h"
#include "MarkdownLayout.h"
#include "MarkdownStyle.h"
#include "ThinkBlock.h"

namespace parlote {

namespace {

/// A light palette: a PDF is read on paper-white whatever the desktop's theme.
QPalette lightPalette() {
    QPalette palette(QColor(0xef, 0xef, 0xef), Qt::white);  // button, window
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x1a, 0x5f, 0xb4));
    palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    return palette;
}

/// The most characters of one message's text (its reasoning, its answer) a PDF lays out:
/// about 60 pages. Laying a message out takes the interface thread up to a millisecond
/// per thousand characters, and a reply may hold sixteen million; the Markdown and JSON
/// exports keep every character.
constexpr qsizetype kMaxPdfTextLength = 200'000;

/// `text`, or its beginning up to kMaxPdfTextLength characters, cut where a paragraph or
/// else a line ends when one is in its last tenth, never inside a surrogate pair; and
/// how many characters were left out.
std::pair<QString, qsizetype> pdfPart(const QString& text) {
    if (text.size() <= kMaxPdfTextLength) return {text, 0};
    const QStringView head = QStringView(text).left(kMaxPdfTextLength);
    const qsizetype floor = kMaxPdfTextLength - kMaxPdfTextLength / 10;
    qsizetype end = head.lastIndexOf(u"\n\n");
    if (end < floor) end = head.lastIndexOf(u'\n');
    if (end < floor) end = kMaxPdfTextLength - (head.back().isHighSurrogate() ? 1 : 0);
    return {text.left(end), text.size() - end};
}

/// The positions, from the layout's top, where a line of its text begins: where a page
/// may end without cutting through text. Sorted.
std::vector<qreal> lineStarts(MarkdownLayout& layout) {
    std::vector<qreal> starts;
    for (int i = 0; i < layout.blockCount(); ++i) {
        const qreal top = layout.blockTop(i);
        starts.push_back(top);
        QTextDocument* doc = layout.blockDocument(i);
        if (!doc) continue;
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            const QRectF rect = doc->documentLayout()->blockBoundingRect(block);
            const QTextLayout* lines = block.layout();
            if (!lines) continue;
            for (int n = 0; n < lines->lineCount(); ++n)
                starts.push_back(top + rect.top() + lines->lineAt(n).y());
        }
    }
    std::sort(starts.begin(), starts.end());
    return starts;
}

/// Paints onto the pages of a writer from the top down, starting a page when the next
/// piece does not fit.
class Pages {
public:
    Pages(QPdfWriter& writer, QPainter& painter)
        : writer_(writer), painter_(painter), width_(writer.width()), height_(writer.height()) {}

    qreal width() const { return width_; }

    /// Leaves `gap` free below what was painted (not at the top of a page).
    void space(qreal gap) {
        if (y_ > 0) y_ += gap;
    }

    /// Paints `text` in `font` and `colour`, wrapped to the page's width from `x`.
    void text(const QString& text, const QFont& font, const QColor& colour, qreal x = 0) {
        const QRectF room(x, 0, width_ - x, 1e9);
        const QRectF bounds = QFontMetricsF(font, &writer_)
                                  .boundingRect(room, Qt::TextWordWrap | Qt::AlignLeft, text);
        fit(bounds.height());
        painter_.setFont(font);
        painter_.setPen(colour);
        painter_.drawText(QRectF(x, y_, width_ - x, bounds.height()),
                          Qt::TextWordWrap | Qt::AlignLeft, text);
        y_ += bounds.height();
    }

    /// Paints `layout` (laid out for its width) from `x`, across as many pages as it
    /// takes; `bar`, when valid, draws a line down its left side in that colour.
    void markdown(MarkdownLayout& layout, qreal x, const QColor& bar = QColor()) {
        const qreal total = layout.height();
        const std::vector<qreal> starts = lineStarts(layout);
        qreal from = 0;
        while (from < total) {
            const qreal room = height_ - y_;
            qreal to = total;
            if (total - from > room) {
                // The last line start that fits on this page ends the piece.
                auto after = std::upper_bound(starts.begin(), starts.end(), from + room);
                qreal cut = after == starts.begin() ? from : *std::prev(after);
                if (cut <= from) {
                    if (y_ > 0) {  // nothing fits below what is there: on a new page
                        newPage();
                        continue;
                    }
                    cut = from + room;  // one line taller than a page: cut through it
                }
                to = cut;
            }
            const QRectF piece(x, y_, layout.width(), to - from);
            painter_.save();
            painter_.setClipRect(piece);
            layout.paint(&painter_, QPointF(x, y_ - from), piece);
            painter_.restore();
            if (bar.isValid()) {
                painter_.save();
                painter_.setPen(QPen(bar, 2));
                painter_.drawLine(QPointF(x - 8, y_), QPointF(x - 8, y_ + to - from));
                painter_.restore();
            }
            y_ += to - from;
            from = to;
            if (from < total) newPage();
        }
    }

private:
    void fit(qreal height) {
        if (y_ > 0 && y_ + height > height_) newPage();
    }
    void newPage() {
        writer_.newPage();
        y_ = 0;
    }

    QPdfWriter& writer_;
    QPainter& painter_;
    qreal width_;
    qreal height_;
    qreal y_ = 0;
};

}  // namespace

bool writeConversationPdf(const TitledConversation& conversation, QIODevice* device,
                          ImageStore* images, QString* error) {
    QPdfWriter writer(device);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter));
    // Text is laid out at the screen's resolution; the PDF takes the same one, so that
    // what is laid out is what is drawn.
    const QScreen* screen = QGuiApplication::primaryScreen();
    writer.setResolution(screen ? qRound(screen->logicalDotsPerInchY()) : 96);
    writer.setTitle(conversation.title);
    writer.setCreator(QStringLiteral("Parlote"));

    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error) *error = device->errorString();
        return false;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    Pages pages(writer, painter);

    const QPalette palette = lightPalette();
    QFont body = QGuiApplication::font();
    body.setPointSizeF(10.5);
    const MarkdownStyle style = [&] {
        MarkdownStyle s = MarkdownStyle::from(body, palette);
        s.copyButtons = false;
        return s;
    }();
    QFont caption = scaledFont(body, 0.9);
    const MarkdownStyle thinkingStyle = [&] {
        MarkdownStyle s = MarkdownStyle::from(caption, palette);
        s.text = secondaryTextColor(palette);
        s.copyButtons = false;
        return s;
    }();
    QFont titleFont = scaledFont(body, 1.7);
    titleFont.setBold(true);
    QFont authorFont = body;
    authorFont.setBold(true);
    const QColor secondary = secondaryTextColor(palette);
    QFont note = body;
    note.setItalic(true);
    const auto cutNote = [](qsizetype cut) {
        return QStringLiteral(
                   "Message cut short: %L1 more characters not shown. The Markdown "
                   "and JSON exports hold all of it.")
            .arg(cut);
    };

    pages.text(conversation.title, titleFont, palette.color(QPalette::WindowText));
    for (const ChatMessage& message : conversation.content.messages) {
        pages.space(18);
        pages.text(exportHeading(message), authorFont, secondary);
        pages.space(6);
        const QString& text = message.content();
        const ThinkSplit split =
            message.type() == ChatMessageType::assistant ? splitThinking(text) : ThinkSplit{};
        if (split.hasThinkBlock && !split.isBlank(text)) {
            QFont heading = caption;
            heading.setBold(true);
            pages.text(QStringLiteral("Thinking"), heading, secondary, 12);
            pages.space(4);
            MarkdownLayout thinking(images);
            thinking.setStyle(thinkingStyle);
            thinking.setHardBreaks(true);
            thinking.setFetchImages(false);
            const auto [shown, cut] = pdfPart(split.thinking(text).trimmed().toString());
            thinking.setMarkdown(shown);
            thinking.setWidth(pages.width() - 12);
            pages.markdown(thinking, 12, mixColors(secondary, Qt::white, 0.5));
            if (cut > 0) pages.text(cutNote(cut), note, secondary, 12);
            pages.space(8);
        }
        MarkdownLayout answer(images);
        answer.setStyle(style);
        answer.setHardBreaks(message.type() == ChatMessageType::user);
        answer.setFetchImages(false);
        const auto [shown, cut] =
            pdfPart(split.hasThinkBlock ? split.answer(text).toString() : text);
        answer.setMarkdown(shown);
        answer.setWidth(pages.width());
        pages.markdown(answer, 0);
        if (cut > 0) {
            pages.space(6);
            pages.text(cutNote(cut), note, secondary);
        }
    }
    if (!painter.end()) {
        if (error) *error = device->errorString();
        return false;
    }
    return true;
}

}  // namespace parlote
