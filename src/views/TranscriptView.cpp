#include "TranscriptView.h"

#include <QClipboard>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QIcon>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <cmath>

#include "MarkdownLayout.h"
#include "MarkdownStyle.h"
#include "TranscriptLayoutCache.h"
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

QIcon copyIcon() {
    static const QIcon icon = QIcon::fromTheme(
        QStringLiteral("edit-copy"), QIcon(QStringLiteral(":/resources/icons/edit-copy.svg")));
    return icon;
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
      animation_(new QPropertyAnimation(this, "scrollPosition", this)),
      growthEnd_(new QTimer(this)) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    verticalScrollBar()->setSingleStep(24);
    updateMetrics();
    animation_->setDuration(scrollDuration);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    // The last frame of an animation may land a little off when rows measured on the way
    // changed height; end exactly on the target.
    connect(animation_, &QPropertyAnimation::finished, this,
            [this] { scrollToLastMessage(false); });
    growthEnd_->setSingleShot(true);
    growthEnd_->setInterval(streamEndDelay);
    connect(growthEnd_, &QTimer::timeout, this, &TranscriptView::endFastGrowth);
    urlOpener_ = desktopLinkOpener();
}

TranscriptView::~TranscriptView() = default;

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
    messages_ = messages;
    animation_->stop();
    resetRows();
    // A transcript opens at its end, where the conversation stands.
    if (!messages_.isEmpty()) scrollToLastMessage(false);
    viewport()->update();
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
    messages_ = messages;

    if (same == oldCount && same == newCount) return;
    if (oldCount == 0) {
        openTranscript(messages);
        return;
    }
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
    viewport()->update();
}

void TranscriptView::setStatusMessage(const std::optional<QString>& text) {
    if (text == status_) return;
    const bool had = status_.has_value();
    status_ = text;
    if (had) rows_.pop_back();
    if (status_) rows_.push_back(Row{});
    offsetsDirty_ = true;
    viewport()->update();
}

void TranscriptView::updateStyle() {
    updateMetrics();
    layouts_->setStyle(style_);
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
    // A view that showed the end keeps showing it when it gets shorter or narrower (the
    // banner appears, the window is resized).
    const bool atEnd = !rows_.empty() && lastVisibleHeight_ > 0 &&
                       top_ >= contentHeight() - lastVisibleHeight_ - 1;
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
    if (atEnd) scrollToLastMessage(false);
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

QRect TranscriptView::copyButtonRect(int row) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row)) return {};
    return geometry(row).copy.translated(r.topLeft());
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
    const QFontMetrics captionMetrics(captionFont_);
    const QDateTime now = QDateTime::currentDateTime();
    const int visible = viewport()->height();

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
        if (message.type() == ChatMessageType::error) {
            painter.setPen(pal.color(QPalette::WindowText));
            painter.setFont(font());
            painter.drawText(g.text, Qt::TextWordWrap, g.plainText);
        } else {
            QPainterPath bubble;
            bubble.addRoundedRect(QRectF(g.bubble), bubbleRadius, bubbleRadius);
            painter.fillPath(bubble, bubbleColor(message.type(), pal));
            const QRectF textExposed = QRectF(exposed).translated(-origin);
            layoutFor(row)->paint(&painter, g.text.topLeft(), textExposed);
            // The text is measured now: a row laid out yesterday shows its date today.
            const QString time = timestampText(message.timestamp(), now);
            const int timeWidth = captionMetrics.horizontalAdvance(time) + 2;
            QRect timeRect = g.time;
            if (message.type() == ChatMessageType::user)
                timeRect.moveLeft(g.time.left() - timeWidth);
            timeRect.setWidth(timeWidth);
            painter.setFont(captionFont_);
            painter.setPen(secondary);
            painter.drawText(timeRect, Qt::AlignVCenter | Qt::AlignLeft, time);
        }
        if (g.notice.isValid()) {
            painter.setFont(captionFont_);
            painter.setPen(secondary);
            painter.drawText(g.notice, Qt::AlignLeft | Qt::AlignVCenter, g.noticeText);
            QFont link = captionFont_;
            link.setUnderline(true);
            painter.setFont(link);
            painter.setPen(pal.color(QPalette::Link));
            painter.drawText(g.showAll, Qt::AlignLeft | Qt::AlignVCenter, tr("Show all"));
        }
        copyIcon().paint(&painter, g.copy, Qt::AlignCenter,
                         pressedCopyRow_ == row ? QIcon::Active : QIcon::Normal);
        painter.restore();
    }
}

