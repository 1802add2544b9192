#pragma once

// A widget showing rendered Markdown that cannot be selected: message bubbles and the
// welcome document. Links open on click (http, https and mailto only).
//
// setMarkdown() may be called after every chunk of a streamed reply: the first call
// after a quiet spell shows at once, and further calls within one frame (16 ms) are
// folded into a single update at the end of it.

#include <QTimer>
#include <QWidget>

#include "MarkdownLayout.h"
#include "MarkdownLinks.h"

namespace parlote {

class MarkdownView : public QWidget {
    Q_OBJECT
public:
    /// Images come from `images` (ImageStore::shared() when null).
    explicit MarkdownView(QWidget* parent = nullptr, ImageStore* images = nullptr);

    void setMarkdown(const QString& text);
    /// The text last given to setMarkdown().
    QString markdown() const { return text_; }
    /// Applies a text still waiting for the next frame.
    void flush();

    /// Where clicked links go; desktopLinkOpener() unless set.
    void setLinkOpener(LinkOpener opener) { opener_ = std::move(opener); }

    MarkdownLayout& markdownLayout() { return layout_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void apply();
    void frameEnded();
    void restyle();
    QString linkAt(const QPointF& widgetPoint) const;

    // Height-for-width questions are asked through const methods but lay the text out,
    // which the layout caches; mutable for that.
    mutable MarkdownLayout layout_;
    QString text_;
    bool pending_ = false;
    QTimer frame_;
    LinkOpener opener_ = desktopLinkOpener();
    QString pressedLink_;
    // The last height-for-width answer, valid while the layout's revision is unchanged.
    mutable quint64 cachedRevision_ = ~0ULL;
    mutable int cachedWidth_ = -1;
    mutable int cachedHeight_ = 0;
};

}  // namespace parlote
