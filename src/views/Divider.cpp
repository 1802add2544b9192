#include "Divider.h"

#include <QPainter>

namespace parlote {

Divider::Divider(QWidget* parent, QPalette::ColorRole role, qreal opacity)
    : QWidget(parent), role_(role), opacity_(opacity) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QColor Divider::lineColor() const {
    QColor color = palette().color(role_);
    color.setAlphaF(color.alphaF() * opacity_);
    return color;
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), lineColor());
}

}  // namespace parlote
