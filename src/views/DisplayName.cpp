#include "DisplayName.h"

#include <QFontMetrics>
#include <QTextDocument>

namespace parlote::views {

namespace {

constexpr char16_t firstStrongIsolate = 0x2068;
constexpr char16_t popDirectionalIsolate = 0x2069;
const QString ellipsis = QStringLiteral("…");

// Characters that show nothing themselves but change or hide what is around them.
bool isInvisibleControl(char32_t code) {
    switch (QChar::category(code)) {
        case QChar::Other_Control:        // C0 and C1 controls: line breaks, tabs, escape
        case QChar::Other_Format:         // bidi controls and marks, zero-width characters
        case QChar::Separator_Line:       // U+2028
        case QChar::Separator_Paragraph:  // U+2029
        case QChar::Other_Surrogate:      // half of a broken pair
            return true;
        default:
            return false;
    }
}

bool hasRightToLeftLetters(const QString& text) {
    for (const char32_t code : text.toUcs4()) {
        const QChar::Direction direction = QChar::direction(code);
        if (direction == QChar::DirR || direction == QChar::DirAL) return true;
    }
    return false;
}

// Calls `visit(code point, index, length)` for each code point; an unpaired surrogate is
// one code point of its own.
template <class Visit>
void forEachCodePoint(const QString& text, Visit visit) {
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            visit(QChar::surrogateToUcs4(c, text.at(i + 1)), i, 2);
            i += 2;
        } else {
            visit(char32_t(c.unicode()), i, 1);
            ++i;
        }
    }
}

QString visibleControls(const QString& text) {
    bool any = false;
    forEachCodePoint(
        text, [&](char32_t code, qsizetype, qsizetype) { any = any || isInvisibleControl(code); });
    if (!any) return text;
    QString shown;
    shown.reserve(text.size() + 16);
    forEachCodePoint(text, [&](char32_t code, qsizetype at, qsizetype length) {
        if (isInvisibleControl(code))
            shown += QStringLiteral("<U+%1>").arg(uint(code), 4, 16, QLatin1Char('0')).toUpper();
        else
            shown += QStringView(text).mid(at, length);
    });
    return shown;
}

QString isolated(const QString& shown) {
    if (!hasRightToLeftLetters(shown)) return shown;
    return QChar(firstStrongIsolate) + shown + QChar(popDirectionalIsolate);
}

// `text` cut in the middle to `limit` characters (the ellipsis included), on code point
// boundaries.
QString cutInTheMiddle(const QString& text, qsizetype limit) {
    if (text.size() <= limit) return text;
    qsizetype head = (limit - 1) / 2;
    qsizetype tail = limit - 1 - head;
    if (head > 0 && text.at(head - 1).isHighSurrogate()) --head;
    if (text.at(text.size() - tail).isLowSurrogate()) --tail;
    return text.left(head) + ellipsis + text.right(tail);
}

}  // namespace

QString displayName(const QString& name) {
    return isolated(visibleControls(name));
}

QString displayName(const QString& name, const QFontMetrics& metrics, int width) {
    return isolated(metrics.elidedText(visibleControls(name), Qt::ElideMiddle, qMax(0, width)));
}

QString displayMessage(const QString& text, int longestRun) {
    const QString shown = visibleControls(text);
    QString result;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= shown.size(); ++i) {
        if (i < shown.size() && !shown.at(i).isSpace()) continue;
        result += cutInTheMiddle(shown.mid(runStart, i - runStart), longestRun);
        if (i < shown.size()) result += shown.at(i);
        runStart = i + 1;
    }
    return result;
}

QString withLiteralAmpersands(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString plainToolTip(const QString& text) {
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

}  // namespace parlote::views
