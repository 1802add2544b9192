#include "ConversationListView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

#include "SidebarDelegate.h"
#include "SidebarModel.h"
#include "ViewFonts.h"

namespace parlote {

namespace {

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
class SidebarList : public QListView {
public:
    explicit SidebarList(ConversationListView* owner) : QListView(owner), owner_(owner) {
        setSelectionMode(QAbstractItemView::SingleSelection);
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setEditTriggers(QAbstractItemView::EditKeyPressed);
        // A row is taller when its preview takes two lines, which depends on the width.
        setUniformItemSizes(false);
        // Measuring a row lays out its preview's text: thousands of conversations are
        // measured a batch at a time between events, so that the window paints at once.
        setLayoutMode(QListView::Batched);
        setBatchSize(64);
        setResizeMode(QListView::Adjust);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFrameShape(QFrame::NoFrame);
        setContextMenuPolicy(Qt::DefaultContextMenu);
    }

    using QListView::edit;

protected:
    // A click on the title of the row that was already selected renames it, as in a file
    // manager; a click that selects a row only selects it.
    void mousePressEvent(QMouseEvent* event) override {
        owner_->cancelScheduledRename();
        pressRow_ = -1;
        const QModelIndex index = indexAt(event->position().toPoint());
        if (event->button() == Qt::LeftButton && owner_->isConversationRow(index.row()) &&
            index.row() == owner_->rowOf(owner_->selected_) && onTitle(index, event->position())) {
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
        if (index.row() == row && onTitle(index, event->position()) &&
            (pos - pressPos_).manhattanLength() < QApplication::startDragDistance())
            owner_->scheduleRename(owner_->idAt(row));
    }

    // F2 and a double-click on a title rename; no other trigger opens an editor.
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override {
        if (!owner_->isConversationRow(index.row())) return false;
        bool rename = trigger == QAbstractItemView::EditKeyPressed;
        if (trigger == QAbstractItemView::DoubleClicked && event &&
            event->type() == QEvent::MouseButtonDblClick)
            rename = onTitle(index, static_cast<QMouseEvent*>(event)->position());
        if (!rename) return false;
        owner_->startRename(owner_->idAt(index.row()));
        return true;
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
        if (!owner_->isConversationRow(index.row())) {
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
    bool onTitle(const QModelIndex& index, QPointF pos) const {
        return owner_->delegate_
            ->titleTextRect(visualRect(index), font(), index.data(Qt::DisplayRole).toString())
            .contains(pos.toPoint());
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
      delegate_(new SidebarDelegate(
          this, [this](QWidget* parent) { return makeEditor(parent); },
          [this](int row) { return editing_ && row > 0 && idAt(row) == *editing_; })),
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
    list_->setAccessibleDescription(
        tr("F2 renames the selected conversation, Delete deletes it, the menu key shows both"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(heading_);
    layout->addWidget(list_, 1);

    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { listSelectionChanged(); });
    showSelection();

    // The second click of a double-click may still come: it renames at once.
    renameTimer_.setSingleShot(true);
    connect(&renameTimer_, &QTimer::timeout, this, [this] {
        const std::optional<SidebarID> id = std::exchange(scheduledRename_, std::nullopt);
        if (id && *id == selected_) startRename(*id);
    });
}

ConversationListView::~ConversationListView() = default;

void ConversationListView::setSearch(QWidget* field, QWidget* results) {
    auto* column = static_cast<QVBoxLayout*>(layout());
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(margin, margin, margin, 0);
    row->addWidget(field);
    column->insertLayout(0, row);
    column->addWidget(results, 1);
    searchResults_ = results;
    results->hide();
}

void ConversationListView::showSearchResults(bool shown) {
    if (!searchResults_) return;
    searchResults_->setVisible(shown);
    heading_->setVisible(!shown);
    list_->setVisible(!shown);
}

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
    const Conversation* conversation = model_->conversationAt(row);
    if (!conversation) return {};
    return delegate_->titleTextRect(list_->visualRect(model_->index(row)), list_->font(),
                                    conversation->title());
}

int ConversationListView::rowOf(const SidebarID& id) const {
    return model_->rowOf(id);
}

SidebarID ConversationListView::idAt(int row) const {
    const Conversation* conversation = model_->conversationAt(row);
    return conversation ? conversation->id() : SidebarID::newConversation();
}

bool ConversationListView::isConversationRow(int row) const {
    return model_->conversationAt(row) != nullptr;
}

void ConversationListView::setConversations(const QList<Conversation>& conversations) {
    if (model_->sameIds(conversations)) {
        // Same rows with new texts: the selection and an open title field stay as they are
        // (the list lays the rows out again, for a preview that changed its height).
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
    cancelScheduledRename();
    selected_ = id;
    closeRenameElsewhere();
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
    cancelScheduledRename();
    selected_ = id;
    closeRenameElsewhere();
    emit selectionChanged(selected_);
}

QLineEdit* ConversationListView::makeEditor(QWidget* parent) {
    auto* editor = new TitleEditor(parent);
    editor->setFrame(false);
    editor->setFont(views::headlineFont(list_->font()));
    editor->setPlaceholderText(tr("Title"));
    editor->setText(editingTitle_);
    editor->setAccessibleName(tr("Title"));
    editor->setAccessibleDescription(tr("Return renames the conversation, Escape keeps its title"));
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

void ConversationListView::scheduleRename(const SidebarID& id) {
    scheduledRename_ = id;
    renameTimer_.start(QApplication::doubleClickInterval());
}

void ConversationListView::cancelScheduledRename() {
    scheduledRename_.reset();
    renameTimer_.stop();
}

void ConversationListView::startRename(const SidebarID& id) {
    cancelScheduledRename();
    const int row = rowOf(id);
    if (row <= 0) return;
    if (editing_) closeEditor();
    editing_ = id;
    editingTitle_ = model_->conversationAt(row)->title();
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

void ConversationListView::closeRenameElsewhere() {
    // Another conversation opened: a title field left open on the one before would rename
    // a conversation the user has left, so it closes, and the old title stays.
    if (editing_ && !(*editing_ == selected_)) cancelRename();
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
    const Conversation* conversation = model_->conversationAt(row);
    const bool pinned = conversation && conversation->pinned();
    QAction* pin = menu->addAction(QIcon::fromTheme(QStringLiteral("window-pin")),
                                   pinned ? tr("Unpin") : tr("Pin"));
    connect(pin, &QAction::triggered, this, [this, id, pinned] { emit pinRequested(id, !pinned); });
    QAction* rename =
        menu->addAction(QIcon::fromTheme(QStringLiteral("edit-rename")), tr("Rename"));
    connect(rename, &QAction::triggered, this, [this, id] { startRename(id); });
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
    box->setText(tr(
        "Are you sure you want to delete this conversation? You can undo this for a few seconds."));
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
