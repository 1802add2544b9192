#pragma once

// The transcript as assistive technology (a screen reader) finds it. The view paints its
// messages itself, so without this there would be nothing in it to read.
//
// The view is a list named "Transcript" with one item per message, in order. An item is
// named for who wrote the message and when ("You, 10:42", "Model, 10:43", "Error, 10:44",
// the time as the meta line shows it); its description tells what else the meta line and
// the thinking line say ("Stopped", "Version 2 of 3", "Thought for 3 seconds"). Its text
// (QAccessibleTextInterface) is the message as it reads on screen: plain text without the
// Markdown syntax, a reply's answer without its think block, the reasoning before it only
// while it is unfolded, the last part of a message too long to show under the notice
// that says so. Its actions (QAccessibleActionInterface) are those its row offers: "Copy",
// "Regenerate", "Edit", the version switcher's "Previous Version" and "Next Version",
// "Show Reasoning" or "Hide Reasoning", "Show All"; each does what its button does. The
// item of the current message (TranscriptView.h) is selected, and focused while the view
// has the focus.
//
// Items are made when assistive technology first asks for them, from the message rather
// than from its layout, so reading a transcript of ten thousand messages lays out none of
// those out of view. They are registered with QAccessible and kept by message id, so an
// item's id stays the same for as long as its message is in the transcript, and each is
// deleted (after an ObjectDestroyed event) when its message leaves the transcript, when
// another conversation opens, or with the view.
//
// A reply that finishes while the user waits is announced. Qt 6.4 has no announcement
// event, and AT-SPI screen readers such as Orca ignore most events of objects away from
// the focus, but they always present a notification that shows: so the reply's item gets
// a child of role Notification, named "Model replied" (or "Reply failed" for an error),
// whose text is the start of the reply and whose one child, a label, says the same for
// readers that read a notification's labels; an ObjectShow event (AT-SPI's
// "object:state-changed:showing") presents it. It stays until the next reply starts or
// its message leaves.
//
// Interface thread only.

#include <QAccessible>
#include <QHash>
#include <QUuid>

namespace parlote {

class TranscriptView;

/// Installs the factory that gives each TranscriptView the accessible interface above.
/// Once per process, however often it is called.
void installTranscriptAccessibility();

/// The accessible items of one view's messages, kept by message id.
class TranscriptAccessibleItems {
public:
    /// How many characters of a reply its announcement reads at most.
    static constexpr qsizetype announcedLength = 1000;

    explicit TranscriptAccessibleItems(TranscriptView* view);
    ~TranscriptAccessibleItems();
    TranscriptAccessibleItems(const TranscriptAccessibleItems&) = delete;
    TranscriptAccessibleItems& operator=(const TranscriptAccessibleItems&) = delete;

    /// The item of the message `id` of the transcript, made and registered when it has none.
    QAccessibleInterface* item(const QUuid& id);
    bool hasItems() const { return !items_.isEmpty(); }
    /// The item of `id` if it has one.
    QAccessibleInterface* find(const QUuid& id) const;
    /// Deletes the items of messages that left the transcript (while the view still holds
    /// them, so that the ObjectDestroyed event can name their place).
    void remove(const QList<QUuid>& ids);
    /// Deletes every item.
    void clear();

    /// Announces the finished reply `id`: see above.
    void announce(const QUuid& id);
    /// Takes the last announcement away.
    void dropAnnouncement();
    /// The announcement shown under the item of `id`, or null.
    QAccessibleInterface* announcement(const QUuid& id) const;
    /// The label in the announcement.
    QAccessibleInterface* announcementLabel() const;

private:
    TranscriptView* view_;
    QHash<QUuid, QAccessible::Id> items_;
    QUuid announced_;
    QAccessible::Id announcement_ = 0;
    QAccessible::Id label_ = 0;
};

}  // namespace parlote
