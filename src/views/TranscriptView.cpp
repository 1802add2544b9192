#include "TranscriptView.h"

#include <QAccessible>
#include <QEasingCurve>
#include <QHelpEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

#include "JumpToEndButton.h"
#include "MarkdownLayout.h"
#include "MarkdownStyle.h"
#include "TranscriptAccessible.h"
#include "TranscriptFind.h"
#include "TranscriptLayoutCache.h"
#include "TranscriptSelection.h"
#include "ViewFonts.h"
#include "WholeMessageWindow.h"

namespace parlote {

namespace {

// Blue and gray at opacity 0.1 over the window background.
QColor bubbleColor(ChatMessageType type, const QPalette& palette) {
    const QColor background = palette.color(QPalette::Window);
    return type == ChatMessageType::user ? mixColors(background, QColor(0, 122, 255), 0.1)
                                         : mixColors(background, QColor(128, 128, 128), 0.1);
}

// The locale's long date without the weekday and with abbreviated month names: the
// medium date style ("Jan 5, 2026", "5. Jan. 2026").
QString mediumDateFormat(const QLocale& locale) {
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

}  // namespace

TranscriptView::TranscriptView(QWidget* parent, ImageStore* images)
    : QAbstractScrollArea(parent),
      layouts_(std::make_unique<TranscriptLayoutCache>(images, layoutCacheSize,
                                                       [this](const QUuid& id) {
                                                           // Its row is laid out again (with a new
                                                           // layout) when it is next needed.
                                                           if (const auto at =
                                                                   messages_.lastIndexOf(id))
                                                               rows_[size_t(*at)].exact = false;
                                                       })),
      animation_(new QVariantAnimation(this)),
      jumpButton_(new JumpToEndButton(this)),
      growthEnd_(new QTimer(this)),
      selection_(std::make_unique<TranscriptSelection>(this)),
      find_(new TranscriptFind(this)),
      accessibleItems_(std::make_unique<TranscriptAccessibleItems>(this)) {
    installTranscriptAccessibility();
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(24);
    updateMetrics();
    layouts_->setStyles(style_, thinkingStyle_);
    animation_->setDuration(scrollDuration);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { moveTo(value.toReal()); });
    // A child of the view rather than of the viewport, so that it stays over the rows and
    // any editor among them.
    jumpButton_->hide();
    connect(jumpButton_, &QAbstractButton::clicked, this, [this] { jumpToEnd(); });
    // The last frame of an animation may land a little off when rows measured on the way
    // changed height; end exactly on the target.
    connect(animation_, &QVariantAnimation::finished, this, [this] { scrollToLastMessage(false); });
    growthEnd_->setSingleShot(true);
    growthEnd_->setInterval(streamEndDelay);
    connect(growthEnd_, &QTimer::timeout, this, &TranscriptView::endFastGrowth);
    urlOpener_ = desktopLinkOpener();
}

TranscriptView::~TranscriptView() {
    accessibleItems_.reset();  // they read the view
}

void TranscriptView::setUrlOpener(LinkOpener opener) {
    urlOpener_ = std::move(opener);
}

QString TranscriptView::timestampText(const QDateTime& time, const QDateTime& now) {
    const QLocale locale;
    const QDateTime local = time.toLocalTime();
    const QString clock = locale.toString(local.time(), QLocale::ShortFormat);
    if (local.date() == now.toLocalTime().date()) return clock;
    return locale.toString(local.date(), mediumDateFormat(locale)) + QLatin1Char(' ') + clock;
}

// ---- content ----------------------------------------------------------------------------

void TranscriptView::openTranscript(const MessageList& messages) {
    // Another conversation: a reply that ends now is not the one the user waited for here.
    watchingReply_ = false;
    showTranscript(messages);
}

void TranscriptView::showTranscript(const MessageList& messages) {
    accessibleItems_->clear();  // while the view still holds their messages
    selection_->reset();
    current_ = QUuid();
    messages_ = messages;
    animation_->stop();
    resetRows();
    find_->reset();
    closeEditorOfGoneMessage();
    // A transcript opens at its end, where the conversation stands.
    following_ = true;
    if (!messages_.isEmpty()) scrollToLastMessage(false);
    dropHiddenFocusMark();
    updateJumpButton();
    viewport()->update();
}

void TranscriptView::closeEditorOfGoneMessage() {
    if (editor_ && !messages_.lastIndexOf(editingId_)) cancelEditing();
}

void TranscriptView::resetRows() {
    rows_.assign(size_t(rowCount()), Row{});
    offsetsDirty_ = true;
    anchorRow_ = 0;
    anchorOffset_ = 0;
    top_ = 0;
}

void TranscriptView::setMessages(const MessageList& messages) {
    const MessageList old = messages_;
    const qsizetype oldCount = old.size();
    const qsizetype newCount = messages.size();
    qsizetype same = old.sharedPrefixSize(messages);
    while (same < oldCount && same < newCount && old.at(same) == messages.at(same)) ++same;
    if (same < oldCount && accessibleItems_->hasItems()) forgetGoneMessages(old, messages, same);
    messages_ = messages;

    if (same == oldCount && same == newCount) return;
    if (oldCount == 0) {
        showTranscript(messages);
        return;
    }
    find_->changed(same);
    // The same transcript, grown or changed near its end: keep the rows before the change
    // and the position.
    std::optional<Row> statusRow;
    if (status_) statusRow = rows_.back();
    rows_.resize(size_t(oldCount));
    rows_.resize(size_t(newCount));
    bool growingFast = false;
    for (qsizetype i = same; i < newCount; ++i) {
        Row& row = rows_[size_t(i)];
        row.exact = false;  // old height stays as estimate
        // A message that grew fast counts as growing fast for as long as it grows at all,
        // so that a flood going a little slower for a moment does not lay out its whole
        // part.
        const qsizetype growth = i < oldCount && old.at(i).id() == messages.at(i).id()
                                     ? messages.at(i).content().size() - old.at(i).content().size()
                                     : 0;
        row.growingFast = growth > fastGrowth || (row.growingFast && growth > 0);
        growingFast = growingFast || row.growingFast;
    }
    if (growingFast) growthEnd_->start();
    if (statusRow) rows_.push_back(*statusRow);
    offsetsDirty_ = true;
    closeEditorOfGoneMessage();
    // A question just asked (a new or edited user message at the end) is followed by its
    // answer: the view follows the end again, wherever the user was reading.
    for (qsizetype i = qMax(same, newCount - 2); i < newCount; ++i)
        if (messages.at(i).type() == ChatMessageType::user) following_ = true;
    scrollToLastMessage(true);  // only while following
    if (focusMark_) dropHiddenFocusMark();
    viewport()->update();
    if (QAccessible::isActive()) {
        // New messages are new items for assistive technology.
        QSet<QUuid> before;
        for (qsizetype i = same; i < oldCount; ++i) before.insert(old.at(i).id());
        for (qsizetype i = same; i < newCount; ++i) {
            if (before.contains(messages.at(i).id())) continue;
            QAccessibleEvent made(accessibleItems_->item(messages.at(i).id()),
                                  QAccessible::ObjectCreated);
            QAccessible::updateAccessibility(&made);
        }
    }
}

void TranscriptView::forgetGoneMessages(const MessageList& old, const MessageList& now,
                                        qsizetype from) {
    QSet<QUuid> kept;
    for (qsizetype i = from; i < now.size(); ++i) kept.insert(now.at(i).id());
    QList<QUuid> gone;
    for (qsizetype i = from; i < old.size(); ++i)
        if (!kept.contains(old.at(i).id())) gone.append(old.at(i).id());
    accessibleItems_->remove(gone);
}

void TranscriptView::setStatusMessage(const std::optional<QString>& text) {
    if (text == status_) return;
    const bool had = status_.has_value();
    status_ = text;
    if (had) rows_.pop_back();
    if (status_) rows_.push_back(Row{});
    offsetsDirty_ = true;
    scrollToLastMessage(true);  // only while following
    viewport()->update();
}

void TranscriptView::updateStyle() {
    updateMetrics();
    layouts_->setStyles(style_, thinkingStyle_);
    invalidateHeights();
    viewport()->update();
}

void TranscriptView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange)
        updateStyle();
}

