#include "ViewFonts.h"

#include "MarkdownStyle.h"

namespace parlote::views {

QFont headlineFont(const QFont& base) {
    QFont font = scaledFont(base, 1.1);
    font.setBold(true);
    return font;
}

QFont captionFont(const QFont& base) {
    return scaledFont(base, 0.85);
}

QFont titleFont(const QFont& base, qreal factor) {
    QFont font = scaledFont(base, factor);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont inputFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(10.5);  // 14 px at 96 dpi
    return font;
}

}  // namespace parlote::views
