#include "ConversationListView.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "ViewFonts.h"

namespace parlote {

namespace {

const QString newConversationText = QStringLiteral("New Conversation");

// Geometry of a conversation row: the title line on top, then the last message in up
// to two caption lines, with the content aligned to the top of the row.
constexpr int horizontalPadding = 8;
constexpr int verticalPadding = 2;
constexpr int lineSpacing = 4;

QString oneLine(QString text) {
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QChar::LineSeparator, QLatin1Char(' '));
    text.replace(QChar::ParagraphSeparator, QLatin1Char(' '));
    return text;
}

QRect titleFieldRect(const QRect& row, const QFont& headline) {
    return QRect(row.left() + horizontalPadding, row.top() + verticalPadding,
                 qMax(0, row.width() - 2 * horizontalPadding), QFontMetrics(headline).height());
}

QRect captionRect(const QRect& row, const QFont& headline, const QFont& caption) {
    const QRect title = titleFieldRect(row, headline);
    QRect rect(title.left(), title.bottom() + 1 + lineSpacing, title.width(),
               2 * QFontMetrics(caption).lineSpacing());
    return rect.intersected(row);
}

// The last message cut after its second line; the second line ends in an ellipsis when
// there is more.
QStringList twoLines(const QString& fullText, const QFont& font, int width) {
    if (fullText.isEmpty() || width <= 0) return {};
    // Two lines of a sidebar never show more than a few hundred characters: laying out a
    // reply of megabytes to find them would stall every paint and take hundreds of MB.
    constexpr qsizetype kPreviewLength = 2000;
    qsizetype keep = std::min(fullText.size(), kPreviewLength);
    if (keep < fullText.size() && fullText.at(keep - 1).isHighSurrogate()) --keep;
    const QString text = keep < fullText.size() ? fullText.left(keep) + QChar(0x2026) : fullText;
    QString wrappable = text;
    wrappable.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(wrappable, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(width);
    layout.endLayout();
    const int firstEnd = first.textStart() + first.textLength();
    QStringList lines{oneLine(text.mid(0, firstEnd)).trimmed()};
    const QString rest = oneLine(text.mid(firstEnd)).trimmed();
    if (!rest.isEmpty()) lines << QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
    return lines;
}

QPalette::ColorGroup colorGroup(const QStyleOptionViewItem& option) {
    if (!(option.state & QStyle::State_Enabled)) return QPalette::Disabled;
    return (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
}

// The rename field: Escape is its own (it cancels), not a shortcut of the window.
class TitleEditor : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void()> onEscape;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            event->accept();
            return true;
        }
        return QLineEdit::event(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            event->accept();
            if (onEscape) onEscape();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
};

}  // namespace

namespace views_detail {

/// Row 0 is the new-conversation entry, row i the conversation i - 1.
class SidebarModel : public QAbstractListModel {
public:
    enum Role { LastMessageRole = Qt::UserRole + 1 };

    using QAbstractListModel::QAbstractListModel;

    const QList<Conversation>& conversations() const { return conversations_; }

