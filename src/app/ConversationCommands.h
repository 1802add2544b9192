#pragma once

// The commands of the Conversation menu, as actions over the main window's content
// (MainView): starting a new conversation, stopping, regenerating or editing a reply,
// copying the last reply, attaching a picture, the conversation's settings, pinning, renaming and
// deleting the selected conversation, moving through the sidebar (in the order it shows, pinned
// conversations first) and putting the keyboard focus into the input box. Each action is enabled
// only while it can act, following the application model's signals. New Conversation, Stop and the
// moves through the sidebar leave the keyboard focus in the input box, where the next words go.
//
// The shortcuts work wherever the focus is in the window: the actions are added to the
// view with the window as their shortcut context. Two exceptions keep a key where it
// belongs: Delete deletes a conversation only while the sidebar has the focus (a text
// field keeps its Delete key), and Escape stops a reply everywhere except in a text field
// of its own (the rename field, an in-place editor of the transcript), where it keeps its
// usual meaning; the message input box is not such a field. Dialogs and sheets are
// windows of their own, so the window's shortcuts never reach them.
//
// Interface thread only.

#include <QObject>

class QAction;
class QWidget;

namespace parlote {

class MainView;

class ConversationCommands : public QObject {
    Q_OBJECT
public:
    /// Makes the actions over `view`, which outlives them (they are its children).
    explicit ConversationCommands(MainView* view);

    QAction* newConversation() const { return newConversation_; }
    QAction* search() const { return search_; }
    QAction* stop() const { return stop_; }
    QAction* regenerate() const { return regenerate_; }
    QAction* editLastMessage() const { return editLast_; }
    QAction* copyLastReply() const { return copyLastReply_; }
    /// "Conversation Settings…" (Ctrl+Shift+S), the view's (MainView::conversationSettingsAction).
    QAction* conversationSettings() const { return settings_; }
    /// "Attach Picture…" (Ctrl+Shift+A), the view's (MainView::attachPictureAction).
    QAction* attachPicture() const { return attachPicture_; }
    /// "Pin Conversation" or "Unpin Conversation", by the selected conversation's pin.
    QAction* pin() const { return pin_; }
    QAction* rename() const { return rename_; }
    QAction* remove() const { return remove_; }
    QAction* previousConversation() const { return previous_; }
    QAction* nextConversation() const { return next_; }
    QAction* focusInput() const { return focusInput_; }

    /// The actions in menu order, with a null entry where a separator belongs.
    QList<QAction*> menuLayout() const;

    /// Enables each action by whether it can act now. Runs on every signal of the model
    /// that changes that; public for the owner's own changes.
    void updateEnabled();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* make(const QString& iconName, const QString& text);
    /// The place of the selection in the sidebar's order (pinnedFirst, headers not
    /// counted): 0 for "New Conversation", i + 1 for the conversation shown i-th, -1 when
    /// the selection is not in the list.
    int selectedRow() const;
    void selectRow(int row);
    /// Whether `widget` is a text field other than the message input box, whose Escape
    /// is its own.
    bool ownsEscape(const QWidget* widget) const;

    MainView* view_;
    QAction* newConversation_;
    QAction* search_;
    QAction* stop_;
    QAction* regenerate_;
    QAction* editLast_;
    QAction* copyLastReply_;
    QAction* settings_;
    QAction* attachPicture_;
    QAction* pin_;
    QAction* rename_;
    QAction* remove_;
    QAction* previous_;
    QAction* next_;
    QAction* focusInput_;
};

}  // namespace parlote
