#include "ChatPaneParts.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "MainView.h"
#include "MarkdownStyle.h"

namespace parlote::views_detail {

namespace {

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

}  // namespace

// ---- banner --------------------------------------------------------------------------------

Banner::Banner(QWidget* parent) : QWidget(parent) {
    setFixedHeight(MainView::bannerHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 16, 0);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon::fromTheme(QStringLiteral("dialog-warning"),
                                     QIcon(QStringLiteral(":/resources/icons/dialog-warning.svg")))
                        .pixmap(16, 16));
    text_ = new QLabel(MainView::notRunningText, this);
    text_->setForegroundRole(QPalette::WindowText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);  // the commands can be copied
    setAccessibleName(tr("Ollama is not running"));
    setAccessibleDescription(MainView::notRunningText);
    row->addWidget(icon);
    row->addWidget(text_);
    row->addStretch(1);
}

void paintTintedStrip(QWidget& widget, QColor fill, qreal fillOpacity, QColor edge,
                      qreal edgeOpacity) {
    QPainter painter(&widget);
    painter.fillRect(widget.rect(), withAlpha(fill, fillOpacity));
    painter.setPen(withAlpha(edge, edgeOpacity));
    painter.drawRect(widget.rect().adjusted(0, 0, -1, -1));
}

void Banner::paintEvent(QPaintEvent*) {
    paintTintedStrip(*this, QColor(Qt::yellow), 0.2, QColor(255, 165, 0), 0.5);
}

// ---- sidebar button --------------------------------------------------------------------------

SidebarButton::SidebarButton(QWidget* parent) : QToolButton(parent) {
    setObjectName(QStringLiteral("sidebarButton"));
    setFocusPolicy(Qt::StrongFocus);
    setIconSize(QSize(18, 18));
    setStyleSheet(QStringLiteral(
        "QToolButton#sidebarButton { padding: 5px; border: 1px solid transparent;"
        " border-radius: 6px; background: transparent; }"
        "QToolButton#sidebarButton:hover { background: rgba(128, 128, 128, 40); }"
        "QToolButton#sidebarButton:pressed { background: rgba(128, 128, 128, 70); }"
        "QToolButton#sidebarButton:focus { border: 1px solid palette(highlight); }"));
    updateIcon();
}

void SidebarButton::changeEvent(QEvent* event) {
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) updateIcon();
}

void SidebarButton::updateIcon() {
    const QIcon themed = QIcon::fromTheme(QStringLiteral("sidebar-show"));
    if (!themed.isNull()) {
        setIcon(themed);
        return;
    }
    // A window outline with its left third filled: the sidebar.
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(iconSize() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = palette().color(QPalette::ButtonText);
    const QRectF frame = QRectF(QPointF(0, 0), QSizeF(iconSize())).adjusted(1.5, 2.5, -1.5, -2.5);
    painter.setPen(QPen(ink, 1.4));
    painter.drawRoundedRect(frame, 2.5, 2.5);
    const qreal split = frame.left() + frame.width() * 0.36;
    painter.drawLine(QPointF(split, frame.top()), QPointF(split, frame.bottom()));
    painter.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const qreal y = frame.top() + 3 + i * 2.5;
        painter.drawLine(QPointF(frame.left() + 2, y), QPointF(split - 2, y));
    }
    painter.end();
    setIcon(QIcon(pixmap));
}

// ---- elided label --------------------------------------------------------------------------

void ElidedLabel::setFullText(const QString& text, bool secondary) {
    full_ = text;
    secondary_ = secondary;
    setProperty("secondary", secondary);
    setToolTip(text);
    update();
}

QSize ElidedLabel::minimumSizeHint() const {
    return QSize(0, fontMetrics().height());
}

QSize ElidedLabel::sizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(full_) + 4, fontMetrics().height());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(secondary_ ? secondaryTextColor(palette())
                              : palette().color(QPalette::WindowText));
    QString line = full_;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter,
                     fontMetrics().elidedText(line, Qt::ElideRight, width()));
}

// ---- input frame ---------------------------------------------------------------------------

InputFrame::InputFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
}

void InputFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    painter.fillPath(outline, palette().color(QPalette::Base));
    painter.setPen(QPen(withAlpha(QColor(128, 128, 128), 0.5), 1));
    painter.drawPath(outline);
}

// ---- sheet dialog --------------------------------------------------------------------------

SheetDialog::SheetDialog(QWidget* parent, std::function<void()> onClose, bool escapeCloses)
    : QDialog(parent), onClose_(std::move(onClose)), escapeCloses_(escapeCloses) {
    setWindowModality(Qt::WindowModal);
}

void SheetDialog::reject() {
    if (escapeCloses_ && onClose_) onClose_();
}

void SheetDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (onClose_) onClose_();
}

void SheetDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && !escapeCloses_) return;
    QDialog::keyPressEvent(event);
}

}  // namespace parlote::views_detail