void TranscriptView::resizeEvent(QResizeEvent* event) {
    // A view that showed or followed the end keeps showing it when it gets shorter or
    // narrower (the banner appears, the window is resized).
    const bool atEnd = following_ || (!rows_.empty() && lastVisibleHeight_ > 0 &&
                                      top_ >= contentHeight() - lastVisibleHeight_ - 1);
    QAbstractScrollArea::resizeEvent(event);
    if (viewport()->width() != lastWidth_) {
        lastWidth_ = viewport()->width();
        for (Row& row : rows_) {
            row.exact = false;
            row.height = 0;  // estimated again for the new width
        }
        offsetsDirty_ = true;
    }
    settle();
    if (atEnd) {
        following_ = true;
        scrollToLastMessage(false);
    }
    updateJumpButton();
}

// ---- painting -----------------------------------------------------------------------------

QRect TranscriptView::rowRect(int row) {
    if (row < 0 || row >= rowCount()) return {};
    settle();
    const int top = int(std::lround(rowTop(row) - top_));
    return QRect(padding, top, contentWidth(), rows_[size_t(row)].height);
}

QRect TranscriptView::bubbleRect(int row) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row)) return {};
    return geometry(row).bubble.translated(r.topLeft());
}

QString TranscriptView::laidOutText(int row) {
    if (row < 0 || row >= messageRowCount()) return {};
    if (messages_.at(row).type() == ChatMessageType::error) return geometry(row).plainText;
    return entryFor(row).laidOut;
}

