#pragma once

// The model menu under the model button: one item per installed model, then "Manage
// Models". With many models it opens with a filter field instead: "Manage Models" comes
// first, then the field, then the models whose names hold what was typed, at most
// `listedLimit` of them (more are announced in a last, disabled line). Typing anywhere in
// the menu goes to the field, the arrow keys move through the models and Return chooses
// the highlighted model, or the first one listed. The menu is as wide as the button and
// scrolls when it would not fit on the screen.
//
// The model in use is marked as the chosen one of a group of radio items.
//
// Under a model's name a second, quieter line says what is known of it (setModelStates):
// its capability marks, its context length and whether it is loaded; the item's tool tip
// says it in words. A model that can only make embeddings is listed but cannot be chosen.
// Each loaded model gets an "Unload" item above "Manage Models", whose second line tells its
// size in memory, its share on the GPU and when Ollama unloads it by itself.
//
// Item texts go through views::displayName: cut in the middle to fit, '&' shown as it is.
// The second line follows the name after a tab, so that a screen reader reads both.

#include <QHash>
#include <QList>
#include <QMenu>
#include <QString>
#include <optional>

#include "ChatRecords.h"
#include "ZoruveVede.h"

class QActionGroup;
class QLineEdit;
class QWidgetAction;

namespace parlote {

class ModelMenu : public QMenu {
    Q_OBJECT
public:
    /// More models than this and the menu opens with the filter field.
    static constexpr int filterThreshold = 25;
    /// The most models listed at once; a filter narrows the rest down.
    static constexpr int listedLimit = 25;
    static const QString manageModelsText;
    static const char* const unloadsProperty;

    explicit ModelMenu(int width, QWidget* parent = nullptr);
    ~ModelMenu() override;

    /// Lists `models`, in the order given.
    void setModels(const QList<ChatModel>& models);

    /// Marks the item of the model in use (by id); none when it is not listed.
    void setCurrentModel(const std::optional<QString>& id);

    /// What is known of the models, by id: their items' second lines, tool tips and
    /// whether they can be chosen, and the "Unload" items of the loaded ones. A model
    /// without a state shows as it would without the server's descriptions.
    void setModelStates(const QHash<QString, ModelState>& states);
    /// The "Unload" items, in the order of the models (the model's id is their property
    /// `unloadsProperty`).
    const QList<QAction*>& unloadActions() const { return unloadActions_; }
    /// The name part of an item's text (before the tab of its second line).
    static QString nameOf(const QAction* action);

    /// The filter field while the menu has one, else null.
    QLineEdit* filterField() const;
    /// The items of the models listed now, in order (their data is the model's id).
    const QList<QAction*>& modelActions() const { return modelActions_; }
    QAction* manageAction() const { return manage_; }

signals:
    void modelChosen(const QString& id);
    void manageRequested();
    /// "Unload" of the loaded model `id`.
    void unloadRequested(const QString& id);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool filtering() const { return models_.size() > filterThreshold; }
    void rebuild();
    void relist();  // the model items and the line under them, for the present filter
    QAction* addModelAction(const ChatModel& model, QAction* before);
    void describe(QAction* action, const ChatModel& model);  // second line, tool tip, enabled
    void relistUnloads();                     // the "Unload" items, for the present states
    QString secondLine(const QString& text);  // "\t" and `text`, cut to fit; empty for none
    int textRoom();                           // the width left for an item's text

    QList<ChatModel> models_;
    QList<QAction*> modelActions_;
    QActionGroup* group_ = nullptr;  // the model items, one of them checked
    std::optional<QString> current_;
    QAction* manage_ = nullptr;
    QWidgetAction* filter_ = nullptr;
    QLineEdit* field_ = nullptr;
    QAction* listEnd_ = nullptr;  // after the listed models: "N more…" or "No models match"
    QHash<QString, ModelState> states_;
    QList<QAction*> unloadActions_;
    QAction* unloadSeparator_ = nullptr;  // after the "Unload" items
    int room_ = -1;
};

}  // namespace parlote
