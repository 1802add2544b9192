#include "ShortcutsWindow.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>

namespace parlote {

namespace {

constexpr char groupProperty[] = "parloteShortcutGroup";
constexpr char whereProperty[] = "parloteShortcutWhere";

constexpr std::array allGroups = {ShortcutsWindow::Group::Conversation,
                                  ShortcutsWindow::Group::Input, ShortcutsWindow::Group::Sidebar,
                                  ShortcutsWindow::Group::Application};

QString keyText(const QKeySequence& keys) {
    return keys.toString(QKeySequence::NativeText);
}

/// A menu item's text as read: the '&' that marks its mnemonic dropped ("&&" is one '&')
/// and a trailing ellipsis too.
QString plainText(const QString& text) {
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && ++i == text.size()) break;
        plain += text.at(i);
    }
    if (plain.endsWith(QChar(0x2026))) plain.chop(1);
    return plain;
}

QString withWhere(const QString& what, const QString& where) {
    return where.isEmpty() ? what : ShortcutsWindow::tr("%1 (%2)").arg(what, where);
}

/// The keys of a group that are not actions: what a widget does with them itself.
QList<ShortcutsWindow::Entry> otherKeys(ShortcutsWindow::Group group) {
    using Group = ShortcutsWindow::Group;
    const auto tr = [](const char* text) { return ShortcutsWindow::tr(text); };
    const QString inRename = tr("in the rename field");
    const QString inTranscript = tr("in the transcript");
    const QString inSearch = tr("in the search field");
    const QString inFind = tr("in the find field");
    switch (group) {
        case Group::Conversation:
            return {
                {withWhere(tr("Move between messages"), inTranscript),
                 keyText(QKeySequence(Qt::Key_Up)) + QStringLiteral(", ") +
                     keyText(QKeySequence(Qt::Key_Down))},
                {withWhere(tr("First or last message"), inTranscript),
                 keyText(QKeySequence(Qt::Key_Home)) + QStringLiteral(", ") +
                     keyText(QKeySequence(Qt::Key_End))},
                {withWhere(tr("Select all of the conversation"), inTranscript),
                 keyText(QKeySequence(QKeySequence::SelectAll))},
                {withWhere(tr("Copy the selected text"), inTranscript),
                 keyText(QKeySequence(QKeySequence::Copy))},
                {withWhere(tr("Next match"), inFind), keyText(QKeySequence(Qt::Key_Return))},
                {withWhere(tr("Previous match"), inFind),
                 keyText(QKeySequence(Qt::SHIFT | Qt::Key_Return))},
                {withWhere(tr("Close the find bar"), inFind),
                 keyText(QKeySequence(Qt::Key_Escape))},
                {withWhere(tr("Bring back a deleted conversation"),
                           tr("while “Conversation deleted” shows")),
                 keyText(QKeySequence(QKeySequence::Undo))},
            };
        case Group::Input:
            return {
                {tr("Send the message"), keyText(QKeySequence(Qt::Key_Return))},
                {tr("Start a new line"), keyText(QKeySequence(Qt::SHIFT | Qt::Key_Return))},
                {withWhere(tr("Edit Last Message"), tr("in the empty input box")),
                 keyText(QKeySequence(Qt::Key_Up))},
            };
        case Group::Sidebar:
            return {
                {withWhere(tr("Keep the new title"), inRename),
                 keyText(QKeySequence(Qt::Key_Return))},
                {withWhere(tr("Keep the old title"), inRename),
                 keyText(QKeySequence(Qt::Key_Escape))},
                {withWhere(tr("Choose a result"), inSearch),
                 keyText(QKeySequence(Qt::Key_Up)) + QStringLiteral(", ") +
                     keyText(QKeySequence(Qt::Key_Down))},
                {withWhere(tr("Open the result at its message"), inSearch),
                 keyText(QKeySequence(Qt::Key_Return))},
                {withWhere(tr("Empty the field and go back to the input box"), inSearch),
                 keyText(QKeySequence(Qt::Key_Escape))},
            };
        case Group::Application:
            return {
                {tr("Move between controls and buttons"),
                 keyText(QKeySequence(Qt::Key_Tab)) + QStringLiteral(", ") +
                     keyText(QKeySequence(Qt::SHIFT | Qt::Key_Tab))},
                {tr("Close a dialog or sheet"), keyText(QKeySequence(Qt::Key_Escape))},
            };
    }
    return {};
}

}  // namespace

void ShortcutsWindow::setGroup(QAction* action, Group group, const QString& where) {
    action->setProperty(groupProperty, int(group));
    action->setProperty(whereProperty, where);
}

QString ShortcutsWindow::title(Group group) {
    switch (group) {
        case Group::Conversation:
            return tr("Conversation");
        case Group::Input:
            return tr("Input");
        case Group::Sidebar:
            return tr("Sidebar");
        case Group::Application:
            return tr("Application");
    }
    return {};
}

QList<ShortcutsWindow::Section> ShortcutsWindow::sections(const QList<QAction*>& actions) {
    QList<Section> result;
    for (Group group : allGroups) {
        Section section{title(group), {}};
        for (const QAction* action : actions) {
            if (!action || action->shortcuts().isEmpty()) continue;
            const QVariant filed = action->property(groupProperty);
            if (Group(filed.isValid() ? filed.toInt() : int(Group::Application)) != group) continue;
            QStringList keys;
            for (const QKeySequence& sequence : action->shortcuts()) keys << keyText(sequence);
            section.entries.append(
                {withWhere(plainText(action->text()), action->property(whereProperty).toString()),
                 keys.join(QStringLiteral(", "))});
        }
        section.entries.append(otherKeys(group));
        if (!section.entries.isEmpty()) result.append(section);
    }
    return result;
}

ShortcutsWindow::ShortcutsWindow(QWidget* parent) : QDialog(parent), table_(new QTreeWidget(this)) {
    setWindowTitle(tr("Keyboard Shortcuts"));
    setModal(false);

    table_->setColumnCount(2);
    table_->setHeaderLabels({tr("Action"), tr("Keys")});
    table_->setRootIsDecorated(false);
    table_->setItemsExpandable(false);
    table_->setUniformRowHeights(true);
    table_->setAccessibleName(tr("Keyboard shortcuts"));
    table_->header()->setStretchLastSection(false);
    table_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    table_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_, 1);
    layout->addWidget(buttons);
    resize(560, 520);
}

void ShortcutsWindow::setActions(const QList<QAction*>& actions) {
    table_->clear();
    QFont heading = table_->font();
    heading.setBold(true);
    for (const Section& section : sections(actions)) {
        auto* group = new QTreeWidgetItem(table_, {section.title});
        group->setFont(0, heading);
        group->setFlags(Qt::ItemIsEnabled);
        group->setFirstColumnSpanned(true);
        for (const Entry& entry : section.entries) {
            auto* item = new QTreeWidgetItem(group, {entry.what, entry.keys});
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        }
    }
    table_->expandAll();
}

}  // namespace parlote
