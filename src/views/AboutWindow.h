#pragma once

// The About window: a non-modal tool window built once at start-up and kept hidden. It
// shows the application icon, the name, "Version X (B)" and the legal document (the
// "Legal" resource, or a fixed sentence when it cannot be read) in a small rounded box
// whose text can be selected and copied, and a Close button. Escape and Ctrl+W close it
// too. Closing it only hides it; showAbout() brings
// the same window back, in front and centred on its screen. It never keeps the
// application running once the main window has closed.

#include <QFrame>
#include <QIcon>
#include <QWidget>

class QLabel;
class QPushButton;

namespace parlote {

class SelectableMarkdownView;

/// The rounded box holding the legal text: the text background colour, corners of radius
/// 8 and a 1-pixel outline in the secondary colour at 30% opacity.
class LegalBox : public QFrame {
    Q_OBJECT
public:
    static constexpr int boxHeight = 120;
    static constexpr int minimumBoxWidth = 300;
    static constexpr qreal cornerRadius = 8;
    static constexpr qreal outlineOpacity = 0.3;

    explicit LegalBox(QWidget* parent = nullptr);

    SelectableMarkdownView* view() const { return view_; }
    /// The outline's colour under the current palette.
    QColor outlineColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class Corners;
    SelectableMarkdownView* view_;
    Corners* corners_;
};

class AboutWindow : public QWidget {
    Q_OBJECT
public:
    /// Shown in place of the legal document when it cannot be read.
    static const QString fallbackText;
    static constexpr int contentWidth = 350;
    static constexpr int padding = 32;
    static constexpr int spacing = 16;
    static constexpr int iconSize = 64;

    explicit AboutWindow(QWidget* parent = nullptr);
    ~AboutWindow() override;

    /// Shows the window, brings it to the front, activates it and centres it on its
    /// screen. The same window every time.
    void showAbout();

    /// Reads names, version and the legal document again and shows them.
    void reload();

    /// The theme's "parlote" icon, else the bundled one.
    static QIcon applicationIcon();
    /// The title font: the desktop font, larger.
    static QFont titleFont(const QFont& base);

    QLabel* iconLabel() const { return icon_; }
    QLabel* nameLabel() const { return name_; }
    QLabel* versionLabel() const { return version_; }
    LegalBox* legalBox() const { return legal_; }
    QPushButton* closeButton() const { return close_; }
    SelectableMarkdownView* legalView() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void centreOnScreen();

    QLabel* icon_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* version_ = nullptr;
    LegalBox* legal_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace parlote
