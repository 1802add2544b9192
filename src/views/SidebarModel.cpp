#include "SidebarModel.h"

#include <QRegularExpression>

#include "ThinkBlock.h"

namespace parlote::views_detail {

const QString SidebarModel::newConversationText = QStringLiteral("New Conversation");

namespace {

// Two lines are shown; a third tells the sidebar that there is more.
constexpr int kPreviewLines = 3;
// Two caption lines never show more of a line than this.
constexpr qsizetype kLineLength = 1000;

bool isFence(QStringView line) {
    const QStringView trimmed = line.trimmed();
    return trimmed.startsWith(QLatin1String("```")) || trimmed.startsWith(QLatin1String("~~~"));
}

// A line that only draws: a rule, a setext underline or a table's delimiter row.
bool isDrawing(const QString& line) {
    static const QRegularExpression rule(QStringLiteral(R"(^\s*([-*_=])(\s*\1){2,}\s*$)"));
    static const QRegularExpression delimiterRow(
        QStringLiteral(R"(^\s*\|?\s*:?-+:?\s*(\|\s*:?-+:?\s*)*\|?\s*$)"));
    return rule.match(line).hasMatch() || delimiterRow.match(line).hasMatch();
}

// The line's block marks at its start: quote markers, a heading's hashes, a list item's
// marker and a task's box, in any nesting.
QString withoutBlockMarks(QString line) {
    static const QRegularExpression quote(QStringLiteral(R"(^\s*>\s?)"));
    static const QRegularExpression heading(QStringLiteral(R"(^\s*#{1,6}(\s+|$))"));
    static const QRegularExpression closingHashes(QStringLiteral(R"(\s+#+\s*$)"));
    static const QRegularExpression item(QStringLiteral(R"(^\s*(?:[-*+]|\d{1,9}[.)])\s+)"));
    static const QRegularExpression task(QStringLiteral(R"(^\[[ xX]\]\s+)"));
    for (bool changed = true; changed;) {
        const qsizetype before = line.size();
        line.remove(quote);
        line.remove(item);
        line.remove(task);
        changed = line.size() != before;
    }
    if (heading.match(line).hasMatch()) {
        line.remove(heading);
        line.remove(closingHashes);
    }
    return line;
}

// Emphasis, strike-through and code marks go; images and links keep their text only.
QString withoutInlineMarks(QString line) {
    static const QRegularExpression image(QStringLiteral(R"(!\[([^\]]*)\]\([^)]*\))"));
    static const QRegularExpression link(QStringLiteral(R"(\[([^\]]*)\]\([^)]*\))"));
    static const QRegularExpression referenceLink(QStringLiteral(R"(\[([^\]]+)\]\[[^\]]*\])"));
    static const QRegularExpression autolink(
        QStringLiteral(R"(<((?:https?|ftp|mailto):[^>\s]+)>)"));
    static const QRegularExpression strong(QStringLiteral(R"((\*\*|__)(?=\S)(.+?)(?<=\S)\1)"));
    static const QRegularExpression strike(QStringLiteral(R"(~~(?=\S)(.+?)(?<=\S)~~)"));
    // Single marks only where they can open and close emphasis: "2 * 3 * 4" and
    // snake_case names stay as they are.
    static const QRegularExpression starred(
        QStringLiteral(R"((?<![\w*])\*(?=[^\s*])(.+?)(?<=[^\s*])\*(?![\w*]))"));
    static const QRegularExpression underscored(
        QStringLiteral(R"((?<![\w_])_(?=[^\s_])(.+?)(?<=[^\s_])_(?![\w_]))"));
    static const QRegularExpression escaped(QStringLiteral(R"(\\([\\`*_{}\[\]()#+\-.!>~|]))"));
    line.replace(image, QStringLiteral("\\1"));
    line.replace(link, QStringLiteral("\\1"));
    line.replace(referenceLink, QStringLiteral("\\1"));
    line.replace(autolink, QStringLiteral("\\1"));
    line.replace(strong, QStringLiteral("\\2"));
    line.replace(strike, QStringLiteral("\\1"));
    line.replace(starred, QStringLiteral("\\1"));
    line.replace(underscored, QStringLiteral("\\1"));
    line.remove(QLatin1Char('`'));
    line.replace(escaped, QStringLiteral("\\1"));
    return line;
}

}  // namespace

QString SidebarModel::previewText(const QString& lastMessage) {
    const ThinkSplit split = splitThinking(lastMessage);
    const QStringView text = split.answer(lastMessage);
    QStringList lines;
    bool inCode = false;
    for (qsizetype start = 0; start < text.size() && lines.size() < kPreviewLines;) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0) end = text.size();
        const QStringView source = text.mid(start, std::min(end - start, kLineLength));
        start = end + 1;
        if (isFence(source)) {
            inCode = !inCode;
            continue;
        }
        QString line = source.toString();
        line.replace(QLatin1Char('\t'), QLatin1Char(' '));
        line.remove(QLatin1Char('\r'));
        if (!inCode) {
            if (isDrawing(line)) continue;
            line = withoutInlineMarks(withoutBlockMarks(line));
        }
        line = line.trimmed();
        if (!line.isEmpty()) lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

void SidebarModel::setConversations(const QList<Conversation>& conversations) {
    const bool sameRows = sameIds(conversations);
    if (!sameRows) beginResetModel();
    conversations_ = conversations;
    previews_.clear();
    previews_.reserve(conversations_.size());
    for (const Conversation& conversation : conversations_)
        previews_ << previewText(conversation.lastMessage());
    if (!sameRows) {
        endResetModel();
    } else if (!conversations_.isEmpty()) {
        emit dataChanged(index(1), index(int(conversations_.size())));
    }
}

bool SidebarModel::sameIds(const QList<Conversation>& other) const {
    if (other.size() != conversations_.size()) return false;
    for (qsizetype i = 0; i < other.size(); ++i)
        if (!(other[i].id() == conversations_[i].id())) return false;
    return true;
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1 + int(conversations_.size());
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (index.row() == 0) {
        switch (role) {
            case Qt::DisplayRole:
            case Qt::AccessibleTextRole:
                return newConversationText;
            case Qt::AccessibleDescriptionRole:
                return QObject::tr("Starts a new conversation");
            default:
                return {};
        }
    }
    const qsizetype row = index.row() - 1;
    const Conversation& conversation = conversations_[row];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return conversation.title();
        case LastMessageRole:
            return conversation.lastMessage();
        case PreviewRole:
            return previews_[row];
        case Qt::AccessibleDescriptionRole:
            // Read after the title: the last message as the sidebar shows it.
            return QString(previews_[row]).replace(QLatin1Char('\n'), QLatin1Char(' '));
        default:
            return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace parlote::views_detail
