#include "TranscriptAccessible.h"

#include <QAccessibleWidget>
#include <QKeySequence>
#include <QWindow>
#include <type_traits>
#include <variant>

#include "LongMessage.h"
#include "MarkdownParser.h"
#include "MarkdownPlainText.h"
#include "ThinkBlock.h"
#include "TranscriptView.h"

namespace parlote {

namespace {

// The action names, as assistive technology is given them (and doAction() takes them).
const QString kCopy = QStringLiteral("Copy");
const QString kRegenerate = QStringLiteral("Regenerate");
const QString kEdit = QStringLiteral("Edit");
const QString kPreviousVersion = QStringLiteral("Previous Version");
const QString kNextVersion = QStringLiteral("Next Version");
const QString kShowReasoning = QStringLiteral("Show Reasoning");
const QString kHideReasoning = QStringLiteral("Hide Reasoning");
const QString kShowAll = QStringLiteral("Show All");
const QString kContextSettings = QStringLiteral("Context Settings");
const QString kCopyCode = QStringLiteral("Copy Code");  // and "Copy Code 2", ... after the first
const QString kOpenPicture = QStringLiteral("Open Picture");  // "Open Picture 2", ... likewise

// The part of `text` the transcript shows, as plain text: all of it, or the last part of
// a text too long to show under the notice that says so.
QString shownPlainText(const QString& text, bool markdown, bool hardBreaks) {
    const ShownPart part = shownPart(text, markdown);
    const QString shown = part.isCut() ? shownText(text, part) : text;
    QString plain = markdown ? markdownToPlainText(shown, MarkdownOptions{hardBreaks}) : shown;
    if (part.isCut()) plain = cutNotice(text.size() - part.start, text.size()) + u'\n' + plain;
    return plain;
}

// How many code blocks `blocks` hold at any depth: the view gives each a Copy button.
int codeBlocksIn(const Blocks& blocks) {
    int count = 0;
    for (const BlockNode& node : blocks) {
        std::visit(
            [&count](const auto& b) {
                using T = std::decay_t<decltype(b)>;
                if constexpr (std::is_same_v<T, blk::CodeBlock>) {
                    ++count;
                } else if constexpr (std::is_same_v<T, blk::Blockquote>) {
                    count += codeBlocksIn(b.blocks);
                } else if constexpr (std::is_same_v<T, blk::BulletedList> ||
                                     std::is_same_v<T, blk::NumberedList>) {
                    for (const Blocks& item : b.items) count += codeBlocksIn(item);
                } else if constexpr (std::is_same_v<T, blk::TaskList>) {
                    for (const blk::TaskItem& item : b.items) count += codeBlocksIn(item.blocks);
                }
            },
            node.value);
    }
    return count;
}

// A text that assistive technology reads but cannot select or move a caret in.
class ReadOnlyText : public QAccessibleTextInterface {
public:
    virtual QString wholeText() const = 0;