// ---- mouse --------------------------------------------------------------------------------

TranscriptView::Hit TranscriptView::hitTest(const QPoint& pos) {
    settle();
    Hit hit;
    if (rows_.empty()) return hit;
    const qreal y = top_ + pos.y();
    const int row = rowAt(y);
    const qreal top = rowTop(row);
    if (y < top || y >= top + rows_[size_t(row)].height || isStatusRow(row)) return hit;
    const QPoint at(pos.x() - padding, int(y - top));
    const RowGeometry& g = geometry(row);
    if (g.copy.contains(at)) {
        hit.part = Hit::Part::copyButton;
    } else if (g.showAll.contains(at)) {
        hit.part = Hit::Part::showAll;
    } else if (g.text.contains(at) && messages_.at(row).type() != ChatMessageType::error) {
        hit.part = Hit::Part::text;  // an error's text is plain: it holds no links
        hit.inText = at - g.text.topLeft();
    } else {
        return hit;
    }
    hit.row = row;
    return hit;
}

QString TranscriptView::linkAt(const Hit& hit) {
    if (hit.part != Hit::Part::text) return {};
    return layoutFor(hit.row)->linkAt(hit.inText);
}

void TranscriptView::mouseMoveEvent(QMouseEvent* event) {
    const Hit hit = hitTest(event->position().toPoint());
    const bool pointing = hit.part == Hit::Part::copyButton || hit.part == Hit::Part::showAll ||
                          !linkAt(hit).isEmpty();
    viewport()->setCursor(pointing ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TranscriptView::mousePressEvent(QMouseEvent* event) {
    pressedLink_.clear();
    pressedCopyRow_ = -1;
    pressedShowAllRow_ = -1;
    const Hit hit =
        event->button() == Qt::LeftButton ? hitTest(event->position().toPoint()) : Hit{};
    switch (hit.part) {
        case Hit::Part::copyButton:
            pressedCopyRow_ = hit.row;
            viewport()->update();
            break;
        case Hit::Part::showAll:
            pressedShowAllRow_ = hit.row;
            break;
        case Hit::Part::text:
            pressedLink_ = linkAt(hit);
            break;
        case Hit::Part::nothing:
            break;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void TranscriptView::mouseReleaseEvent(QMouseEvent* event) {
    const Hit hit =
        event->button() == Qt::LeftButton ? hitTest(event->position().toPoint()) : Hit{};
    if (hit.part == Hit::Part::copyButton && pressedCopyRow_ == hit.row) {
        const QString content = messages_.at(hit.row).content();
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(content);
        emit copied(content);
    } else if (hit.part == Hit::Part::showAll && pressedShowAllRow_ == hit.row) {
        showWholeMessage(hit.row);
    } else if (hit.part == Hit::Part::text && !pressedLink_.isEmpty() &&
               linkAt(hit) == pressedLink_) {
        const QUrl url(pressedLink_);
        if (url.isValid() && urlOpener_) urlOpener_(url);
    }
    if (pressedCopyRow_ >= 0) viewport()->update();
    pressedCopyRow_ = -1;
    pressedShowAllRow_ = -1;
    pressedLink_.clear();
    QAbstractScrollArea::mouseReleaseEvent(event);
}

bool TranscriptView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (hitTest(help->pos()).part == Hit::Part::copyButton) {
            QToolTip::showText(help->globalPos(), tr("Copy message"), viewport());
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

}  // namespace parlote

namespace parlote {

void TranscriptView::setReplyInProgress(bool) {}
void TranscriptView::beginEditing(const QUuid&) {}

}  // namespace parlote
