#pragma once

// Small widgets of the main window's content (MainView): the banner shown while Ollama
// does not answer, the header's sidebar button, the conversation's description in the
// header, the surround of the input box, and the window-modal dialog that hosts a sheet.

#include <QColor>
#include <QDialog>
#include <QLabel>
#include <QToolButton>
#include <QWidget>
#include <functional>

namespace parlote::views_detail {

/// Fills `widget` with `fill` at `fillOpacity` and outlines it inside its bounds with
/// `edge` at `edgeOpacity`: the look of the bars across the top of the window.
void paintTintedStrip(QWidget& widget, QColor fill, qreal fillOpacity, QColor edge,
                      qreal edgeOpacity);

// The warning strip over the whole window while Ollama does not answer: a yellow tint at
// opacity 0.2 with an orange outline at opacity 0.5 drawn inside its bounds.
class Banner : public QWidget {
public:
    explicit Banner(QWidget* parent);
    QLabel* text() const { return text_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QLabel* text_;
};

// The header's button that hides and shows the sidebar: an icon of a window with a
// sidebar (the theme's "sidebar-show", else one drawn in the palette's text colour), flat
// until hovered, with an outline while it has the keyboard focus.
class SidebarButton : public QToolButton {
public:
    explicit SidebarButton(QWidget* parent);

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();
};

// One line of text, cut with an ellipsis when it does not fit, aligned to the right.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text, bool secondary);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString full_;
    bool secondary_ = false;
};

// The input box's surround: 8 pixels of padding, the text background colour and a
// rounded outline in gray at opacity 0.5.
class InputFrame : public QWidget {
public:
    explicit InputFrame(QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;
};

// A window-modal dialog that hosts a sheet's content. The welcome sheet has one way out,
// its own button: Escape does nothing there, and closing the window counts as that button.
class SheetDialog : public QDialog {
public:
    SheetDialog(QWidget* parent, std::function<void()> onClose, bool escapeCloses);
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<void()> onClose_;
    bool escapeCloses_;
};

}  // namespace parlote::views_detail
