#include "JumpToEndButton.h"

#include <QPainter>
#include <QPainterPath>

#include "MarkdownStyle.h"

namespace parlote {

JumpToEndButton::JumpToEndButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("Jump to the end (End)"));
    setAccessibleName(tr("Jump to the end"));
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_Hover);
}

QSize JumpToEndButton::sizeHint() const {
    // Room for the shadow under the circle.
    return {diameter + 4, diameter + 4};
}

void JumpToEndButton::placeIn(const QRect& area) {
    move(area.left() + (area.width() - width()) / 2, area.bottom() + 1 - margin - height());
}

bool JumpToEndButton::hitButton(const QPoint& pos) const {
    const QPointF centre = QRectF(2, 1, diameter, diameter).center();
    const QPointF d = QPointF(pos) - centre;
    return d.x() * d.x() + d.y() * d.y() <= diameter * diameter / 4.0;
}

void JumpToEndButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor face = pal.color(QPalette::Button);
    const QColor text = pal.color(QPalette::ButtonText);
    const QRectF circle(2, 1, diameter, diameter);

    // A soft shadow a little below, so that the button reads as above the text.
    QColor shadow = Qt::black;
    shadow.setAlphaF(0.18);
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.drawEllipse(circle.translated(0, 2).adjusted(-1, -1, 1, 1));

    const qreal hot = isDown() ? 0.2 : underMouse() ? 0.1 : 0;
    painter.setBrush(mixColors(face, text, hot));
    painter.setPen(QPen(mixColors(face, text, 0.3), 1));
    painter.drawEllipse(circle.adjusted(0.5, 0.5, -0.5, -0.5));

    // The down arrow: a stem and its head.
    const QPointF c = circle.center();
    const qreal r = diameter * 0.22;
    QPainterPath arrow;
    arrow.moveTo(c + QPointF(0, -r));
    arrow.lineTo(c + QPointF(0, r));
    arrow.moveTo(c + QPointF(-r * 0.75, r * 0.25));
    arrow.lineTo(c + QPointF(0, r));
    arrow.lineTo(c + QPointF(r * 0.75, r * 0.25));
    painter.setPen(QPen(text, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arrow);
}

}  // namespace parlote
