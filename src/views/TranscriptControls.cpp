// TranscriptView: the controls of its rows (the meta line's buttons and version switcher,
// the thinking toggle, "Show all"), what they do, how they are painted, and how the
// keyboard reaches them: Up and Down move the current message, Tab marks the controls in
// view one after another (from the current message's) and leaves the view past either
// end, Space or Return acts on the marked one, the Menu key opens the context menu of its
// message.

#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "MarkdownLayout.h"
#include "MarkdownStyle.h"
#include "TranscriptAccessible.h"
#include "TranscriptEditor.h"
#include "TranscriptLayoutCache.h"
#include "TranscriptView.h"

namespace parlote {

namespace {

// Theme icons, with icons of Parlote's own for desktops whose theme has none.
QIcon copyIcon() {
    static const QIcon icon = QIcon::fromTheme(
        QStringLiteral("edit-copy"), QIcon(QStringLiteral(":/resources/icons/edit-copy.svg")));
    return icon;
}

QIcon regenerateIcon() {
    static const QIcon icon =
        QIcon::fromTheme(QStringLiteral("view-refresh"),
                         QIcon(QStringLiteral(":/resources/icons/view-refresh.svg")));
    return icon;
}

QIcon editIcon() {
    static const QIcon icon = QIcon::fromTheme(
        QStringLiteral("document-edit"),
        QIcon::fromTheme(QStringLiteral("edit-entry"),
                         QIcon(QStringLiteral(":/resources/icons/document-edit.svg"))));
    return icon;
}

// Between the pieces of a meta line's text.
const QString kMetaSeparator = QStringLiteral(" · ");

QString contextFullText() {
    return TranscriptView::tr("Context full");
}

bool isIconButton(TranscriptView::Control kind) {
    using Control = TranscriptView::Control;
    return kind == Control::copy || kind == Control::regenerate || kind == Control::edit ||
           kind == Control::previousVersion || kind == Control::nextVersion;
}

}  // namespace

// ---- which controls a row has, and where -------------------------------------------------

bool TranscriptView::offersRegenerate(int row) const {
    // The last reply, or the error in its place, answering a user message.
    if (row != messageRowCount() - 1 || row < 1) return false;
    const ChatMessageType type = messages_.at(row).type();
    return (type == ChatMessageType::assistant || type == ChatMessageType::error) &&
           messages_.at(row - 1).type() == ChatMessageType::user;
}

bool TranscriptView::offersEdit(int row) const {
    return row >= 0 && row < messageRowCount() && messages_.at(row).type() == ChatMessageType::user;
}

TranscriptView::MetaLine TranscriptView::metaLine(int row) {
    MetaLine line;
    if (row < 0 || row >= messageRowCount()) return line;
    const RowGeometry& g = geometry(row);
    const ChatMessage& message = messages_.at(row);
    if (editor_ && message.id() == editingId_) return line;  // the editor has the row
    const int iconTop = g.metaTop + (metaHeight_ - iconSize) / 2;
    auto icon = [&](int x) { return QRect(x, iconTop, iconSize, iconSize); };
    const bool variants = message.hasVariants();
    int labelWidth = 0;
    bool canGoBack = false;
    bool canGoOn = false;
    if (variants) {
        line.versionText =
            QStringLiteral("%1/%2").arg(message.variantIndex() + 1).arg(message.variantCount());
        labelWidth = QFontMetrics(captionFont_).horizontalAdvance(line.versionText) + 6;
        canGoBack = !replyInProgress_ && message.variantIndex() > 0;
        canGoOn = !replyInProgress_ && message.variantIndex() < message.variantCount() - 1;
    }
    if (message.type() == ChatMessageType::user) {
        // From the right edge, under the bubble: copy, edit, the switcher; the time to
        // their left.
        line.textToTheLeft = true;
        std::vector<PlacedControl> fromRight;
        int x = contentWidth() - iconSize;
        fromRight.push_back({Control::copy, icon(x)});
        if (!replyInProgress_) {
            x -= itemSpacing + iconSize;
            fromRight.push_back({Control::edit, icon(x)});
        }
        if (variants) {
            x -= itemSpacing + iconSize;
            fromRight.push_back({Control::nextVersion, icon(x), canGoOn});
            x -= labelWidth;
            line.versionLabel = QRect(x, g.metaTop, labelWidth, metaHeight_);
            x -= iconSize;
            fromRight.push_back({Control::previousVersion, icon(x), canGoBack});
        }
        line.controls.assign(fromRight.rbegin(), fromRight.rend());
        line.textEdge = x - itemSpacing;
    } else {
        // From the left edge: copy, regenerate, the switcher; the time to their right.
        int x = 0;
        line.controls.push_back({Control::copy, icon(x)});
        x += iconSize;
        if (offersRegenerate(row) && !replyInProgress_) {
            x += itemSpacing;
            line.controls.push_back({Control::regenerate, icon(x)});
            x += iconSize;
        }
        if (variants) {
            x += itemSpacing;
            line.controls.push_back({Control::previousVersion, icon(x), canGoBack});
            x += iconSize;
            line.versionLabel = QRect(x, g.metaTop, labelWidth, metaHeight_);
            x += labelWidth;
            line.controls.push_back({Control::nextVersion, icon(x), canGoOn});
            x += iconSize;
        }
        line.textEdge = x + itemSpacing;
        // "Context full" after the time and figures, as a link.
        if (message.type() == ChatMessageType::assistant && message.stats() &&
            message.stats()->contextCut) {
            const QFontMetrics metrics(captionFont_);
            const QString text = metaStatusText(message, QDateTime::currentDateTime());
            const int from =
                line.textEdge +
                (text.isEmpty() ? 0 : metrics.horizontalAdvance(text + kMetaSeparator));
            line.controls.push_back(
                {Control::contextSettings,
                 QRect(from, g.metaTop, metrics.horizontalAdvance(contextFullText()) + 2,
                       metaHeight_)});
        }
    }
    return line;
}

std::vector<TranscriptView::PlacedControl> TranscriptView::controlsOf(int row) {
    std::vector<PlacedControl> controls;
    if (row < 0 || row >= messageRowCount()) return controls;
    const RowGeometry& g = geometry(row);
    if (g.thinking == Thinking::collapsed || g.thinking == Thinking::expanded)
        controls.push_back({Control::thinkingToggle, g.thinkingTitle});
    if (!g.showAll.isNull()) controls.push_back({Control::showAll, g.showAll});
    for (size_t i = 0; i < g.pictures.size(); ++i)
        controls.push_back({Control::picture, g.pictures[i], true, int(i)});
    // The Copy buttons of the message's code blocks, where its text lays them out.
    if (!g.text.isNull() && messages_.at(row).type() != ChatMessageType::error) {
        if (MarkdownLayout* layout = layoutFor(row)) {
            const std::vector<MarkdownLayout::CodeButton> buttons = layout->codeButtons();
            for (size_t i = 0; i < buttons.size(); ++i) {
                const QRect rect = buttons[i].copy.toAlignedRect().translated(g.text.topLeft());
                controls.push_back({Control::copyCode, rect, true, int(i)});
            }
        }
    }
    const MetaLine line = metaLine(row);
    controls.insert(controls.end(), line.controls.begin(), line.controls.end());
    return controls;
}

std::optional<TranscriptView::PlacedControl> TranscriptView::findControl(int row, Control kind,
                                                                         int index) {
    for (const PlacedControl& control : controlsOf(row))
        if (control.kind == kind && control.index == index) return control;
    return std::nullopt;
}

QRect TranscriptView::controlRect(int row, Control kind, int index) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row)) return {};
    const std::optional<PlacedControl> control = findControl(row, kind, index);
    return control ? control->rect.translated(r.topLeft()) : QRect();
}

