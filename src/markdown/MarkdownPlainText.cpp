#include "MarkdownPlainText.h"

#include <QStringList>
#include <type_traits>

namespace parlote {

namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

void appendInlines(const Inlines& inlines, QString& out) {
    for (const InlineNode& node : inlines) {
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, inl::Text> || std::is_same_v<T, inl::Code>) {
                    out += fromUtf8(v.text);
                } else if constexpr (std::is_same_v<T, inl::Html>) {
                    out += fromUtf8(v.html);  // shown literally, so read literally
                } else if constexpr (std::is_same_v<T, inl::SoftBreak>) {
                    out += u' ';
                } else if constexpr (std::is_same_v<T, inl::LineBreak>) {
                    out += u'\n';
                } else {
                    appendInlines(v.children, out);  // emphasis, links, an image's alt text
                }
            },
            node.value);
    }
}

// A code block's text without the line break that ends its last line.
QString codeText(const std::string& content) {
    QString text = fromUtf8(content);
    if (text.endsWith(u'\n')) text.chop(1);
    return text;
}

class Writer {
public:
    QString take() { return std::move(lines_).join(u'\n'); }

    void blocks(const Blocks& blocks) {
        for (const BlockNode& block : blocks) this->block(block);
    }

private:
    // A block's lines, the first after `marker_` (a list item's marker, until used).
    void add(const QString& text) {
        const QStringList lines = text.split(u'\n');
        for (const QString& line : lines) {
            lines_.append(marker_ + line);
            marker_.clear();
        }
    }

    void item(const QString& marker, const Blocks& blocks) {
        marker_ = marker + u' ';
        if (blocks.empty()) {
            add(QString());
        } else {
            this->blocks(blocks);
        }
        marker_.clear();
    }

    void block(const BlockNode& block) {
        std::visit(
            [&](const auto& b) {
                using T = std::decay_t<decltype(b)>;
                if constexpr (std::is_same_v<T, blk::Paragraph> ||
                              std::is_same_v<T, blk::Heading>) {
                    QString text;
                    appendInlines(b.inlines, text);
                    add(text);
                } else if constexpr (std::is_same_v<T, blk::Blockquote>) {
                    blocks(b.blocks);
                } else if constexpr (std::is_same_v<T, blk::BulletedList>) {
                    for (const Blocks& entry : b.items) item(QStringLiteral("\u2022"), entry);
                } else if constexpr (std::is_same_v<T, blk::NumberedList>) {
                    long long n = b.start;
                    for (const Blocks& entry : b.items) item(QString::number(n++) + u'.', entry);
                } else if constexpr (std::is_same_v<T, blk::TaskList>) {
                    for (const blk::TaskItem& entry : b.items)
                        item(
                            entry.isCompleted ? QStringLiteral("\u2611") : QStringLiteral("\u2610"),
                            entry.blocks);
                } else if constexpr (std::is_same_v<T, blk::CodeBlock>) {
                    add(codeText(b.content));
                } else if constexpr (std::is_same_v<T, blk::HtmlBlock>) {
                    add(codeText(b.content));  // shown as its source text
                } else if constexpr (std::is_same_v<T, blk::Table>) {
                    for (const std::vector<Inlines>& row : b.rows) {
                        QStringList cells;
                        for (const Inlines& cell : row) {
                            QString text;
                            appendInlines(cell, text);
                            cells.append(text.simplified());
                        }
                        add(cells.join(u'\t'));
                    }
                } else if constexpr (std::is_same_v<T, blk::ThematicBreak>) {
                    // A rule says nothing.
                }
            },
            block.value);
    }

    QStringList lines_;
    QString marker_;
};

}  // namespace

QString plainText(const Blocks& blocks) {
    Writer writer;
    writer.blocks(blocks);
    return writer.take();
}

QString plainText(const Inlines& inlines) {
    QString out;
    appendInlines(inlines, out);
    return out;
}

QString markdownToPlainText(const QString& text, MarkdownOptions options) {
    const QByteArray utf8 = text.toUtf8();
    return plainText(
        parseMarkdown(std::string_view(utf8.constData(), size_t(utf8.size())), options));
}

}  // namespace parlote
