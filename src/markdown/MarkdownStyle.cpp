#include "MarkdownStyle.h"

#include <QFontDatabase>
#include <QFontMetricsF>

namespace parlote {

QColor mixColors(const QColor& a, const QColor& b, qreal amountOfB) {
    const qreal k = 1.0 - amountOfB;
    return QColor::fromRgbF(float(a.redF() * k + b.redF() * amountOfB),
                            float(a.greenF() * k + b.greenF() * amountOfB),
                            float(a.blueF() * k + b.blueF() * amountOfB));
}

QColor secondaryTextColor(const QPalette& palette) {
    return mixColors(palette.color(QPalette::Window), palette.color(QPalette::WindowText), 0.6);
}

QFont scaledFont(const QFont& font, qreal factor) {
    QFont scaled = font;
    if (font.pointSizeF() > 0)
        scaled.setPointSizeF(font.pointSizeF() * factor);
    else if (font.pixelSize() > 0)
        scaled.setPixelSize(qMax(1, qRound(font.pixelSize() * factor)));
    return scaled;
}

MarkdownStyle MarkdownStyle::from(const QFont& font, const QPalette& palette,
                                  QPalette::ColorRole textRole,
                                  QPalette::ColorRole backgroundRole) {
    MarkdownStyle s;
    s.body = font;
    // Monospaced text looks larger than proportional text at the same size.
    s.mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (font.pointSizeF() > 0)
        s.mono.setPointSizeF(font.pointSizeF() * 0.92);
    else if (font.pixelSize() > 0)
        s.mono.setPixelSize(qMax(1, qRound(font.pixelSize() * 0.92)));

    const QColor text = palette.color(QPalette::Active, textRole);
    const QColor background = palette.color(QPalette::Active, backgroundRole);
    s.text = text;
    s.secondary = mixColors(background, text, 0.6);
    s.link = palette.color(QPalette::Active, QPalette::Link);
    // A dark theme whose link colour is the light default's dark blue: lighten it.
    if (background.lightnessF() < 0.5 && s.link.lightnessF() < 0.45) s.link = s.link.lighter(180);
    s.codeBackground = mixColors(background, text, 0.08);
    s.syntax = SyntaxTheme::forBackground(s.codeBackground);
    s.quoteBar = mixColors(background, text, 0.3);
    s.rule = mixColors(background, text, 0.25);
    s.headerBackground = mixColors(background, text, 0.06);
    s.checkboxFill = palette.color(QPalette::Active, QPalette::Highlight);

    const QFontMetricsF metrics(font);
    s.blockSpacing = qRound(metrics.height() * 0.6);
    s.listIndent =
        qRound(metrics.horizontalAdvance(QStringLiteral("00.")) + metrics.height() * 0.6);
    s.quoteIndent = qRound(metrics.height() * 0.9);
    s.codePadding = qRound(metrics.height() * 0.45);
    return s;
}

QFont MarkdownStyle::headingFont(int level) const {
    static constexpr qreal kScale[] = {1.6, 1.35, 1.18, 1.05, 1.0, 0.92};
    QFont f = scaledFont(body, kScale[qBound(1, level, 6) - 1]);
    f.setWeight(level <= 2 ? QFont::Bold : QFont::DemiBold);
    return f;
}

}  // namespace parlote