QRect TranscriptView::copyButtonRect(int row) {
    return controlRect(row, Control::copy);
}

std::vector<QRect> TranscriptView::codeCopyButtonRects(int row) {
    std::vector<QRect> rects;
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row)) return rects;
    for (const PlacedControl& control : controlsOf(row))
        if (control.kind == Control::copyCode)
            rects.push_back(control.rect.translated(r.topLeft()));
    return rects;
}

QRect TranscriptView::regenerateButtonRect(int row) {
    return controlRect(row, Control::regenerate);
}

QRect TranscriptView::editButtonRect(int row) {
    return controlRect(row, Control::edit);
}

QRect TranscriptView::contextSettingsLinkRect(int row) {
    return controlRect(row, Control::contextSettings);
}

QRect TranscriptView::variantArrowRect(int row, bool next) {
    return controlRect(row, next ? Control::nextVersion : Control::previousVersion);
}

bool TranscriptView::isVariantArrowEnabled(int row, bool next) {
    const std::optional<PlacedControl> control =
        findControl(row, next ? Control::nextVersion : Control::previousVersion);
    return control && control->enabled;
}

QRect TranscriptView::thinkingToggleRect(int row) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row) || geometry(row).thinkingTitle.isNull()) return {};
    return geometry(row).thinkingTitle.translated(r.topLeft());
}

QString TranscriptView::thinkingTitle(int row) {
    if (row < 0 || row >= messageRowCount()) return {};
    return geometry(row).thinkingTitleText;
}

QRect TranscriptView::thinkingTextRect(int row) {
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row) || geometry(row).thinkingText.isNull()) return {};
    return geometry(row).thinkingText.translated(r.topLeft());
}

