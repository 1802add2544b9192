#include "ModelMenu.h"

#include <QActionGroup>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <QWidgetAction>

#include "DisplayName.h"

namespace parlote {

const QString ModelMenu::manageModelsText = QStringLiteral("Manage Models");

namespace {

// The application's style, with menus that scroll instead of breaking into columns when
// they are taller than the screen.
class ScrollingMenuStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_Menu_Scrollable) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

bool isTyping(const QKeyEvent* event) {
    if (event->key() == Qt::Key_Backspace) return true;
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).isPrint() &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
}

}  // namespace

ModelMenu::ModelMenu(int width, QWidget* parent) : QMenu(parent) {
    auto* style = new ScrollingMenuStyle(QApplication::style()->name());
    style->setParent(this);
    setStyle(style);
    setFixedWidth(width);
    group_ = new QActionGroup(this);
    group_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    // The menu opens on the whole list.
    connect(this, &QMenu::aboutToShow, this, [this] {
        if (field_) field_->clear();
    });
    rebuild();
}

ModelMenu::~ModelMenu() = default;

QLineEdit* ModelMenu::filterField() const {
    return filter_ ? field_ : nullptr;
}

void ModelMenu::setModels(const QList<ChatModel>& models) {
    if (models == models_ && manage_) return;
    models_ = models;
    rebuild();
}

void ModelMenu::setCurrentModel(const std::optional<QString>& id) {
    current_ = id;
    for (QAction* action : std::as_const(modelActions_))
        action->setChecked(current_ && action->data().toString() == *current_);
}

int ModelMenu::textRoom() {
    if (room_ >= 0) return room_;
    // What an item takes besides its text, as the style lays it out (measured with a wide
    // text: styles give items a minimum width).
    QStyleOptionMenuItem option;
    initStyleOption(&option, manage_);
    option.menuHasCheckableItems = true;  // the model items are, and take room for the mark
    const int probe = 1000;
    const int item = style()
                         ->sizeFromContents(QStyle::CT_MenuItem, &option,
                                            QSize(probe, fontMetrics().height()), this)
                         .width() -
                     probe;
    const int frame = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, this) +
                      style()->pixelMetric(QStyle::PM_MenuHMargin, nullptr, this);
    const QMargins margins = contentsMargins();
    room_ = qMax(20, width() - 2 * frame - margins.left() - margins.right() - item);
    return room_;
}

void ModelMenu::rebuild() {
    clear();  // deletes the actions the menu owns: all of them
    modelActions_.clear();
    filter_ = nullptr;
    field_ = nullptr;
    listEnd_ = nullptr;
    manage_ = nullptr;

    if (!filtering()) {
        manage_ = new QAction(manageModelsText, this);
        for (const ChatModel& model : std::as_const(models_))
            modelActions_ << addModelAction(model, nullptr);
        if (!models_.isEmpty()) addSeparator();
        addAction(manage_);
    } else {
        // "Manage Models" first: the list below it may be long.
        manage_ = addAction(manageModelsText);
        addSeparator();
        // The field sits in a frame that keeps it off the menu's edges.
        auto* frame = new QWidget;
        auto* row = new QHBoxLayout(frame);
        const int margin = style()->pixelMetric(QStyle::PM_MenuHMargin, nullptr, this) + 4;
        row->setContentsMargins(margin, 2, margin, 2);
        field_ = new QLineEdit(frame);
        row->addWidget(field_);
        field_->setPlaceholderText(tr("Filter %1 models").arg(QLocale().toString(models_.size())));
        field_->setAccessibleName(tr("Filter models"));
        field_->setClearButtonEnabled(true);
        field_->installEventFilter(this);
        connect(field_, &QLineEdit::textChanged, this, [this] { relist(); });
        filter_ = new QWidgetAction(this);
        filter_->setDefaultWidget(frame);
        addAction(filter_);
        relist();
    }
    connect(manage_, &QAction::triggered, this, &ModelMenu::manageRequested);
}

QAction* ModelMenu::addModelAction(const ChatModel& model, QAction* before) {
    const QString shown = views::displayName(model.model, fontMetrics(), textRoom());
    auto* action = new QAction(views::withLiteralAmpersands(shown), this);
    action->setData(model.id);
    action->setCheckable(true);
    action->setChecked(current_ && model.id == *current_);
    group_->addAction(action);
    if (shown != model.model)
        action->setToolTip(views::plainToolTip(views::displayName(model.model)));
    connect(action, &QAction::triggered, this, [this, id = model.id] { emit modelChosen(id); });
    insertAction(before, action);
    return action;
}

void ModelMenu::relist() {
    qDeleteAll(std::exchange(modelActions_, {}));
    delete std::exchange(listEnd_, nullptr);

    const QString wanted = field_->text().trimmed();
    qsizetype matches = 0;
    for (const ChatModel& model : std::as_const(models_)) {
        if (!wanted.isEmpty() && !model.model.contains(wanted, Qt::CaseInsensitive)) continue;
        if (++matches <= listedLimit) modelActions_ << addModelAction(model, nullptr);
    }
    if (matches == 0) {
        listEnd_ = addAction(tr("No model matches"));
    } else if (matches > listedLimit) {
        listEnd_ = addAction(
            tr("%1 more: type to narrow the list").arg(QLocale().toString(matches - listedLimit)));
    }
    if (listEnd_) listEnd_->setEnabled(false);
}

void ModelMenu::showEvent(QShowEvent* event) {
    QMenu::showEvent(event);
    if (!filter_) return;
    setActiveAction(filter_);
    field_->setFocus();
}

void ModelMenu::keyPressEvent(QKeyEvent* event) {
    // Typing anywhere in the menu goes on in the filter field.
    if (field_ && isTyping(event) && !field_->hasFocus()) {
        setActiveAction(filter_);
        field_->setFocus();
        QCoreApplication::sendEvent(field_, event);
        return;
    }
    QMenu::keyPressEvent(event);
}

bool ModelMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // The highlighted model, or the first one listed when the field is.
            QAction* chosen = activeAction();
            if (!modelActions_.contains(chosen)) chosen = modelActions_.value(0);
            if (chosen) {
                setActiveAction(chosen);
                QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
                QMenu::keyPressEvent(&press);  // as the menu chooses: triggered, then closed
            }
            return true;
        }
    }
    return QMenu::eventFilter(watched, event);
}

void ModelMenu::changeEvent(QEvent* event) {
    QMenu::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        room_ = -1;
        if (manage_ && !isVisible()) rebuild();
    }
}

}  // namespace parlote
