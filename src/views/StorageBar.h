#pragma once

// The bar that says a save failed ("Could not save this conversation: No space left on
// device") with a "Retry" button. It does not block anything: the user keeps working
// while the words stay in memory, and it goes away once everything is on disk.

#include <QFrame>

class QLabel;
class QPushButton;

namespace parlote {

class StorageBar : public QFrame {
    Q_OBJECT

public:
    explicit StorageBar(QWidget* parent = nullptr);

    /// Shows `text`, or hides the bar when it is empty.
    void setProblem(const QString& text);

    QLabel* label() const { return label_; }
    QPushButton* retryButton() const { return retry_; }

signals:
    void retryRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* label_;
    QPushButton* retry_;
};

}  // namespace parlote