    void setConversations(const QList<Conversation>& conversations) {
        if (sameIds(conversations)) {
            conversations_ = conversations;
            if (!conversations_.isEmpty()) emit dataChanged(index(1), index(conversations_.size()));
            return;
        }
        beginResetModel();
        conversations_ = conversations;
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 1 + int(conversations_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        if (index.row() == 0)
            return role == Qt::DisplayRole ? QVariant(newConversationText) : QVariant();
        const Conversation& conversation = conversations_[index.row() - 1];
        switch (role) {
            case Qt::DisplayRole:
                return conversation.title();
            case LastMessageRole:
            case Qt::AccessibleDescriptionRole:
                return conversation.lastMessage();
            default:
                return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    bool sameIds(const QList<Conversation>& other) const {
        if (other.size() != conversations_.size()) return false;
        for (qsizetype i = 0; i < other.size(); ++i)
            if (!(other[i].id() == conversations_[i].id())) return false;
        return true;
    }

private:
    QList<Conversation> conversations_;
};

class SidebarDelegate : public QStyledItemDelegate {
public:
    explicit SidebarDelegate(ConversationListView* owner)
        : QStyledItemDelegate(owner), owner_(owner) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(qMax(option.rect.width(), 100), ConversationListView::rowHeight);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        background.features &= ~QStyleOptionViewItem::HasDisplay;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group = colorGroup(option);
        const QColor textColor =
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
        const QFont headline = views::headlineFont(option.font);

        painter->save();
        painter->setClipRect(option.rect);
        painter->setPen(textColor);
        painter->setFont(headline);
        if (index.row() == 0) {
            painter->drawText(option.rect, Qt::AlignCenter, newConversationText);
            painter->restore();
            return;
        }

        const QRect title = titleFieldRect(option.rect, headline);
        if (!isBeingEdited(index)) {
            const QString text = QFontMetrics(headline).elidedText(
                oneLine(index.data(Qt::DisplayRole).toString()), Qt::ElideRight, title.width());
            painter->drawText(title, Qt::AlignLeft | Qt::AlignVCenter, text);
        }

        const QFont caption = views::captionFont(option.font);
        QColor captionColor;
        if (selected) {
            captionColor = textColor;
            captionColor.setAlphaF(0.75f);
        } else {
            captionColor = option.palette.color(group, QPalette::PlaceholderText);
        }
        painter->setPen(captionColor);
        painter->setFont(caption);
        const QRect captionArea = captionRect(option.rect, headline, caption);
        const QStringList lines = twoLines(index.data(SidebarModel::LastMessageRole).toString(),
                                           caption, captionArea.width());
        const int step = QFontMetrics(caption).lineSpacing();
        for (int i = 0; i < lines.size(); ++i) {
            const QRect line(captionArea.left(), captionArea.top() + i * step, captionArea.width(),
                             step);
            painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
        }
        painter->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        return owner_->makeEditor(parent);
    }
    // The field is filled once when the rename starts and then belongs to the user.
    void setEditorData(QWidget*, const QModelIndex&) const override {}
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        editor->setGeometry(titleFieldRect(option.rect, views::headlineFont(option.font)));
    }

    /// The part of the row the title text covers (what a click must hit to rename).
    QRect titleTextRect(const QRect& row, const QFont& font, const QString& titleText) const {
        const QFont headline = views::headlineFont(font);
        const QRect field = titleFieldRect(row, headline);
        const QFontMetrics metrics(headline);
        const QString shown = metrics.elidedText(oneLine(titleText), Qt::ElideRight, field.width());
        return QRect(field.topLeft(),
                     QSize(qMin(metrics.horizontalAdvance(shown), field.width()), field.height()));
    }

protected:
    // Return, Escape and leaving the field are handled by the pane itself; the default
    // handling would commit on focus loss.
    bool eventFilter(QObject*, QEvent*) override { return false; }

private:
    bool isBeingEdited(const QModelIndex& index) const {
        return owner_->editing_ && index.row() > 0 &&
               owner_->idAt(index.row()) == *owner_->editing_;
    }

    ConversationListView* owner_;
};

class SidebarList : public QListView {
public:
    explicit SidebarList(ConversationListView* owner) : QListView(owner), owner_(owner) {
        setSelectionMode(QAbstractItemView::SingleSelection);
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setEditTriggers(QAbstractItemView::EditKeyPressed);
        setUniformItemSizes(true);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFrameShape(QFrame::NoFrame);
        setContextMenuPolicy(Qt::DefaultContextMenu);
    }

    using QListView::edit;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressRow_ = -1;
        const QModelIndex index = indexAt(event->position().toPoint());
        if (event->button() == Qt::LeftButton && index.row() > 0 &&
            titleRectAt(index).contains(event->position().toPoint())) {
            pressRow_ = index.row();
            pressPos_ = event->position().toPoint();
        }
        QListView::mousePressEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        QListView::mouseReleaseEvent(event);
        const int row = pressRow_;
        pressRow_ = -1;
        const QPoint pos = event->position().toPoint();
        if (row < 0 || event->button() != Qt::LeftButton) return;
        const QModelIndex index = indexAt(pos);
        if (index.row() == row && titleRectAt(index).contains(pos) &&
            (pos - pressPos_).manhattanLength() < QApplication::startDragDistance())
            owner_->startRename(owner_->idAt(row));
    }

