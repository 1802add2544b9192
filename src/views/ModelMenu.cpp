#include "ModelMenu.h"

#include <QActionGroup>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <QWidgetAction>
#include <algorithm>

#include "DisplayName.h"
#include "ModelStateText.h"
#include "ViewFonts.h"

namespace parlote {

const QString ModelMenu::manageModelsText = QStringLiteral("Manage Models");
const char* const ModelMenu::unloadsProperty = "unloadsModel";

namespace {

// The application's style, with menus that scroll instead of breaking into columns when
// they are taller than the screen, and items of two lines: what follows a tab in an
// item's text is drawn under its name, smaller and quieter, rather than as a shortcut.
class ModelMenuStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_Menu_Scrollable) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (type != CT_MenuItem || !item || !item->text.contains(QLatin1Char('\t')))
            return QProxyStyle::sizeFromContents(type, option, size, widget);
        QStyleOptionMenuItem first = *item;
        first.text = item->text.section(QLatin1Char('\t'), 0, 0);
        first.reservedShortcutWidth = 0;
        QSize whole = QProxyStyle::sizeFromContents(type, &first, size, widget);
        whole.rheight() += secondLineHeight(item->font) + lineSpacing;
        return whole;
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element != CE_MenuItem || !item || !item->text.contains(QLatin1Char('\t'))) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        // The background, the highlight and the check mark span both lines.
        QStyleOptionMenuItem whole = *item;
        whole.text.clear();
        whole.reservedShortcutWidth = 0;
        QProxyStyle::drawControl(element, &whole, painter, widget);

        // Then each line as the text of an item that is neither highlighted nor checkable
        // (the highlight is drawn already), in the colours of the highlight when it is.
        const bool highlighted = (item->state & State_Selected) && (item->state & State_Enabled);
        const int lower = secondLineHeight(item->font);
        QStyleOptionMenuItem line = *item;
        line.state &= ~State_Selected;
        line.checkType = QStyleOptionMenuItem::NotCheckable;
        line.checked = false;
        line.reservedShortcutWidth = 0;
        // A disabled item keeps the palette's disabled colours for both lines.
        const QPalette::ColorGroup group = item->palette.currentColorGroup();
        auto paint = [&](const QColor& colour) {
            for (QPalette::ColorGroup set : {QPalette::Active, QPalette::Inactive})
                for (QPalette::ColorRole role :
                     {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
                    line.palette.setColor(set, role, colour);
            QProxyStyle::drawControl(element, &line, painter, widget);
        };
        line.text = item->text.section(QLatin1Char('\t'), 0, 0);
        line.rect = item->rect.adjusted(0, 1, 0, 1 - lower - lineSpacing + secondLineGap);
        paint(item->palette.color(group, highlighted ? QPalette::HighlightedText : QPalette::Text));

        line.text = item->text.section(QLatin1Char('\t'), 1);
        line.font = views::captionFont(item->font);
        line.fontMetrics = QFontMetrics(line.font);
        line.rect = QRect(item->rect.left(), item->rect.bottom() - lower - secondLineGap,
                          item->rect.width(), lower);
        paint(highlighted ? item->palette.color(group, QPalette::HighlightedText)
                          : item->palette.color(group, QPalette::PlaceholderText));
    }

private:
    static constexpr int secondLineGap = 3;  // pixels between the second line and the edge
    static constexpr int lineSpacing = 4;    // pixels added between the two lines
    static int secondLineHeight(const QFont& font) {
        return QFontMetrics(views::captionFont(font)).height();
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
    auto* style = new ModelMenuStyle(QApplication::style()->name());
    style->setParent(this);
    setStyle(style);
    setFixedWidth(width);
    setToolTipsVisible(true);
    group_ = new QActionGroup(this);
    group_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    // The menu opens on the whole list.
    connect(this, &QMenu::aboutToShow, this, [this] {
        if (field_) field_->clear();
        relistUnloads();  // "unloads in N min" as of now
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
    unloadActions_.clear();
    unloadSeparator_ = nullptr;

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
    relistUnloads();
}

QAction* ModelMenu::addModelAction(const ChatModel& model, QAction* before) {
    auto* action = new QAction(this);
    action->setData(model.id);
    action->setCheckable(true);
    action->setChecked(current_ && model.id == *current_);
    group_->addAction(action);
    describe(action, model);
    connect(action, &QAction::triggered, this, [this, id = model.id] { emit modelChosen(id); });
    insertAction(before, action);
    return action;
}

QString ModelMenu::nameOf(const QAction* action) {
    return action->text().section(QLatin1Char('\t'), 0, 0);
}

QString ModelMenu::secondLine(const QString& text) {
    if (text.isEmpty()) return {};
    const QFontMetrics metrics(views::captionFont(font()));
    return QLatin1Char('\t') + metrics.elidedText(text, Qt::ElideRight, textRoom());
}

void ModelMenu::describe(QAction* action, const ChatModel& model) {
    const QString shown = views::displayName(model.model, fontMetrics(), textRoom());
    const ModelState state = states_.value(model.id);
    action->setText(views::withLiteralAmpersands(shown) + secondLine(views::menuLine(state)));
    QStringList tip;
    if (shown != model.model) tip << views::plainToolTip(views::displayName(model.model));
    if (!state.canChat()) {
        tip << views::cannotChatText(views::displayName(model.model));
    } else if (state.details) {
        if (const QString can = views::capabilityList(*state.details); !can.isEmpty())
            tip << tr("Can do: %1").arg(can);
        if (const QString context = views::fullContext(state.details->contextLength);
            !context.isEmpty())
            tip << tr("Context: %1").arg(context);
    }
    if (state.running)
        tip << tr("Loaded: %1")
                   .arg(views::memoryLine(*state.running, QDateTime::currentDateTimeUtc()));
    action->setToolTip(tip.join(QLatin1Char('\n')));
    // Without a tool tip of its own, a menu item shows its text as one.
    if (tip.isEmpty()) action->setToolTip(views::plainToolTip(shown));
    action->setEnabled(state.canChat());
}

void ModelMenu::setModelStates(const QHash<QString, ModelState>& states) {
    if (states == states_) return;
    states_ = states;
    for (QAction* action : std::as_const(modelActions_)) {
        const QString id = action->data().toString();
        for (const ChatModel& model : std::as_const(models_))
            if (model.id == id) describe(action, model);
    }
    relistUnloads();
}

void ModelMenu::relistUnloads() {
    if (!manage_) return;
    // Deleted later: an "Unload" item being triggered is what changes them.
    for (QAction* old : std::exchange(unloadActions_, {})) {
        removeAction(old);
        old->deleteLater();
    }
    if (QAction* old = std::exchange(unloadSeparator_, nullptr)) {
        removeAction(old);
        old->deleteLater();
    }
    // Above "Manage Models" in the short menu, above the filter field in the long one.
    QAction* before = filter_ ? static_cast<QAction*>(filter_) : manage_;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const ChatModel& model : std::as_const(models_)) {
        const ModelState state = states_.value(model.id);
        if (!state.running) continue;
        const QString room =
            views::displayName(model.model, fontMetrics(),
                               textRoom() - fontMetrics().horizontalAdvance(tr("Unload ")));
        auto* action = new QAction(this);
        action->setText(tr("Unload %1").arg(views::withLiteralAmpersands(room)) +
                        secondLine(views::memoryLine(*state.running, now)));
        action->setProperty(unloadsProperty, model.id);  // not its data: that chooses
        action->setToolTip(
            tr("Frees the memory %1 takes now").arg(views::displayName(model.model)));
        connect(action, &QAction::triggered, this,
                [this, id = model.id] { emit unloadRequested(id); });
        insertAction(before, action);
        unloadActions_ << action;
    }
    if (!unloadActions_.isEmpty()) unloadSeparator_ = insertSeparator(before);
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
            // The highlighted model, or the first one listed that can be chosen when the
            // field is.
            QAction* chosen = activeAction();
            if (!modelActions_.contains(chosen)) {
                const auto first = std::find_if(modelActions_.cbegin(), modelActions_.cend(),
                                                [](QAction* a) { return a->isEnabled(); });
                chosen = first == modelActions_.cend() ? nullptr : *first;
            }
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
