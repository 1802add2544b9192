#pragma once

// The small round button that floats over the transcript while its end is out of view
// and the view no longer follows it: a down arrow that brings the end back. Painted from
// the palette, so it suits light and dark themes alike. It takes no focus: from the
// keyboard, End in the transcript does the same.
//
// Interface thread only.

#include <QAbstractButton>

namespace parlote {

class JumpToEndButton : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int diameter = 32;
    /// How far it stays from the bottom edge of the area it floats over.
    static constexpr int margin = 12;

    explicit JumpToEndButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    /// Puts it at the bottom centre of `area` (in its parent's coordinates).
    void placeIn(const QRect& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

}  // namespace parlote
