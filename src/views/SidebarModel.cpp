#include "SidebarModel.h"

#include <QRegularExpression>

#include "ThinkBlock.h"

namespace parlote::views_detail {

const QString SidebarModel::newConversationText = QStringLiteral("New Conversation");
const QString SidebarModel::pinnedHeaderText = QStringLiteral("Pinned");
const QString SidebarModel::othersHeaderText = QStringLiteral("Others");

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

const QString& SidebarModel::previewOf(qsizetype shownRow) const {
    std::optional<QString>& preview = previews_[size_t(shownRow)];
    if (!preview) preview = previewText(shown_[shownRow].lastMessage());
    return *preview;
}

void SidebarModel::setConversations(const QList<Conversation>& conversations) {
    const bool sameRows = sameIds(conversations);
    if (!sameRows) beginResetModel();
    conversations_ = conversations;
    shown_ = pinnedFirst(conversations_);
    previews_.assign(size_t(shown_.size()), std::nullopt);
    rows_.clear();
    rows_.reserve(shown_.size() + 2);
    const bool anyPinned = !shown_.isEmpty() && shown_.first().pinned();
    for (qsizetype i = 0; i < shown_.size(); ++i) {
        if (anyPinned && i == 0) rows_.append(Row{-1, pinnedHeaderText});
        if (anyPinned && !shown_[i].pinned() && shown_[i - 1].pinned())
            rows_.append(Row{-1, othersHeaderText});
        rows_.append(Row{i, {}});
    }
    if (!sameRows) {
        endResetModel();
    } else if (!rows_.isEmpty()) {
        emit dataChanged(index(1), index(int(rows_.size())));
    }
}

bool SidebarModel::sameIds(const QList<Conversation>& other) const {
    if (other.size() != shown_.size()) return false;
    const QList<Conversation> ordered = pinnedFirst(other);
    for (qsizetype i = 0; i < ordered.size(); ++i)
        if (!(ordered[i].id() == shown_[i].id()) || ordered[i].pinned() != shown_[i].pinned())
            return false;
    return true;
}

SidebarModel::RowKind SidebarModel::kindOf(int row) const {
    if (row <= 0) return RowKind::NewConversation;
    return conversationAt(row) ? RowKind::Conversation : RowKind::Header;
}

const Conversation* SidebarModel::conversationAt(int row) const {
    if (row <= 0 || row > rows_.size()) return nullptr;
    const qsizetype shown = rows_[row - 1].shown;
    return shown < 0 ? nullptr : &shown_[shown];
}

int SidebarModel::rowOf(const SidebarID& id) const {
    if (id.isNewConversation()) return 0;
    for (qsizetype i = 0; i < rows_.size(); ++i) {
        const qsizetype shown = rows_[i].shown;
        if (shown >= 0 && shown_[shown].id() == id) return int(i) + 1;
    }
    return -1;
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1 + int(rows_.size());
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
            case KindRole:
                return int(RowKind::NewConversation);
            default:
                return {};
        }
    }
    const Row& entry = rows_[index.row() - 1];
    if (entry.shown < 0) {
        switch (role) {
            case Qt::DisplayRole:
            case Qt::AccessibleTextRole:
                return entry.header;
            case KindRole:
                return int(RowKind::Header);
            default:
                return {};
        }
    }
    const qsizetype row = entry.shown;
    const Conversation& conversation = shown_[row];
    switch (role) {
        case Qt::DisplayRole:
            return conversation.title();
        case Qt::AccessibleTextRole:
            return conversation.pinned() ? QObject::tr("%1, pinned").arg(conversation.title())
                                         : conversation.title();
        case LastMessageRole:
            return conversation.lastMessage();
        case PreviewRole:
            return previewOf(row);
        case KindRole:
            return int(RowKind::Conversation);
        case Qt::AccessibleDescriptionRole:
            // Read after the title: the last message as the sidebar shows it.
            return QString(previewOf(row)).replace(QLatin1Char('\n'), QLatin1Char(' '));
        default:
            return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    // A header is neither selected nor walked onto with the arrow keys.
    if (!index.isValid() || kindOf(index.row()) == RowKind::Header) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace parlote::views_detail
