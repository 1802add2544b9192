#pragma once

// The bar that says a conversation was deleted ("Conversation deleted") with an "Undo"
// button, shown above the transcript like the bar of saving problems while the deletion
// can still be undone. It does not block anything and takes no keyboard focus by itself;
// Tab reaches its button, and while it shows Ctrl+Z anywhere in its window is "Undo" (the
// key no longer undoes typing in the input box meanwhile).

#include <QFrame>

class QLabel;
class QPushButton;

namespace parlote {

class UndoBar : public QFrame {
    Q_OBJECT

public:
    explicit UndoBar(QWidget* parent = nullptr);

    QLabel* label() const { return label_; }
    QPushButton* undoButton() const { return undo_; }

signals:
    void undoRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* label_;
    QPushButton* undo_;
};

}  // namespace parlote