QString TranscriptView::cutNoticeText(int row) {
    if (row < 0 || row >= messageRowCount()) return {};
    return geometry(row).noticeText;
}

QRect TranscriptView::showAllRect(int row) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row) || geometry(row).showAll.isNull()) return {};
    return geometry(row).showAll.translated(r.topLeft());
}

WholeMessageWindow* TranscriptView::showWholeMessage(int row) {
    if (row < 0 || row >= messageRowCount()) return nullptr;
    auto* window = new WholeMessageWindow(messages_.at(row).content(), this);
    window->show();
    return window;
}

void TranscriptView::paintEvent(QPaintEvent* event) {
    settle();
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect exposed = event->rect();
    const QPalette& pal = palette();
    const QColor secondary = secondaryTextColor(pal);
    const QDateTime now = QDateTime::currentDateTime();
    const int visible = viewport()->height();
    const int markRow = messageFocusRow();

    for (int row = rowAt(top_); row < int(rows_.size()) && rowTop(row) < top_ + visible; ++row) {
        const QPoint origin(padding, int(std::lround(rowTop(row) - top_)));
        const RowGeometry& g = geometry(row);
        if (!exposed.intersects(QRect(origin, QSize(contentWidth(), g.height)))) continue;
        painter.save();
        painter.translate(origin);
        if (isStatusRow(row)) {
            painter.setFont(captionFont_);
            painter.setPen(secondary);
            painter.drawText(g.text, Qt::TextWordWrap, *status_);
            painter.restore();
            continue;
        }
        const ChatMessage& message = messages_.at(row);
        if (editor_ && message.id() == editingId_) {  // the editor covers the row
            painter.restore();
            continue;
        }
        const QRectF textExposed = QRectF(exposed).translated(-origin);
        if (message.type() == ChatMessageType::error) {
            selection_->paintError(painter, row, g.text, g.plainText);
        } else {
            QPainterPath bubble;
            bubble.addRoundedRect(QRectF(g.bubble), bubbleRadius, bubbleRadius);
            painter.fillPath(bubble, bubbleColor(message.type(), pal));
            if (g.thinking != Thinking::none) paintThinking(painter, row, g, textExposed);
            if (g.text.height() > 0)
                selection_->paintText(painter, row, g.text.topLeft(), textExposed);
        }
        if (g.notice.isValid()) {
            painter.setFont(captionFont_);
            painter.setPen(secondary);
            painter.drawText(g.notice, Qt::AlignLeft | Qt::AlignVCenter, g.noticeText);
        }
        paintMeta(painter, row, g, now);
        if (row == markRow) {
            // The keyboard's place: a ring in the selection colour around the bubble, as
            // around a marked control.
            painter.setPen(QPen(pal.color(QPalette::Highlight), 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(g.bubble).adjusted(-3, -3, 3, 3), bubbleRadius + 2,
                                    bubbleRadius + 2);
        }
        painter.restore();
    }
}

void TranscriptView::paintThinking(QPainter& painter, int row, const RowGeometry& g,
                                   const QRectF& exposed) {
    const QPalette& pal = palette();
    const ChatMessage& message = messages_.at(row);
    const bool hot = hovered_ == ControlRef{message.id(), Control::thinkingToggle} ||
                     pressed_ == ControlRef{message.id(), Control::thinkingToggle};
    const QColor titleColor = hot ? pal.color(QPalette::WindowText) : secondaryTextColor(pal);
    QRect title = g.thinkingTitle;
    if (g.thinking != Thinking::live) {
        // The disclosure arrow: pointing right while collapsed, down while expanded.
        const QRectF box(title.left(), title.top() + (title.height() - iconSize) / 2.0, iconSize,
                         iconSize);
        const QPointF c = box.center();
        const qreal r = iconSize * 0.22;
        QPolygonF arrow;
        if (g.thinking == Thinking::expanded)
            arrow << c + QPointF(-r, -r / 2) << c + QPointF(r, -r / 2) << c + QPointF(0, r);
        else
            arrow << c + QPointF(-r / 2, -r) << c + QPointF(r, 0) << c + QPointF(-r / 2, r);
        painter.setPen(Qt::NoPen);
        painter.setBrush(titleColor);
        painter.drawPolygon(arrow);
        painter.setBrush(Qt::NoBrush);
        title.setLeft(title.left() + iconSize);
    }
    painter.setFont(font());
    painter.setPen(titleColor);
    painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter, g.thinkingTitleText);
    if (!g.thinkingText.isValid()) return;

    // A bar down the reasoning's left side, as a quotation has.
    const QColor bar =
        mixColors(bubbleColor(message.type(), pal), pal.color(QPalette::WindowText), 0.25);
    painter.fillRect(QRectF(g.thinkingText.left() - thinkingIndent, g.thinkingText.top(), 2,
                            g.thinkingText.height()),
                     bar);
    MarkdownLayout* reasoning = thinkingLayoutFor(row, g.thinking);
    if (!reasoning) return;
    const qreal height = reasoning->height();
    if (g.thinking == Thinking::expanded || height <= g.thinkingText.height()) {
        reasoning->paint(&painter, g.thinkingText.topLeft(), exposed);
        return;
    }
    // The last lines, the ones above them fading out.
    painter.save();
    painter.setClipRect(g.thinkingText);
    const QPointF topLeft(g.thinkingText.left(), g.thinkingText.bottom() + 1 - height);
    reasoning->paint(&painter, topLeft, exposed.intersected(QRectF(g.thinkingText)));
    QColor background = bubbleColor(message.type(), pal);
    QLinearGradient fade(0, g.thinkingText.top(), 0, g.thinkingText.top() + thinkingLineSpacing_);
    fade.setColorAt(0, background);
    background.setAlpha(0);
    fade.setColorAt(1, background);
    painter.fillRect(
        QRect(g.thinkingText.topLeft(), QSize(g.thinkingText.width(), thinkingLineSpacing_)), fade);
    painter.restore();
}

