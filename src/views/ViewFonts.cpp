#include "ViewFonts.h"

namespace parlote::views {

namespace {

// Scales a font that may be sized in points or in pixels.
QFont scaled(const QFont& base, qreal factor) {
    QFont font = base;
    if (base.pointSizeF() > 0)
        font.setPointSizeF(base.pointSizeF() * factor);
    else if (base.pixelSize() > 0)
        font.setPixelSize(qRound(base.pixelSize() * factor));
    return font;
}

}  // namespace

QFont headlineFont(const QFont& base) {
    QFont font = scaled(base, 1.1);
    font.setBold(true);
    return font;
}

QFont captionFont(const QFont& base) {
    return scaled(base, 0.85);
}

QFont titleFont(const QFont& base, qreal factor) {
    QFont font = scaled(base, factor);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont inputFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(10.5);  // 14 px at 96 dpi
    return font;
}

}  // namespace parlote::views
