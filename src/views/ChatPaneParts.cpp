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