// ---- mouse --------------------------------------------------------------------------------

int TranscriptView::messageRowAt(const QPoint& pos, QPoint* inRow) {
    if (rows_.empty()) return -1;
    const qreal y = top_ + pos.y();
    const int row = rowAt(y);
    const qreal top = rowTop(row);
    if (y < top || y >= top + rows_[size_t(row)].height || isStatusRow(row)) return -1;
    *inRow = QPoint(pos.x() - padding, int(y - top));
    return row;
}

TranscriptView::Hit TranscriptView::hitTest(const QPoint& pos) {
    settle();
    Hit hit;
    QPoint at;
    const int row = messageRowAt(pos, &at);
    if (row < 0) return hit;
    const RowGeometry& g = geometry(row);
    const std::vector<PlacedControl> controls = controlsOf(row);
    const auto control = std::find_if(controls.begin(), controls.end(),
                                      [&](const PlacedControl& c) { return c.rect.contains(at); });
    if (control != controls.end()) {
        hit.part = Hit::Part::control;
        hit.control = *control;
    } else if (g.text.contains(at) && messages_.at(row).type() != ChatMessageType::error) {
        hit.part = Hit::Part::text;  // an error's text is plain: it holds no links
        hit.inText = at - g.text.topLeft();
    } else if (g.thinking == Thinking::expanded && g.thinkingText.contains(at)) {
        hit.part = Hit::Part::thinkingText;
        hit.inText = at - g.thinkingText.topLeft();
    } else {
        return hit;
    }
    hit.row = row;
    return hit;
}

