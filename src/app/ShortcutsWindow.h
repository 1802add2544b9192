#pragma once

// The "Keyboard Shortcuts" window of the Help menu: every shortcut of the application in
// groups (Conversation, Input, Sidebar, Application), each with what it does and its
// keys as this desktop writes them. The list is made from the actions themselves, so it
// always shows the keys they answer to, followed in each group by the few keys that are
// not actions (Return sends, Up edits the last message, Escape closes a dialog…). It is
// not modal: it can stay open beside the main window.
//
// Interface thread only.

#include <QDialog>
#include <QList>
#include <QString>

class QAction;
class QTreeWidget;

namespace parlote {

class ShortcutsWindow : public QDialog {
    Q_OBJECT
public:
    enum class Group { Conversation, Input, Sidebar, Application };

    /// Files `action` under `group`; `where` says where its keys work when that is not
    /// the whole window ("in the sidebar"). An action without a group is filed under
    /// Application.
    static void setGroup(QAction* action, Group group, const QString& where = {});
    static QString title(Group group);

    struct Entry {
        QString what;  // the action's text without its mnemonic, with `where`
        QString keys;  // every key sequence in the desktop's own words, comma-separated
        friend bool operator==(const Entry&, const Entry&) = default;
    };
    struct Section {
        QString title;
        QList<Entry> entries;
    };
    /// What the window lists for `actions`: those with a shortcut under their group in the
    /// order given, then the group's keys that are not actions. Groups come in the order
    /// of `Group`; an empty one is left out.
    static QList<Section> sections(const QList<QAction*>& actions);

    explicit ShortcutsWindow(QWidget* parent = nullptr);

    /// Lists the shortcuts of `actions` (and the keys that are not actions) anew.
    void setActions(const QList<QAction*>& actions);
    QTreeWidget* table() const { return table_; }

private:
    QTreeWidget* table_;
};

}  // namespace parlote