    // F2 renames the current conversation; no other trigger opens an editor.
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent*) override {
        if (trigger == QAbstractItemView::EditKeyPressed && index.row() > 0) {
            owner_->startRename(owner_->idAt(index.row()));
            return true;
        }
        return false;
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Delete)) {
            event->accept();
            owner_->deleteKeyPressed();
            return;
        }
        QListView::keyPressEvent(event);
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        const QModelIndex index =
            event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : currentIndex();
        if (index.row() <= 0) {
            event->ignore();
            return;
        }
        event->accept();
        QPoint global = event->globalPos();
        if (event->reason() != QContextMenuEvent::Mouse)
            global = viewport()->mapToGlobal(visualRect(index).center());
        owner_->showContextMenu(index.row(), global);
    }

private:
    QRect titleRectAt(const QModelIndex& index) const {
        return owner_->delegate_->titleTextRect(visualRect(index), font(),
                                                index.data(Qt::DisplayRole).toString());
    }

    ConversationListView* owner_;
    int pressRow_ = -1;
    QPoint pressPos_;
};

}  // namespace views_detail

using views_detail::SidebarDelegate;
using views_detail::SidebarList;
using views_detail::SidebarModel;

ConversationListView::ConversationListView(QWidget* parent)
    : QWidget(parent),
      model_(new SidebarModel(this)),
      delegate_(new SidebarDelegate(this)),
      list_(new SidebarList(this)),
      heading_(new QLabel(tr("Conversations"), this)) {
    heading_->setFont(views::headlineFont(heading_->font()));
    heading_->setAlignment(Qt::AlignCenter);
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    heading_->setContentsMargins(margin, margin, margin, margin);

    list_->setModel(model_);
    list_->setItemDelegate(delegate_);
    // A sidebar sits on the window's background; selection uses the highlight colour.
    list_->viewport()->setBackgroundRole(QPalette::Window);
    list_->setAccessibleName(tr("Conversations"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading_);
    layout->addWidget(list_, 1);

    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { listSelectionChanged(); });
    showSelection();
}

ConversationListView::~ConversationListView() = default;

const QList<Conversation>& ConversationListView::conversations() const {
    return model_->conversations();
}

QLineEdit* ConversationListView::titleEditor() const {
    return editor_;
}

QMessageBox* ConversationListView::deleteConfirmation() const {
    return confirmation_;
}

QListView* ConversationListView::listView() const {
    return list_;
}

QRect ConversationListView::titleTextRect(const SidebarID& id) const {
    const int row = rowOf(id);
    if (row <= 0) return {};
    return delegate_->titleTextRect(list_->visualRect(model_->index(row)), list_->font(),
                                    model_->conversations()[row - 1].title());
}

int ConversationListView::rowOf(const SidebarID& id) const {
    if (id.isNewConversation()) return 0;
    const QList<Conversation>& rows = model_->conversations();
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows[i].id() == id) return int(i) + 1;
    return -1;
}

SidebarID ConversationListView::idAt(int row) const {
    if (row <= 0 || row > model_->conversations().size()) return SidebarID::newConversation();
    return model_->conversations()[row - 1].id();
}

void ConversationListView::setConversations(const QList<Conversation>& conversations) {
    if (model_->sameIds(conversations)) {
        // Same rows with new texts: the selection and an open title field stay as they are.
        model_->setConversations(conversations);
        return;
    }
    const bool editorHadFocus = editor_ && editor_->hasFocus();
    syncing_ = true;
    editor_ = nullptr;  // resetting the model releases the title field
    model_->setConversations(conversations);
    syncing_ = false;
    if (editing_ && rowOf(*editing_) <= 0) editing_.reset();
    showSelection();
    if (editing_) {
        openEditor();
        if (editorHadFocus && editor_) editor_->setFocus();
    }
}

