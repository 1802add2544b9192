#pragma once

// Searching every conversation from the sidebar: a field ("Search", with a clear button)
// at the top of the sidebar, and while it holds text, a list of what was found in place
// of the conversation list. Each finding shows the conversation's title, the date of the
// message and one line of the message with the words looked for in bold.
//
// The search runs a moment after typing pauses, and only the answer to what the field
// holds now is shown. In the field, Up and Down move through the findings, Return opens
// the one chosen (`openRequested`) and Escape empties the field (`dismissed`). "No
// results" says that nothing was found; "Still indexing…" under the list that the index
// is still being built, so findings may be missing.
//
// Interface thread only.

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include "ZoruveVede.h"

class QLabel;
class QLineEdit;
class QListView;
class QWidget;

namespace parlote {

namespace views_detail {
class SearchResultsModel;
}

class ConversationSearch : public QObject {
    Q_OBJECT

public:
    /// How long typing must pause before the search runs.
    static constexpr int debounceMs = 100;
    /// How many findings are shown at most.
    static constexpr int resultLimit = 50;
    static const QString noResultsText;
    static const QString indexingText;

    /// The field and the panel are made with `parent` as their parent; the owner puts
    /// them where they belong.
    ConversationSearch(ZoruveVede& model, QWidget* parent);
    ~ConversationSearch() override;

    QLineEdit* field() const { return field_; }
    /// The list of findings with the status lines; shown while the field holds text.
    QWidget* resultsPanel() const { return panel_; }
    QListView* resultList() const;
    /// "No results" (or that search is unavailable); hidden otherwise.
    QLabel* statusLabel() const { return status_; }
    /// "Still indexing…", while the index is being built.
    QLabel* indexingLabel() const { return indexing_; }
    /// The findings shown now, in their order.
    const QList<SearchFinding>& findings() const;
    /// The row chosen among the findings (-1 when none).
    int currentRow() const;

    /// Puts the keyboard focus in the field with its text selected.
    void focusField();
    /// Empties the field (and drops the search under way).
    void clear();
    /// Whether the field holds text, so that the findings are shown.
    bool isActive() const { return active_; }

signals:
    /// The field became empty, or no longer is.
    void activeChanged(bool active);
    /// A finding was chosen: its conversation and message (null for a title).
    void openRequested(const QUuid& conversation, const QUuid& message);
    /// Escape emptied the field; the focus should go back where typing happens.
    void dismissed();
    /// The findings for what the field holds are shown.
    void answered();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void textChanged(const QString& text);
    void runSearch();
    void showAnswer(const SearchAnswer& answer);
    void moveCurrent(int step);
    void openCurrent();

    ZoruveVede& model_;
    QLineEdit* field_;
    QWidget* panel_;
    QListView* list_;
    QLabel* status_;
    QLabel* indexing_;
    views_detail::SearchResultsModel* results_;
    QTimer debounce_;
    bool active_ = false;
    // The answer is for this search only: an older one that arrives late is dropped.
    int generation_ = 0;
    // Return came before the search for what was typed ran: open its first finding.
    bool openWhenAnswered_ = false;
    // The search runs again because the conversations changed: the choice is kept.
    bool keepChoice_ = false;
};

}  // namespace parlote
