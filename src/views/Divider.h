#pragma once

// A one-pixel horizontal line in a colour of the active palette, for separating the parts
// of the welcome sheet and the About window.

#include <QPalette>
#include <QWidget>

namespace parlote {

class Divider : public QWidget {
    Q_OBJECT
public:
    /// A line in `role` drawn at `opacity` (0 to 1).
    explicit Divider(QWidget* parent = nullptr, QPalette::ColorRole role = QPalette::Mid,
                     qreal opacity = 1.0);

    /// The colour the line is drawn in under the current palette.
    QColor lineColor() const;

    QSize sizeHint() const override { return {1, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPalette::ColorRole role_;
    qreal opacity_;
};

}  // namespace parlote
