#include "MarkdownView.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace parlote {

MarkdownView::MarkdownView(QWidget* parent, ImageStore* images) : QWidget(parent), layout_(images) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setMouseTracking(true);
    frame_.setSingleShot(true);
    frame_.setInterval(16);
    connect(&frame_, &QTimer::timeout, this, &MarkdownView::frameEnded);
    connect(&layout_, &MarkdownLayout::changed, this, [this] {
        updateGeometry();
        update();
    });
    restyle();
}

void MarkdownView::setMarkdown(const QString& text) {
    text_ = text;
    pending_ = true;
    if (!frame_.isActive()) {
        apply();
        frame_.start();
    }
}

void MarkdownView::flush() {
    if (pending_) apply();
}

void MarkdownView::frameEnded() {
    if (!pending_) return;
    apply();
    frame_.start();
}

void MarkdownView::apply() {
    pending_ = false;
    const qreal before = layout_.height();
    if (!layout_.setMarkdown(text_)) return;
    if (layout_.height() != before) updateGeometry();
    update();
}

void MarkdownView::restyle() {
    layout_.setStyle(MarkdownStyle::from(font(), palette()));
    updateGeometry();
    update();
}

int MarkdownView::heightForWidth(int width) const {
    if (cachedRevision_ == layout_.revision() && cachedWidth_ == width) return cachedHeight_;
    const QMargins m = contentsMargins();
    const qreal inner = qMax(1, width - m.left() - m.right());
    // The layout stays at the asked width: a widget layout asks about the width it is
    // about to give, and paint and resize set the real one anyway.
    const int h = int(std::ceil(layout_.heightForWidth(inner))) + m.top() + m.bottom();
    cachedRevision_ = layout_.revision();
    cachedWidth_ = width;
    cachedHeight_ = h;
    return h;
}

QSize MarkdownView::sizeHint() const {
    const QMargins m = contentsMargins();
    const int w = int(layout_.idealWidth(600)) + m.left() + m.right();
    return {w, heightForWidth(w)};
}

QSize MarkdownView::minimumSizeHint() const {
    return {0, 0};
}

void MarkdownView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = contentsRect();
    layout_.setWidth(area.width());
    layout_.paint(&painter, area.topLeft(), QRectF(event->rect()));
}

void MarkdownView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const qreal before = layout_.height();
    layout_.setWidth(contentsRect().width());
    if (layout_.height() != before) updateGeometry();
}

void MarkdownView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange ||
        event->type() == QEvent::StyleChange) {
        restyle();
    }
    QWidget::changeEvent(event);
}

QString MarkdownView::linkAt(const QPointF& widgetPoint) const {
    const QRect area = contentsRect();
    if (!area.contains(widgetPoint.toPoint())) return {};
    return layout_.linkAt(widgetPoint - area.topLeft());
}

void MarkdownView::mouseMoveEvent(QMouseEvent* event) {
    if (linkAt(event->position()).isEmpty())
        unsetCursor();
    else
        setCursor(Qt::PointingHandCursor);
    QWidget::mouseMoveEvent(event);
}

void MarkdownView::mousePressEvent(QMouseEvent* event) {
    pressedLink_ = event->button() == Qt::LeftButton ? linkAt(event->position()) : QString();
    if (pressedLink_.isEmpty())
        QWidget::mousePressEvent(event);
    else
        event->accept();
}

void MarkdownView::mouseReleaseEvent(QMouseEvent* event) {
    // A click opens a link when press and release land on the same one.
    const QString link = event->button() == Qt::LeftButton ? linkAt(event->position()) : QString();
    const bool clicked = !link.isEmpty() && link == pressedLink_;
    pressedLink_.clear();
    if (clicked) {
        openLinkIfAllowed(link, opener_);
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void MarkdownView::leaveEvent(QEvent* event) {
    unsetCursor();
    QWidget::leaveEvent(event);
}

}  // namespace parlote
