// TranscriptView: the scroll position, kept as a row and an offset into it so that rows
// changing height elsewhere never move what is shown, and the scroll to the last message.
//
// Following the end: while the view follows, a transcript that grows (a reply streaming,
// a message added, the status line) is scrolled to its end. The user scrolling up (the
// wheel, the scroll bar, keys, or anything else they do that takes the end out of view)
// stops that, so that they can read; scrolling back to the end, End, the "Jump to the
// end" button and sending a message start it again.

#include <QScrollBar>
#include <QVariantAnimation>
#include <cmath>

#include "JumpToEndButton.h"
#include "TranscriptView.h"

namespace parlote {

void TranscriptView::setTopFromAnchor() {
    if (rows_.empty()) {
        top_ = 0;
        return;
    }
    anchorRow_ = qBound(0, anchorRow_, int(rows_.size()) - 1);
    top_ = rowTop(anchorRow_) + anchorOffset_;
}

void TranscriptView::setAnchorFromTop() {
    anchorRow_ = rowAt(top_);
    anchorOffset_ = top_ - rowTop(anchorRow_);
}

void TranscriptView::settle() {
    const int visible = viewport()->height();
    lastVisibleHeight_ = visible;
    for (int round = 0; round < 4; ++round) {
        setTopFromAnchor();
        const qreal maxTop = qMax<qreal>(0, contentHeight() - visible);
        if (top_ > maxTop || top_ < 0) {
            top_ = qBound<qreal>(0, top_, maxTop);
            setAnchorFromTop();
        }
        bool measured = false;
        for (int row = rowAt(top_); row < int(rows_.size()) && rowTop(row) < top_ + visible;
             ++row) {
            if (!rows_[size_t(row)].exact) {
                measure(row);
                measured = true;
            }
        }
        if (!measured) break;
    }
    setTopFromAnchor();
    const qreal maxTop = qMax<qreal>(0, contentHeight() - visible);
    if (top_ > maxTop || top_ < 0) {
        top_ = qBound<qreal>(0, top_, maxTop);
        setAnchorFromTop();
    }
    updateScrollBar();
    if (editor_) placeEditor();
    updateJumpButton();
}

void TranscriptView::updateScrollBar() {
    // An empty transcript shows no scroll bar; one with rows always does, so that rows keep
    // their width (and their layout) as the transcript grows past the visible height.
    const Qt::ScrollBarPolicy policy =
        rows_.empty() ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn;
    if (verticalScrollBarPolicy() != policy) setVerticalScrollBarPolicy(policy);
    updatingScrollBar_ = true;
    QScrollBar* bar = verticalScrollBar();
    const int visible = viewport()->height();
    bar->setRange(0, qMax(0, int(std::ceil(contentHeight())) - visible));
    bar->setPageStep(visible);
    bar->setValue(int(std::lround(top_)));
    updatingScrollBar_ = false;
}

void TranscriptView::scrollContentsBy(int, int) {
    if (updatingScrollBar_) return;
    // The user moved the scroll bar, turned the wheel or pressed a key.
    animation_->stop();  // the user took over
    followPending_ = false;
    const qreal before = top_;
    top_ = verticalScrollBar()->value();
    setAnchorFromTop();
    // Up stops following; down keeps it (a view on its way to the end while a reply
    // streams may be a little above it) and starts it again at the end.
    if (top_ < before) following_ = false;
    if (!following_ && isEndInView()) {
        // Back at the end as far as the estimates tell: measure the last rows and show the
        // real end, which is then followed.
        following_ = true;
        scrollToLastMessage(false);
    }
    if (editor_) placeEditor();
    updateJumpButton();
    viewport()->update();
}

void TranscriptView::setScrollPosition(qreal top) {
    animation_->stop();
    followPending_ = false;
    moveTo(top);
    userMoved();
}

void TranscriptView::moveTo(qreal top) {
    top_ = top;
    setAnchorFromTop();
    settle();
    viewport()->update();
}

bool TranscriptView::isEndInView() {
    return rows_.empty() || top_ >= contentHeight() - viewport()->height() - 1;
}

void TranscriptView::userMoved() {
    following_ = isEndInView();
    updateJumpButton();
}

QAbstractButton* TranscriptView::jumpButton() const {
    return jumpButton_;
}

void TranscriptView::updateJumpButton() {
    const bool show = !following_ && !messages_.isEmpty() && !isEndInView();
    if (show) jumpButton_->placeIn(viewport()->geometry());
    if (show != jumpButton_->isVisible()) {
        jumpButton_->setVisible(show);
        if (show) jumpButton_->raise();
    }
}

void TranscriptView::jumpToEnd(bool animated) {
    following_ = true;
    updateJumpButton();
    scrollToLastMessage(animated);
}

bool TranscriptView::isScrolling() const {
    return followPending_ || animation_->state() == QAbstractAnimation::Running;
}

void TranscriptView::scrollToLastMessage(bool animated) {
    if (messages_.isEmpty() || !following_) return;
    if (animated && isVisible()) {
        // Once the updates that came with this one are in: several updates in one turn
        // of the event loop (a flooding server) then measure and lay out the last rows
        // once, for their latest text.
        if (!std::exchange(followPending_, true))
            QMetaObject::invokeMethod(this, &TranscriptView::followLastMessage,
                                      Qt::QueuedConnection);
        return;
    }
    followPending_ = false;
    scrollToEnd(false);
}

void TranscriptView::followLastMessage() {
    if (std::exchange(followPending_, false)) scrollToEnd(true);
}

void TranscriptView::scrollToEnd(bool animated) {
    if (messages_.isEmpty()) return;
    const int target = rowCount() - 1;  // the last message, or the status line under it
    const int visible = viewport()->height();
    // Measure the rows that will be on screen at the end, from the bottom up.
    qreal covered = 0;
    for (int row = target; row >= 0 && covered < visible + padding; --row) {
        if (!rows_[size_t(row)].exact) measure(row);
        covered += rows_[size_t(row)].height + rowSpacing;
    }
    const qreal bottom = rowTop(target) + rows_[size_t(target)].height + padding;
    const qreal maxTop = qMax<qreal>(0, contentHeight() - visible);
    const qreal goal = qBound<qreal>(0, bottom - visible, maxTop);
    if (!animated || std::abs(goal - top_) < 1 || !isVisible()) {
        animation_->stop();
        moveTo(goal);
        return;
    }
    if (animation_->state() == QAbstractAnimation::Running) {
        // Chunks come faster than one animation lasts: move the running one's goal
        // rather than start again from rest, which would fall behind the text.
        animation_->setEndValue(goal);
        return;
    }
    animation_->setStartValue(top_);
    animation_->setEndValue(goal);
    animation_->start();
}

}  // namespace parlote