QString TranscriptView::laidOutThinking(int row) {
    if (row < 0 || row >= messageRowCount()) return {};
    const RowGeometry& g = geometry(row);
    if (g.thinking != Thinking::live && g.thinking != Thinking::expanded) return {};
    thinkingLayoutFor(row, g.thinking);
    return entryFor(row).reasoning.laidOut;
}

QString TranscriptView::metaText(int row) {
    if (row < 0 || row >= messageRowCount()) return {};
    const ChatMessage& message = messages_.at(row);
    const MetaLine line = metaLine(row);
    const QString text = metaStatusText(message, QDateTime::currentDateTime());
    QStringList all;
    if (line.textToTheLeft) {
        all << text << line.versionText;
    } else {
        all << line.versionText << text;
    }
    const bool link =
        std::any_of(line.controls.begin(), line.controls.end(),
                    [](const PlacedControl& c) { return c.kind == Control::contextSettings; });
    if (link) all << QStringLiteral("· ") + contextFullText();
    all.removeAll(QString());
    return all.join(QLatin1Char(' '));
}

// ---- what they do ------------------------------------------------------------------------

void TranscriptView::activate(int row, Control kind, int index) {
    if (row < 0 || row >= messageRowCount()) return;
    const ChatMessage& message = messages_.at(row);
    const QUuid id = message.id();
    switch (kind) {
        case Control::copy:
            copyMessage(row);
            break;
        case Control::regenerate:
            if (offersRegenerate(row) && !replyInProgress_) {
                following_ = true;  // the new reply comes at the end
                emit regenerateRequested(id);
            }
            break;
        case Control::edit:
            if (offersEdit(row) && !replyInProgress_) beginEditing(id);
            break;
        case Control::previousVersion:
        case Control::nextVersion: {
            const bool next = kind == Control::nextVersion;
            if (isVariantArrowEnabled(row, next))
                emit variantRequested(id, message.variantIndex() + (next ? 1 : -1));
            break;
        }
        case Control::thinkingToggle:
            setThinkingExpanded(id, !isThinkingExpanded(id));
            break;
        case Control::showAll:
            showWholeMessage(row);
            break;
        case Control::copyCode:
            copyCode(row, index);
            break;
        case Control::contextSettings:
            emit contextSettingsRequested();
            break;
        case Control::picture:
            if (index >= 0 && index < message.images().size())
                emit pictureRequested(message.images()[index]);
            break;
    }
}

void TranscriptView::pictureLoaded() {
    viewport()->update();
}

std::vector<QRect> TranscriptView::pictureRects(int row) {
    std::vector<QRect> rects;
    const QRect r = rowRect(row);
    if (r.isNull() || isStatusRow(row)) return rects;
    for (const QRect& picture : geometry(row).pictures)
        rects.push_back(picture.translated(r.topLeft()));
    return rects;
}

void TranscriptView::copyCode(int row, int index) {
    MarkdownLayout* layout = layoutFor(row);
    if (!layout || index < 0 || index >= int(layout->codeButtons().size())) return;
    const QString code = layout->codeOf(index);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(code);
    emit copied(code);
}

void TranscriptView::copyMessage(int row) {
    // The raw text, think block and Markdown included.
    const QString content = messages_.at(row).content();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(content);
    emit copied(content);
}

void TranscriptView::setThinkingExpanded(const QUuid& id, bool expanded) {
    if (expanded == expandedThinking_.contains(id)) return;
    if (expanded) {
        expandedThinking_.insert(id);
    } else {
        expandedThinking_.remove(id);
    }
    const std::optional<qsizetype> at = messages_.lastIndexOf(id);
    if (!at) return;
    // The row grows or shrinks under its title line; the anchor keeps what is above in place.
    rows_[size_t(*at)].exact = false;
    offsetsDirty_ = true;
    settle();
    userMoved();  // unfolded over the end, the reasoning is read rather than followed
    if (focusMark_ && focusMark_->id == id) revealFocusMark();
    viewport()->update();
}

void TranscriptView::setReplyInProgress(bool inProgress) {
    if (replyInProgress_ == inProgress) return;
    replyInProgress_ = inProgress;
    if (editor_) editor_->setSendEnabled(!inProgress);
    if (inProgress) {
        accessibleItems_->dropAnnouncement();
        watchingReply_ = true;
        lastBeforeReply_.reset();
        if (!messages_.isEmpty()) lastBeforeReply_ = messages_.last();
    } else if (std::exchange(watchingReply_, false)) {
        announceFinishedReply();
    }
    // Regenerate and Edit hide while a reply streams, and the arrows stop acting.
    if (focusMark_) dropHiddenFocusMark();
    viewport()->update();
}

