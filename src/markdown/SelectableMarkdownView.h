#pragma once

// Rendered Markdown whose text can be selected and copied: the legal document of the
// About window. The whole text is one document in a read-only text browser, so mouse
// and keyboard selection and copying work as in any text field. Links open on click
// (http, https and mailto only). Meant for short, fixed texts: each setMarkdown()
// writes the whole document again.

#include <QTextBrowser>
#include <memory>

#include "MarkdownLinks.h"
#include "MarkdownNodes.h"
#include "MarkdownStyle.h"

namespace parlote {

class ImageStore;
class MarkdownTextDocument;

class SelectableMarkdownView : public QTextBrowser {
    Q_OBJECT
public:
    /// Images come from `images` (ImageStore::shared() when null).
    explicit SelectableMarkdownView(QWidget* parent = nullptr, ImageStore* images = nullptr);
    ~SelectableMarkdownView() override;

    void setMarkdown(const QString& text);
    QString markdown() const { return text_; }

    /// Space around the text, inside the scrolling area.
    void setPadding(qreal padding);

    /// Where clicked links go; desktopLinkOpener() unless set.
    void setLinkOpener(LinkOpener opener) { opener_ = std::move(opener); }

protected:
    /// Loads nothing: the browser never opens files or addresses named in the text.
    QVariant loadResource(int type, const QUrl& name) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();

    ImageStore* images_;
    std::unique_ptr<MarkdownTextDocument> document_;
    QString text_;
    Blocks blocks_;
    QStringList imageSources_;
    MarkdownStyle style_;
    qreal builtWidth_ = -1;
    qreal padding_ = 0;
    LinkOpener opener_ = desktopLinkOpener();
};

}  // namespace parlote