QString TranscriptView::linkAt(const Hit& hit) {
    if (hit.part == Hit::Part::text) return layoutFor(hit.row)->linkAt(hit.inText);
    if (hit.part == Hit::Part::thinkingText) {
        MarkdownLayout* reasoning = thinkingLayoutFor(hit.row, Thinking::expanded);
        return reasoning ? reasoning->linkAt(hit.inText) : QString();
    }
    return {};
}

void TranscriptView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->buttons().testFlag(Qt::LeftButton) && selection_->drag(pos)) {
        // Selecting: a drag that began on a link selects rather than opens it.
        pressedLink_.clear();
        viewport()->setCursor(Qt::IBeamCursor);
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    const Hit hit = hitTest(pos);
    const bool onControl = hit.part == Hit::Part::control && hit.control.enabled;
    const bool pointing = onControl || !linkAt(hit).isEmpty();
    viewport()->setCursor(pointing                      ? Qt::PointingHandCursor
                          : hit.part == Hit::Part::text ? Qt::IBeamCursor
                                                        : Qt::ArrowCursor);
    std::optional<ControlRef> hovered;
    if (onControl) hovered = controlRefOf(hit);
    if (hovered != hovered_) {
        hovered_ = hovered;
        viewport()->update();
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TranscriptView::mousePressEvent(QMouseEvent* event) {
    pressedLink_.clear();
    pressed_.reset();
    const Hit hit =
        event->button() == Qt::LeftButton ? hitTest(event->position().toPoint()) : Hit{};
    switch (hit.part) {
        case Hit::Part::control:
            if (hit.control.enabled) {
                pressed_ = controlRefOf(hit);
                viewport()->update();
            }
            break;
        case Hit::Part::text:
        case Hit::Part::thinkingText:
            pressedLink_ = linkAt(hit);
            break;
        case Hit::Part::nothing:
            break;
    }
    // Anywhere but on a control the left button selects: a click clears the selection,
    // Shift+click extends it, a third click selects a paragraph.
    if (event->button() == Qt::LeftButton && hit.part != Hit::Part::control)
        selection_->press(event->position().toPoint(), event->modifiers(), event->timestamp());
    // A click on the transcript takes the focus but leaves no mark: the mark is Tab's. The
    // message clicked becomes the current one.
    if (focusMark_) setFocusMark(std::nullopt);
    if (const int row = messageRowAt(event->position().toPoint()); row >= 0)
        setCurrent(messages_.at(row).id());
    QAbstractScrollArea::mousePressEvent(event);
}

void TranscriptView::mouseReleaseEvent(QMouseEvent* event) {
    const Hit hit =
        event->button() == Qt::LeftButton ? hitTest(event->position().toPoint()) : Hit{};
    const std::optional<ControlRef> pressed = std::exchange(pressed_, std::nullopt);
    const QString pressedLink = std::exchange(pressedLink_, QString());
    // A press that selected (a drag, Shift+click, a double or triple click) opens no link.
    const bool selected = event->button() == Qt::LeftButton && selection_->release();
    if (pressed) viewport()->update();
    if (hit.part == Hit::Part::control && hit.control.enabled && pressed &&
        *pressed == controlRefOf(hit)) {
        activate(hit.row, hit.control.kind, hit.control.index);
    } else if (!selected && (hit.part == Hit::Part::text || hit.part == Hit::Part::thinkingText) &&
               !pressedLink.isEmpty() && linkAt(hit) == pressedLink) {
        const QUrl url(pressedLink);
        if (url.isValid() && urlOpener_) urlOpener_(url);
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TranscriptView::mouseDoubleClickEvent(QMouseEvent* event) {
    const Hit hit =
        event->button() == Qt::LeftButton ? hitTest(event->position().toPoint()) : Hit{};
    if (event->button() != Qt::LeftButton || hit.part == Hit::Part::control) {
        // A control acts once for the first click only.
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    pressedLink_.clear();
    selection_->doubleClick(event->position().toPoint(), event->timestamp());
}

bool TranscriptView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const Hit hit = hitTest(help->pos());
        const QString tip = hit.part == Hit::Part::control ? toolTipFor(hit.row, hit.control.kind)
                                                           : figuresToolTipAt(help->pos());
        if (!tip.isEmpty()) {
            QToolTip::showText(help->globalPos(), tip, viewport());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    if (event->type() == QEvent::Leave && hovered_) {
        hovered_.reset();
        viewport()->update();
    }
    return QAbstractScrollArea::viewportEvent(event);
}

}  // namespace parlote