void ConversationListView::setSelectedConversation(const SidebarID& id) {
    if (id == selected_) {
        showSelection();
        return;
    }
    selected_ = id;
    showSelection();
    if (shown_) emit selectionChanged(selected_);
}

void ConversationListView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    shown_ = true;
}

void ConversationListView::showSelection() {
    syncing_ = true;
    const int row = rowOf(selected_);
    QItemSelectionModel* selection = list_->selectionModel();
    if (row >= 0) {
        const QModelIndex index = model_->index(row);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        list_->scrollTo(index);
    } else {
        selection->clearSelection();
    }
    syncing_ = false;
}

void ConversationListView::listSelectionChanged() {
    if (syncing_) return;
    const QModelIndexList rows = list_->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        // A single-selection sidebar always shows its selection (Ctrl+click must not
        // clear it).
        showSelection();
        return;
    }
    const SidebarID id = idAt(rows.first().row());
    if (id == selected_) return;
    selected_ = id;
    emit selectionChanged(selected_);
}

QLineEdit* ConversationListView::makeEditor(QWidget* parent) {
    auto* editor = new TitleEditor(parent);
    editor->setFrame(false);
    editor->setFont(views::headlineFont(list_->font()));
    editor->setPlaceholderText(tr("Title"));
    editor->setText(editingTitle_);
    editor->setAccessibleName(tr("Title"));
    editor->onEscape = [this] { cancelRename(); };
    connect(editor, &QLineEdit::textChanged, this,
            [this](const QString& text) { editingTitle_ = text; });
    connect(editor, &QLineEdit::returnPressed, this, [this] { commitRename(); });
    editor_ = editor;
    return editor;
}

void ConversationListView::openEditor() {
    const int row = editing_ ? rowOf(*editing_) : -1;
    if (row <= 0) return;
    list_->openPersistentEditor(model_->index(row));
    list_->viewport()->update();
}

void ConversationListView::closeEditor() {
    const bool hadFocus = editor_ && editor_->hasFocus();
    const int row = editing_ ? rowOf(*editing_) : -1;
    if (row > 0) list_->closePersistentEditor(model_->index(row));
    editor_ = nullptr;
    list_->viewport()->update();
    if (hadFocus) list_->setFocus();
}

void ConversationListView::startRename(const SidebarID& id) {
    const int row = rowOf(id);
    if (row <= 0) return;
    if (editing_) closeEditor();
    editing_ = id;
    editingTitle_ = model_->conversations()[row - 1].title();
    openEditor();
    if (editor_) {
        editor_->setFocus();
        editor_->end(false);
    }
}

void ConversationListView::commitRename() {
    if (!editing_) return;
    const SidebarID id = *editing_;
    emit renameRequested(id, editingTitle_);
    if (editing_ == id) {
        closeEditor();
        editing_.reset();
    }
}

void ConversationListView::cancelRename() {
    if (!editing_) return;
    closeEditor();
    editing_.reset();
}

void ConversationListView::showContextMenu(int row, const QPoint& globalPos) {
    if (row <= 0) return;
    const SidebarID id = idAt(row);
    auto* menu = new QMenu(list_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* remove =
        menu->addAction(QIcon::fromTheme(QStringLiteral("edit-delete")), tr("Delete"));
    connect(remove, &QAction::triggered, this, [this, id] { askDelete(id); });
    menu->popup(globalPos);
}

void ConversationListView::deleteKeyPressed() {
    if (selected_.isNewConversation()) return;
    askDelete(selected_);
}

void ConversationListView::askDelete(const SidebarID& id) {
    if (!id.isConversation() || confirmation_) return;
    pendingDelete_ = id;

    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Delete Conversation"));
    box->setText(
        tr("Are you sure you want to delete this conversation? This action cannot be undone."));
    QPushButton* cancel = box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    QPushButton* remove = box->addButton(tr("Delete"), QMessageBox::DestructiveRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QDialog::finished, this, [this, box, remove] {
        if (box->clickedButton() == remove && pendingDelete_) emit deleteRequested(*pendingDelete_);
    });
    confirmation_ = box;
    box->open();  // window-modal, like a sheet over the main window
}

}  // namespace parlote