    void selection(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override {
        const QString all = wholeText();
        const qsizetype size = all.size();
        const qsizetype start = qBound(qsizetype(0), qsizetype(startOffset), size);
        const qsizetype end = endOffset < 0 ? size : qBound(start, qsizetype(endOffset), size);
        return all.mid(start, end - start);
    }
    int characterCount() const override { return int(wholeText().size()); }
    // Where each character is would take the layout the text is read without.
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* startOffset, int* endOffset) const override {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }
};

}  // namespace

// ---- a message ----------------------------------------------------------------------------

class TranscriptMessageAccessible : public QAccessibleInterface,
                                    public ReadOnlyText,
                                    public QAccessibleActionInterface {
public:
    TranscriptMessageAccessible(TranscriptView* view, const QUuid& id) : view_(view), id_(id) {}

    const QUuid& id() const { return id_; }

    /// The row of the message, or -1 once it left the transcript. Looked up from the row it
    /// had last time, which it usually still has.
    int row() const {
        const MessageList& messages = view_->messages_;
        if (hint_ >= 0 && hint_ < messages.size() && messages.at(hint_).id() == id_) return hint_;
        const std::optional<qsizetype> at = messages.lastIndexOf(id_);
        hint_ = at ? int(*at) : -1;
        return hint_;
    }

    bool isValid() const override { return row() >= 0; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_->window()->windowHandle(); }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(view_);
    }
    // An announcement of the message, while there is one.
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? view_->accessibleItems_->announcement(id_) : nullptr;
    }
    int childCount() const override { return view_->accessibleItems_->announcement(id_) ? 1 : 0; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child == view_->accessibleItems_->announcement(id_) ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        const int at = row();
        if (at < 0) return {};
        const ChatMessage& message = view_->messages_.at(at);
        switch (t) {
            case QAccessible::Name: {
                const QString time = TranscriptView::timestampText(message.timestamp());
                switch (message.type()) {
                    case ChatMessageType::user:
                        return TranscriptView::tr("You, %1").arg(time);
                    case ChatMessageType::assistant:
                        return TranscriptView::tr("Model, %1").arg(time);
                    case ChatMessageType::error:
                        return TranscriptView::tr("Error, %1").arg(time);
                }
                return {};
            }
            case QAccessible::Description:
                return description(message);
            default:
                return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        const int at = row();
        if (at < 0) return {};
        const QRect local = view_->rowRectAsKnown(at);
        return QRect(view_->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.focusable = true;
        s.selectable = true;
        s.readOnly = true;
        s.multiLine = true;
        const int at = row();
        if (at < 0) {
            s.invalid = true;
            return s;
        }
        s.selected = at == view_->accessibleCurrentRow();
        s.focused = s.selected && view_->hasFocus();
        s.invisible = !view_->isVisible();
        s.offscreen = !view_->viewport()->rect().intersects(view_->rowRectAsKnown(at));
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    // The text: the message as it reads on screen, worked out again only when the message
    // or the unfolding of its reasoning changed.
    QString wholeText() const override {
        const int at = row();
        if (at < 0) return {};
        const ChatMessage& message = view_->messages_.at(at);
        const bool expanded = view_->isThinkingExpanded(id_);
        if (!cached_ || !cachedContent_.isSharedWith(message.content()) ||
            cachedExpanded_ != expanded || cachedStopped_ != message.stopped() ||
            cachedSeconds_ != message.thinkingSeconds()) {
            cachedText_ = readMessage(message, expanded);
            cachedContent_ = message.content();
            cachedExpanded_ = expanded;
            cachedStopped_ = message.stopped();
            cachedSeconds_ = message.thinkingSeconds();
            cached_ = true;
        }
        return cachedText_;
    }

    // Actions: those the row offers now, in the order Tab visits its controls.
    QStringList actionNames() const override {
        const int at = row();
        if (at < 0) return {};
        const ChatMessage& message = view_->messages_.at(at);
        const bool busy = view_->replyInProgress_;
        QStringList names;
        const TranscriptView::Thinking thinking = thinkingOf(message);
        if (thinking == TranscriptView::Thinking::collapsed) names << kShowReasoning;
        if (thinking == TranscriptView::Thinking::expanded) names << kHideReasoning;
        if (isShownInPart(message)) names << kShowAll;
        // A picture sent with the message each: "Open Picture", "Open Picture 2", ...
        if (message.type() == ChatMessageType::user)
            for (qsizetype i = 0; i < message.images().size(); ++i)
                names << (i == 0 ? kOpenPicture : kOpenPicture + u' ' + QString::number(i + 1));
        // A code block's Copy button each: "Copy code", "Copy code 2", ...
        const int codeBlocks = codeBlocksOf(at, message);
        for (int i = 0; i < codeBlocks; ++i)
            names << (i == 0 ? kCopyCode : kCopyCode + u' ' + QString::number(i + 1));
        names << kCopy;
        if (view_->offersRegenerate(at) && !busy) names << kRegenerate;
        if (view_->offersEdit(at) && !busy) names << kEdit;
        if (message.hasVariants() && !busy) {
            if (message.variantIndex() > 0) names << kPreviousVersion;
            if (message.variantIndex() < message.variantCount() - 1) names << kNextVersion;
        }
        if (message.type() == ChatMessageType::assistant && message.stats() &&
            message.stats()->contextCut)
            names << kContextSettings;
        return names;
    }
    QString localizedActionName(const QString& name) const override {
        if (name == kCopy) return TranscriptView::tr("Copy");
        if (name == kRegenerate) return TranscriptView::tr("Regenerate");
        if (name == kEdit) return TranscriptView::tr("Edit");
        if (name == kPreviousVersion) return TranscriptView::tr("Previous Version");
        if (name == kNextVersion) return TranscriptView::tr("Next Version");
        if (name == kShowReasoning) return TranscriptView::tr("Show Reasoning");
        if (name == kHideReasoning) return TranscriptView::tr("Hide Reasoning");
        if (name == kShowAll) return TranscriptView::tr("Show All");
        if (name == kContextSettings) return TranscriptView::tr("Context Settings");
        if (name.startsWith(kCopyCode))
            return TranscriptView::tr("Copy Code") + name.mid(kCopyCode.size());
        if (name.startsWith(kOpenPicture))
            return TranscriptView::tr("Open Picture") + name.mid(kOpenPicture.size());
        return QAccessibleActionInterface::localizedActionName(name);
    }
    QString localizedActionDescription(const QString& name) const override {
        if (name == kCopy) return TranscriptView::tr("Copies the message");
        if (name == kRegenerate) return TranscriptView::tr("Asks for this reply again");
        if (name == kEdit) return TranscriptView::tr("Edits the message in place");
        if (name == kPreviousVersion) return TranscriptView::tr("Shows the previous version");
        if (name == kNextVersion) return TranscriptView::tr("Shows the next version");
        if (name == kShowReasoning) return TranscriptView::tr("Shows the model's reasoning");
        if (name == kHideReasoning) return TranscriptView::tr("Hides the model's reasoning");
        if (name == kShowAll) return TranscriptView::tr("Opens the whole message in a window");
        if (name == kContextSettings)
            return TranscriptView::tr(
                "The context was full: opens the conversation settings, where the context "
                "length is set");
        if (name.startsWith(kCopyCode))
            return TranscriptView::tr("Copies the code of a code block");
        if (name.startsWith(kOpenPicture))
            return TranscriptView::tr("Opens a picture sent with the message");
        return QAccessibleActionInterface::localizedActionDescription(name);
    }
    void doAction(const QString& name) override {
        const int at = row();
        if (at < 0 || !actionNames().contains(name)) return;
        using Control = TranscriptView::Control;
        Control control = Control::copy;
        if (name == kRegenerate) control = Control::regenerate;
        if (name == kEdit) control = Control::edit;
        if (name == kPreviousVersion) control = Control::previousVersion;
        if (name == kNextVersion) control = Control::nextVersion;
        if (name == kShowReasoning || name == kHideReasoning) control = Control::thinkingToggle;
        if (name == kShowAll) control = Control::showAll;
        if (name == kContextSettings) control = Control::contextSettings;
        int index = 0;
        if (name.startsWith(kCopyCode)) {
            control = Control::copyCode;
            index = qMax(1, name.mid(kCopyCode.size()).trimmed().toInt()) - 1;
        }
        if (name.startsWith(kOpenPicture)) {
            control = Control::picture;
            index = qMax(1, name.mid(kOpenPicture.size()).trimmed().toInt()) - 1;
        }
        view_->activate(at, control, index);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        // Regenerate is the window's Ctrl+R; the others are reached with Tab.
        if (name == kRegenerate)
            return {QKeySequence(Qt::CTRL | Qt::Key_R).toString(QKeySequence::NativeText)};
        return {};
    }

private:
    // How the thinking section of `message` shows, from its text alone (as thinkingState()
    // does from the layout's split).
    TranscriptView::Thinking thinkingOf(const ChatMessage& message) const {
        using Thinking = TranscriptView::Thinking;
        if (message.type() != ChatMessageType::assistant) return Thinking::none;
        const ThinkSplit split = splitThinking(message.content());
        if (!split.hasThinkBlock) return Thinking::none;
        if (!split.closed && !message.stopped()) return Thinking::live;
        if (split.isBlank(message.content())) return Thinking::none;
        return view_->isThinkingExpanded(id_) ? Thinking::expanded : Thinking::collapsed;
    }

    // The code blocks of a row: counted on its layout when it has one, else on the text it
    // shows (reading a long transcript must not lay out the rows out of view).
    int codeBlocksOf(int at, const ChatMessage& message) const {
        if (message.type() == ChatMessageType::error) return 0;
        if (view_->rows_[size_t(at)].everLaidOut) return int(view_->codeCopyButtonRects(at).size());
        QString body = message.content();
        if (message.type() == ChatMessageType::assistant) {
            const ThinkSplit split = splitThinking(body);
            if (split.hasThinkBlock) body = split.answer(body).toString();
        }
        const ShownPart part = shownPart(body, true);
        if (part.isCut()) body = shownText(body, part);
        return codeBlocksIn(parseMarkdown(body.toStdString()));
    }

    static bool isShownInPart(const ChatMessage& message) {
        QStringView body = message.content();
        if (message.type() == ChatMessageType::assistant) {
            const ThinkSplit split = splitThinking(body);
            if (split.hasThinkBlock) body = split.answer(body);
        }
        return body.size() > limits::kMaxShownMessageLength;
    }

    QString readMessage(const ChatMessage& message, bool expanded) const {
        const QString& content = message.content();
        switch (message.type()) {
            case ChatMessageType::error:
                return shownPlainText(content, false, false);
            case ChatMessageType::user:
                return shownPlainText(content, true, true);
            case ChatMessageType::assistant:
                break;
        }
        const ThinkSplit split = splitThinking(content);
        if (!split.hasThinkBlock) return shownPlainText(content, true, false);
        const QString answer = shownPlainText(split.answer(content).toString(), true, false);
        const bool finished = split.closed || message.stopped();
        if (!finished || !expanded || split.isBlank(content)) return answer;
        // Unfolded: the title line, the reasoning, then the answer, as they read on screen.
        QString text =
            TranscriptView::thinkingTitleFor(message, TranscriptView::Thinking::expanded);
        text += u'\n' + shownPlainText(split.thinking(content).toString(), true, false);
        if (!answer.isEmpty()) text += u'\n' + answer;
        return text;
    }

    QString description(const ChatMessage& message) const {
        QStringList parts;
        const TranscriptView::Thinking thinking = thinkingOf(message);
        if (thinking != TranscriptView::Thinking::none)
            parts << TranscriptView::thinkingTitleFor(message, thinking);
        if (message.stopped()) parts << TranscriptView::tr("Stopped");
        if (message.hasVariants())
            parts << TranscriptView::tr("Version %1 of %2")
                         .arg(message.variantIndex() + 1)
                         .arg(message.variantCount());
        return parts.join(QStringLiteral(", "));
    }

    TranscriptView* view_;
    QUuid id_;
    mutable int hint_ = -1;
    mutable bool cached_ = false;
    mutable QString cachedContent_;
    mutable bool cachedExpanded_ = false;
    mutable bool cachedStopped_ = false;
    mutable std::optional<double> cachedSeconds_;
    mutable QString cachedText_;
};

// ---- the announcement of a finished reply ------------------------------------------------

// The notification under the reply's item (`isLabel` false), and the label in it.
class TranscriptAnnouncementAccessible : public QAccessibleInterface, public ReadOnlyText {
public:
    TranscriptAnnouncementAccessible(TranscriptView* view, const QUuid& id, bool isLabel)
        : view_(view), id_(id), isLabel_(isLabel) {}

    bool isValid() const override { return view_->messages_.lastIndexOf(id_).has_value(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_->window()->windowHandle(); }
    QAccessibleInterface* parent() const override {
        return isLabel_ ? view_->accessibleItems_->announcement(id_)
                        : view_->accessibleItems_->find(id_);
    }
    QAccessibleInterface* child(int index) const override {
        return !isLabel_ && index == 0 ? view_->accessibleItems_->announcementLabel() : nullptr;
    }
    int childCount() const override { return isLabel_ ? 0 : 1; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child == this->child(0) ? 0 : -1;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name) return {};
        if (isLabel_) return wholeText();
        const std::optional<qsizetype> at = view_->messages_.lastIndexOf(id_);
        if (at && view_->messages_.at(*at).type() == ChatMessageType::error)
            return TranscriptView::tr("Reply failed");
        return TranscriptView::tr("Model replied");
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        const QAccessibleInterface* item = view_->accessibleItems_->find(id_);
        return item ? item->rect() : QRect();
    }
    QAccessible::Role role() const override {
        return isLabel_ ? QAccessible::StaticText : QAccessible::Notification;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.readOnly = true;
        s.invalid = !isValid();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface*>(this)
                                                  : nullptr;
    }

    // The start of the reply as its item reads, cut after a word.
    QString wholeText() const override {
        const QAccessibleInterface* item = view_->accessibleItems_->find(id_);
        if (!item) return {};
        QString text = static_cast<const TranscriptMessageAccessible*>(item)->wholeText();
        constexpr qsizetype limit = TranscriptAccessibleItems::announcedLength;
        if (text.size() > limit) {
            qsizetype cut = text.lastIndexOf(u' ', limit);
            if (cut < limit / 2) cut = limit;
            text = text.left(cut) + u'…';
        }
        return text;
    }

private:
    TranscriptView* view_;
    QUuid id_;
    bool isLabel_;
};

// ---- the view ----------------------------------------------------------------------------

class TranscriptAccessible : public QAccessibleWidget {
public:
    explicit TranscriptAccessible(TranscriptView* view)
        : QAccessibleWidget(view, QAccessible::List) {}

    // The view while it is whole: null once its destructor has run (its base classes still
    // send events on the way out) or before its items exist.
    TranscriptView* view() const {
        auto* v = qobject_cast<TranscriptView*>(object());
        return v && v->accessibleItems_ ? v : nullptr;
    }

    int childCount() const override {
        const TranscriptView* v = view();
        return v ? v->messageRowCount() : 0;
    }
    QAccessibleInterface* child(int index) const override {
        TranscriptView* v = view();
        if (!v || index < 0 || index >= v->messageRowCount()) return nullptr;
        return v->accessibleItems_->item(v->messages_.at(index).id());
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const TranscriptView* v = view();
        const auto* item = dynamic_cast<const TranscriptMessageAccessible*>(child);
        if (!v || !item || v->accessibleItems_->find(item->id()) != child) return -1;
        return item->row();
    }
    QAccessibleInterface* focusChild() const override {
        TranscriptView* v = view();
        // Within the view, the focus is on a message, or in the editor over one.
        if (!v || !v->hasFocus()) return QAccessibleWidget::focusChild();
        const int row = v->accessibleCurrentRow();
        return row >= 0 ? child(row) : nullptr;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        TranscriptView* v = view();
        if (!v) return nullptr;
        const QPoint at = v->viewport()->mapFromGlobal(QPoint(x, y));
        if (!v->viewport()->rect().contains(at)) return nullptr;
        const int row = v->rowAt(v->top_ + at.y());
        if (row >= v->messageRowCount() || !v->rowRectAsKnown(row).contains(at)) return nullptr;
        return child(row);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            return name.isEmpty() ? TranscriptView::tr("Transcript") : name;
        }
        return QAccessibleWidget::text(t);
    }
};

namespace {

QAccessibleInterface* transcriptFactory(const QString& className, QObject* object) {
    if (object && object->isWidgetType() &&
        className == QLatin1String(TranscriptView::staticMetaObject.className()))
        return new TranscriptAccessible(static_cast<TranscriptView*>(object));
    return nullptr;
}

}  // namespace

void installTranscriptAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(transcriptFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

// ---- the items ---------------------------------------------------------------------------

TranscriptAccessibleItems::TranscriptAccessibleItems(TranscriptView* view) : view_(view) {}

TranscriptAccessibleItems::~TranscriptAccessibleItems() {
    // With the view: assistive technology hears of the view going, and with it its items.
    dropAnnouncement();
    for (const QAccessible::Id id : std::as_const(items_))
        QAccessible::deleteAccessibleInterface(id);
}

QAccessibleInterface* TranscriptAccessibleItems::find(const QUuid& id) const {
    const QAccessible::Id at = items_.value(id);
    return at ? QAccessible::accessibleInterface(at) : nullptr;
}

QAccessibleInterface* TranscriptAccessibleItems::item(const QUuid& id) {
    if (QAccessibleInterface* known = find(id)) return known;
    if (!view_->messages_.lastIndexOf(id)) return nullptr;
    auto* made = new TranscriptMessageAccessible(view_, id);
    items_.insert(id, QAccessible::registerAccessibleInterface(made));
    return made;
}

void TranscriptAccessibleItems::remove(const QList<QUuid>& ids) {
    for (const QUuid& id : ids) {
        const QAccessible::Id at = items_.take(id);
        if (!at) continue;
        if (id == announced_) dropAnnouncement();
        if (QAccessible::isActive()) {
            QAccessibleEvent gone(QAccessible::accessibleInterface(at),
                                  QAccessible::ObjectDestroyed);
            QAccessible::updateAccessibility(&gone);
        }
        QAccessible::deleteAccessibleInterface(at);
    }
}

void TranscriptAccessibleItems::clear() {
    remove(items_.keys());
}

void TranscriptAccessibleItems::announce(const QUuid& id) {
    dropAnnouncement();
    if (!item(id)) return;
    announced_ = id;
    auto* notification = new TranscriptAnnouncementAccessible(view_, id, false);
    announcement_ = QAccessible::registerAccessibleInterface(notification);
    label_ = QAccessible::registerAccessibleInterface(
        new TranscriptAnnouncementAccessible(view_, id, true));
    if (QAccessible::isActive()) {
        QAccessibleEvent shown(notification, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
}

void TranscriptAccessibleItems::dropAnnouncement() {
    announced_ = QUuid();
    if (const QAccessible::Id label = std::exchange(label_, 0))
        QAccessible::deleteAccessibleInterface(label);
    if (const QAccessible::Id notification = std::exchange(announcement_, 0))
        QAccessible::deleteAccessibleInterface(notification);
}

QAccessibleInterface* TranscriptAccessibleItems::announcement(const QUuid& id) const {
    if (!announcement_ || id != announced_) return nullptr;
    return QAccessible::accessibleInterface(announcement_);
}

QAccessibleInterface* TranscriptAccessibleItems::announcementLabel() const {
    return label_ ? QAccessible::accessibleInterface(label_) : nullptr;
}

}  // namespace parlote