void TranscriptView::announceFinishedReply() {
    if (messages_.isEmpty()) return;
    const ChatMessage& last = messages_.last();
    if (last.type() == ChatMessageType::user) return;  // nothing came
    if (lastBeforeReply_ && *lastBeforeReply_ == last) return;
    accessibleItems_->announce(last.id());
}

QString TranscriptView::toolTipFor(int row, Control kind) const {
    switch (kind) {
        case Control::copy:
            return tr("Copy message");
        case Control::regenerate:
            return tr("Regenerate (Ctrl+R)");
        case Control::edit:
            return tr("Edit");
        case Control::previousVersion:
            return tr("Previous version");
        case Control::nextVersion:
            return tr("Next version");
        case Control::thinkingToggle:
            return isThinkingExpanded(messages_.at(row).id()) ? tr("Hide the reasoning")
                                                              : tr("Show the reasoning");
        case Control::showAll:
            break;
        case Control::copyCode:
            return tr("Copy the code");
        case Control::picture:
            return tr("Open the picture");
        case Control::contextSettings:
            return figuresToolTip(row) + QLatin1Char('\n') +
                   tr("Click to change the context length in the conversation settings.");
    }
    return {};
}

// ---- painting ----------------------------------------------------------------------------

void TranscriptView::paintMeta(QPainter& painter, int row, const RowGeometry&,
                               const QDateTime& now) {
    const ChatMessage& message = messages_.at(row);
    const MetaLine line = metaLine(row);
    for (const PlacedControl& control : controlsOf(row)) paintControl(painter, row, control);
    painter.setFont(captionFont_);
    painter.setPen(secondaryTextColor(palette()));
    if (!line.versionLabel.isNull())
        painter.drawText(line.versionLabel, Qt::AlignCenter, line.versionText);
    // The time is measured now: a row laid out yesterday shows its date today.
    QString text = metaStatusText(message, now);
    const bool link =
        std::any_of(line.controls.begin(), line.controls.end(),
                    [](const PlacedControl& c) { return c.kind == Control::contextSettings; });
    if (link && !text.isEmpty()) text += kMetaSeparator;  // the link follows
    if (text.isEmpty()) return;
    painter.drawText(metaTextRect(row, text), Qt::AlignVCenter | Qt::AlignLeft, text);
}

QString TranscriptView::metaStatusText(const ChatMessage& message, const QDateTime& now) const {
    // An error shows no time.
    QStringList parts;
    if (message.type() != ChatMessageType::error) parts << timestampText(message.timestamp(), now);
    if (message.stopped()) parts << tr("Stopped");
    if (message.type() == ChatMessageType::assistant && message.stats()) {
        const ReplyStats& stats = *message.stats();
        if (const std::optional<double> rate = stats.tokensPerSecond())
            parts << tr("%1 tok/s")
                         .arg(*rate >= 10 ? QString::number(qRound(*rate))
                                          : QString::number(*rate, 'f', 1));
        // "Context full" follows as a link (Control::contextSettings).
    }
    return parts.join(kMetaSeparator);
}

QRect TranscriptView::metaTextRect(int row, const QString& text) {
    const MetaLine line = metaLine(row);
    const int width = QFontMetrics(captionFont_).horizontalAdvance(text) + 2;
    return QRect(line.textToTheLeft ? line.textEdge - width : line.textEdge, geometry(row).metaTop,
                 width, metaHeight_);
}

