#include "SyntaxTheme.h"

namespace parlote {

SyntaxTheme SyntaxTheme::forBackground(const QColor& background) {
    SyntaxTheme theme;
    theme.dark = background.lightnessF() < 0.5;
    auto set = [&](SyntaxKind kind, const char* light, const char* dark) {
        theme.colors[size_t(kind)] = QColor(QLatin1String(theme.dark ? dark : light));
    };
    // Both sets keep a contrast of at least 4.5:1 against the code background of their
    // palette (the window colour tinted 8% towards the text).
    set(SyntaxKind::Keyword, "#a0239e", "#d59ee6");
    set(SyntaxKind::Type, "#8a5a00", "#e5c07b");
    set(SyntaxKind::String, "#2f7a2c", "#98c379");
    set(SyntaxKind::Comment, "#6a6e78", "#9299a6");
    set(SyntaxKind::Number, "#9a4f00", "#e0a572");
    set(SyntaxKind::Function, "#2557c7", "#7ab8f2");
    set(SyntaxKind::Preprocessor, "#a0239e", "#d59ee6");
    set(SyntaxKind::Variable, "#b3342b", "#ef8a91");
    set(SyntaxKind::Special, "#00708a", "#6fcbd6");
    return theme;
}

}  // namespace parlote