namespace {

// A time measured by the server: in seconds, or under a tenth of one (a short prompt read
// by a loaded model) in milliseconds, where "0.0 s" would say nothing.
QString duration(qint64 nanoseconds) {
    if (nanoseconds < 100'000'000)
        return TranscriptView::tr("%1 ms").arg(
            qMax<qint64>(1, (nanoseconds + 500'000) / 1'000'000));
    const double s = double(nanoseconds) / 1e9;
    return TranscriptView::tr("%1 s").arg(QString::number(s, 'f', s < 100 ? 1 : 0));
}

}  // namespace

QString TranscriptView::figuresToolTip(int row) const {
    if (row < 0 || row >= messageRowCount()) return {};
    const ChatMessage& message = messages_.at(row);
    if (message.type() != ChatMessageType::assistant || !message.stats()) return {};
    const ReplyStats& stats = *message.stats();
    const QLocale locale;
    QStringList lines;
    if (stats.evalCount > 0) {
        QString line = stats.evalCount == 1 ? tr("1 token written")
                                            : tr("%1 tokens written").arg(stats.evalCount);
        if (stats.evalDuration > 0) {
            line += tr(" in %1").arg(duration(stats.evalDuration));
            if (const auto rate = stats.tokensPerSecond())
                line += tr(" (%1 tokens per second)").arg(locale.toString(*rate, 'f', 1));
        }
        lines << line;
    }
    if (stats.promptEvalCount > 0) {
        QString line = stats.promptEvalCount == 1
                           ? tr("1 prompt token read")
                           : tr("%1 prompt tokens read").arg(stats.promptEvalCount);
        if (stats.promptEvalDuration > 0)
            line += tr(" in %1").arg(duration(stats.promptEvalDuration));
        lines << line;
    }
    if (stats.loadDuration >= 50'000'000)  // a model already loaded takes a few milliseconds
        lines << tr("Loading the model: %1").arg(duration(stats.loadDuration));
    if (stats.totalDuration > 0) lines << tr("In all: %1").arg(duration(stats.totalDuration));
    if (stats.contextCut) {
        const QString size = stats.contextLength > 0
                                 ? tr(" of %1 tokens").arg(locale.toString(stats.contextLength))
                                 : QString();
        lines << tr("The conversation filled the model's context%1: the server left its oldest "
                    "messages out of what the model read for this reply.")
                     .arg(size);
    }
    return lines.join(QLatin1Char('\n'));
}

QString TranscriptView::figuresToolTipAt(const QPoint& pos) {
    QPoint at;
    const int row = messageRowAt(pos, &at);
    if (row < 0) return {};
    const QString text = metaStatusText(messages_.at(row), QDateTime::currentDateTime());
    if (text.isEmpty() || !metaTextRect(row, text).contains(at)) return {};
    return figuresToolTip(row);
}

QRect TranscriptView::figuresTextRect(int row) {
    if (figuresToolTip(row).isEmpty()) return {};
    const QString text = metaStatusText(messages_.at(row), QDateTime::currentDateTime());
    return metaTextRect(row, text).translated(rowRect(row).topLeft());
}

void TranscriptView::paintControl(QPainter& painter, int row, const PlacedControl& control) {
    const QPalette& pal = palette();
    const ControlRef ref{messages_.at(row).id(), control.kind, control.index};
    const bool down = control.enabled && pressed_ == ref;
    const bool hot = control.enabled && (down || hovered_ == ref);
    const QRectF around = QRectF(control.rect).adjusted(-3, -3, 3, 3);
    const QColor window = pal.color(QPalette::Window);
    const QColor text = pal.color(QPalette::WindowText);
    if (isIconButton(control.kind) && hot) {
        QPainterPath back;
        back.addRoundedRect(around, 4, 4);
        painter.fillPath(back, mixColors(window, text, down ? 0.2 : 0.1));
    }
    const QIcon::Mode mode = down ? QIcon::Active : QIcon::Normal;
    switch (control.kind) {
        case Control::copy:
            copyIcon().paint(&painter, control.rect, Qt::AlignCenter, mode);
            break;
        case Control::regenerate:
            regenerateIcon().paint(&painter, control.rect, Qt::AlignCenter, mode);
            break;
        case Control::edit:
            editIcon().paint(&painter, control.rect, Qt::AlignCenter, mode);
            break;
        case Control::previousVersion:
        case Control::nextVersion: {
            // A chevron, greyed where it cannot act.
            const QPointF c = QRectF(control.rect).center();
            const qreal r = iconSize * 0.2;
            const qreal dir = control.kind == Control::nextVersion ? 1 : -1;
            QPainterPath chevron;
            chevron.moveTo(c + QPointF(-dir * r / 2, -r));
            chevron.lineTo(c + QPointF(dir * r / 2, 0));
            chevron.lineTo(c + QPointF(-dir * r / 2, r));
            const QColor color = !control.enabled ? mixColors(window, text, 0.25)
                                 : hot            ? text
                                                  : secondaryTextColor(pal);
            painter.setPen(QPen(color, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPath(chevron);
            break;
        }
        case Control::showAll: {
            QFont link = captionFont_;
            link.setUnderline(true);
            painter.setFont(link);
            painter.setPen(pal.color(QPalette::Link));
            painter.drawText(control.rect, Qt::AlignLeft | Qt::AlignVCenter, tr("Show all"));
            break;
        }
        case Control::contextSettings: {
            // The separator before it in the text's colour, the link underlined when hot.
            QFont link = captionFont_;
            link.setUnderline(hot);
            painter.setFont(link);
            painter.setPen(pal.color(QPalette::Link));
            painter.drawText(control.rect, Qt::AlignLeft | Qt::AlignVCenter, contextFullText());
            break;
        }
        case Control::picture:
            paintPicture(painter, row, control, hot);
            break;
        case Control::thinkingToggle:
        case Control::copyCode:
            break;  // painted with the thinking section, with the code block's header
    }
    if (hasFocus() && focusMark_ == ref) {
        painter.setPen(QPen(pal.color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(
            isIconButton(control.kind) ? around : QRectF(control.rect).adjusted(-2, -1, 2, 1), 4,
            4);
    }
}

void TranscriptView::paintPicture(QPainter& painter, int row, const PlacedControl& control,
                                  bool hot) {
    const QPalette& pal = palette();
    const QStringList& pictures = messages_.at(row).images();
    if (control.index < 0 || control.index >= pictures.size()) return;
    const QPixmap pixmap = pictureSource_ ? pictureSource_(pictures[control.index]) : QPixmap();
    const QRectF frame = QRectF(control.rect).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(frame, 6, 6);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillPath(outline, pal.color(QPalette::Base));
    if (!pixmap.isNull()) {
        // Fills the square, cut to it, as the strip of the input row shows it.
        painter.setClipPath(outline);
        const QSizeF size = pixmap.deviceIndependentSize();
        QRectF target(QPointF(), size.scaled(frame.size(), Qt::KeepAspectRatioByExpanding));
        target.moveCenter(frame.center());
        painter.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
        painter.setClipping(false);
    }
    painter.setPen(QPen(hot ? pal.color(QPalette::Highlight) : secondaryTextColor(pal), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
    painter.restore();
}

// ---- the keyboard ------------------------------------------------------------------------

std::pair<int, int> TranscriptView::visibleMessageRows() {
    settle();
    if (messageRowCount() == 0) return {0, -1};
    const int first = rowAt(top_);
    const int last = qMin(rowAt(top_ + viewport()->height() - 1), messageRowCount() - 1);
    return {qMin(first, messageRowCount() - 1), last};
}

bool TranscriptView::moveFocusMark(bool next, bool fromCurrent) {
    // The controls at least partly in view, in reading order.
    std::vector<ControlRef> visible;
    const auto [first, last] = visibleMessageRows();
    const QRect area = viewport()->rect();
    // From the current message: the first control of it or of a message after it.
    const int startRow = fromCurrent && !focusMark_ ? focusRow() : -1;
    qsizetype start = -1;
    for (int row = first; row <= last; ++row) {
        const QPoint origin = rowRect(row).topLeft();
        if (row >= startRow && start < 0) start = qsizetype(visible.size());
        for (const PlacedControl& control : controlsOf(row))
            if (control.enabled && area.intersects(control.rect.translated(origin)))
                visible.push_back({messages_.at(row).id(), control.kind, control.index});
    }
    if (visible.empty()) return false;
    const auto at =
        focusMark_ ? std::find(visible.begin(), visible.end(), *focusMark_) : visible.end();
    qsizetype to;
    if (startRow >= 0) {
        to = next && start >= 0 ? start : -1;
    } else if (at == visible.end()) {
        to = next ? 0 : qsizetype(visible.size()) - 1;
    } else {
        to = (at - visible.begin()) + (next ? 1 : -1);
    }
    if (to < 0 || to >= qsizetype(visible.size())) return false;
    setFocusMark(visible[size_t(to)]);
    revealFocusMark();
    return true;
}

void TranscriptView::setFocusMark(std::optional<ControlRef> control) {
    if (focusMark_ == control) return;
    focusMark_ = control;
    if (control) setCurrent(control->id);  // the marked control's message is the current one
    viewport()->update();
}

void TranscriptView::dropHiddenFocusMark() {
    if (!focusMark_) return;
    const int row = focusMarkRow();
    const std::optional<PlacedControl> control =
        row >= 0 ? findControl(row, focusMark_->kind, focusMark_->index) : std::nullopt;
    if (control && control->enabled) return;
    focusMark_.reset();
    viewport()->update();
}

int TranscriptView::focusMarkRow() const {
    if (!focusMark_) return -1;
    const std::optional<qsizetype> at = messages_.lastIndexOf(focusMark_->id);
    return at ? int(*at) : -1;
}

std::optional<TranscriptView::Control> TranscriptView::focusedControl() const {
    if (!focusMark_ || focusMarkRow() < 0) return std::nullopt;
    return focusMark_->kind;
}

int TranscriptView::focusedControlRow() const {
    return focusedControl() ? focusMarkRow() : -1;
}

QRect TranscriptView::focusedControlRect() {
    const int row = focusedControlRow();
    return row < 0 ? QRect() : controlRect(row, focusMark_->kind, focusMark_->index);
}

void TranscriptView::revealFocusMark() {
    const QRect rect = focusedControlRect().adjusted(-4, -4, 4, 4);
    if (rect.isNull()) return;
    const int visible = viewport()->height();
    if (rect.top() < 0) {
        setScrollPosition(top_ + rect.top());
    } else if (rect.bottom() >= visible) {
        setScrollPosition(top_ + rect.bottom() + 1 - visible);
    }
    viewport()->update();
}

void TranscriptView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    // Tabbing in marks the first control in view; tabbing back in, the last.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason) {
        focusMark_.reset();
        moveFocusMark(event->reason() == Qt::TabFocusReason);
    }
    viewport()->update();
    // Qt tells assistive technology that the view took the focus once this returns; the
    // message that has it is told after that.
    QTimer::singleShot(0, this, &TranscriptView::notifyAccessibleFocus);
}

void TranscriptView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();  // the mark shows only while the view has the focus
}

bool TranscriptView::focusNextPrevChild(bool next) {
    // Tab in the view moves the mark; past the first or last control in view it leaves.
    // (Tab in the editor, a child, comes here too and goes on as usual.)
    // From the current message (no control marked), Tab goes on to its controls and
    // Shift+Tab leaves.
    if (hasFocus()) {
        if ((focusMark_ || next) && moveFocusMark(next, true)) return true;
        setFocusMark(std::nullopt);
    }
    return QAbstractScrollArea::focusNextPrevChild(next);
}

void TranscriptView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::NoModifier &&
        (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        focusedControlRow() >= 0) {
        const int row = focusedControlRow();
        if (const auto control = findControl(row, focusMark_->kind, focusMark_->index);
            control && control->enabled)
            activate(row, control->kind, control->index);
        event->accept();
        return;
    }
    if (key == Qt::Key_Menu || (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        // The context menu of the marked control's message, else of the last one in view.
        int row = focusedControlRow();
        QRect at = focusedControlRect();
        if (row < 0) {
            row = visibleMessageRows().second;
            at = bubbleRect(row);
        }
        if (row >= 0) {
            const QPoint point = at.isNull() ? viewport()->rect().center() : at.center();
            showContextMenu(row, viewport()->mapToGlobal(point));
        }
        event->accept();
        return;
    }
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && modifiers == Qt::NoModifier) {
        moveCurrent(key == Qt::Key_Down ? 1 : -1);
        event->accept();
        return;
    }
    if ((key == Qt::Key_End || key == Qt::Key_Home) &&
        (modifiers == Qt::NoModifier || modifiers == Qt::ControlModifier)) {
        // End goes to the end and follows it again; Home goes to the first message. Either
        // message becomes the current one.
        if (messageRowCount() > 0) {
            setFocusMark(std::nullopt);
            setCurrent(messages_.at(key == Qt::Key_End ? messageRowCount() - 1 : 0).id());
        }
        if (key == Qt::Key_End) {
            jumpToEnd();
        } else {
            setScrollPosition(0);
        }
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

// ---- the current message -----------------------------------------------------------------

int TranscriptView::currentRow() const {
    if (current_.isNull()) return -1;
    if (currentHint_ >= 0 && currentHint_ < messageRowCount() &&
        messages_.at(currentHint_).id() == current_)
        return currentHint_;
    const std::optional<qsizetype> at = messages_.lastIndexOf(current_);
    currentHint_ = at ? int(*at) : -1;
    return currentHint_;
}

int TranscriptView::focusRow() {
    if (const int row = currentRow(); row >= 0) return row;
    const auto [first, last] = visibleMessageRows();
    for (int row = first; row <= last; ++row)
        if (rowTop(row) >= top_) return row;
    return first <= last ? first : -1;
}

int TranscriptView::messageFocusRow() {
    if (!hasFocus() || focusedControlRow() >= 0) return -1;
    const int row = focusRow();
    if (row >= 0 && editor_ && messages_.at(row).id() == editingId_) return -1;
    return row;
}

QRect TranscriptView::messageFocusRect() {
    const int row = messageFocusRow();
    return row < 0 ? QRect() : bubbleRect(row).adjusted(-3, -3, 3, 3);
}

int TranscriptView::accessibleCurrentRow() {
    return hasFocus() ? focusRow() : currentRow();
}

void TranscriptView::setCurrent(const QUuid& id) {
    if (current_ == id) return;
    current_ = id;
    viewport()->update();
    notifyAccessibleFocus();
}

void TranscriptView::setCurrentRow(int row) {
    if (row < 0 || row >= messageRowCount()) return;
    setFocusMark(std::nullopt);
    setCurrent(messages_.at(row).id());
    revealRow(row);
}

void TranscriptView::moveCurrent(int step) {
    const int from = focusedControlRow() >= 0 ? focusedControlRow() : focusRow();
    if (from < 0) return;
    setCurrentRow(qBound(0, from + step, messageRowCount() - 1));
}

void TranscriptView::revealRow(int row) {
    const int visible = viewport()->height();
    // Rows measured on the way may move it: look again until it stays.
    for (int round = 0; round < 4; ++round) {
        geometry(row);  // its real height
        const QRect r = rowRect(row);
        qreal to = top_;
        if (r.height() + 2 * padding > visible) {
            // Taller than the view: its top at the top.
            if (r.top() < 0 || r.top() > padding) to = top_ + r.top() - padding;
        } else if (r.top() < 0) {
            to = top_ + r.top() - padding;
        } else if (r.bottom() >= visible) {
            to = top_ + r.bottom() + 1 - visible + padding;
        }
        const qreal before = top_;
        if (std::abs(to - before) < 1) break;
        setScrollPosition(to);
        if (std::abs(top_ - before) < 1) break;  // as far as it goes
    }
    viewport()->update();
}

int TranscriptView::messageRowAt(const QPoint& pos) {
    settle();
    const qreal y = top_ + pos.y();
    const int row = rowAt(y);
    if (row < 0 || row >= messageRowCount() || y < rowTop(row) ||
        y >= rowTop(row) + rows_[size_t(row)].height)
        return -1;
    return row;
}

QRect TranscriptView::rowRectAsKnown(int row) {
    if (row < 0 || row >= rowCount()) return {};
    const int top = int(std::lround(rowTop(row) - top_));  // estimates once the offsets are made
    return QRect(padding, top, contentWidth(), rows_[size_t(row)].height);
}

void TranscriptView::notifyAccessibleFocus() {
    if (!QAccessible::isActive() || !hasFocus()) return;
    const int row = focusRow();
    if (row < 0) return;
    QAccessibleEvent focus(accessibleItems_->item(messages_.at(row).id()), QAccessible::Focus);
    QAccessible::updateAccessibility(&focus);
}

// ---- the context menu --------------------------------------------------------------------

void TranscriptView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() != QContextMenuEvent::Mouse) {
        // The Menu key as the platform reports it: as keyPressEvent() does.
        QKeyEvent menuKey(QEvent::KeyPress, Qt::Key_Menu, Qt::NoModifier);
        keyPressEvent(&menuKey);
        return;
    }
    // The event's position is the viewport's.
    const int row = messageRowAt(event->pos());
    if (row < 0) {
        event->ignore();
        return;
    }
    showContextMenu(row, event->globalPos());
}

QMenu* TranscriptView::makeContextMenu(int row) {
    if (row < 0 || row >= messageRowCount()) return nullptr;
    const ChatMessage& message = messages_.at(row);
    const QUuid id = message.id();
    auto* menu = new QMenu(this);
    // The actions name the message, not the row: rows move while the menu is open.
    auto rowOf = [this, id]() -> int {
        const std::optional<qsizetype> at = messages_.lastIndexOf(id);
        return at ? int(*at) : -1;
    };
    // Shortcuts are shown, and handled by the view's keys.
    auto withKey = [](QAction* action, QKeySequence::StandardKey key) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setShortcutVisibleInContextMenu(true);
    };
    if (hasSelection())
        withKey(menu->addAction(tr("Copy"), this, [this] { copySelection(); }), QKeySequence::Copy);
    menu->addAction(tr("Copy Message"), this, [this, rowOf] {
        if (const int at = rowOf(); at >= 0) copyMessage(at);
    });
    if (offersRegenerate(row)) {
        QAction* regenerate = menu->addAction(tr("Regenerate"), this, [this, rowOf] {
            if (const int at = rowOf(); at >= 0) activate(at, Control::regenerate);
        });
        regenerate->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
        regenerate->setShortcutContext(Qt::WidgetShortcut);  // shown, handled by the window
        regenerate->setShortcutVisibleInContextMenu(true);
        regenerate->setEnabled(!replyInProgress_);
    }
    if (offersEdit(row)) {
        QAction* edit = menu->addAction(tr("Edit"), this, [this, rowOf] {
            if (const int at = rowOf(); at >= 0) activate(at, Control::edit);
        });
        edit->setEnabled(!replyInProgress_);
    }
    const Thinking thinking = geometry(row).thinking;
    if (thinking == Thinking::collapsed || thinking == Thinking::expanded) {
        menu->addSeparator();
        menu->addAction(
            thinking == Thinking::expanded ? tr("Hide Reasoning") : tr("Show Reasoning"), this,
            [this, id] { setThinkingExpanded(id, !isThinkingExpanded(id)); });
    }
    menu->addSeparator();
    withKey(menu->addAction(tr("Select All"), this, [this] { selectAll(); }),
            QKeySequence::SelectAll);
    return menu;
}

void TranscriptView::showContextMenu(int row, const QPoint& globalPos) {
    // One at a time: a platform may report the Menu key both as a key and as a request
    // for a context menu.
    if (contextMenu_ && contextMenu_->isVisible()) return;
    QMenu* menu = makeContextMenu(row);
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    contextMenu_ = menu;
    menu->popup(globalPos);
}

}  // namespace parlote
