#pragma once

// What the main window remembers between runs, in the application model's settings: its
// size and place (restored only where it fits a screen as the screens are now, else the
// default size centred on the primary screen), the sidebar's width, and the conversation
// that was open (opened again when it is still in the list). Written a moment after each
// change and at once when the window closes or the application quits.
//
// Interface thread only.

#include <QList>
#include <QObject>
#include <QRect>
#include <QTimer>

class QMainWindow;

namespace parlote {

class MainView;

class WindowMemory : public QObject {
    Q_OBJECT
public:
    static const QString geometryKey;        // QWidget::saveGeometry()
    static const QString normalGeometryKey;  // the window's rectangle when not maximized
    static const QString sidebarWidthKey;
    static const QString openConversationKey;  // the UUID's text; absent: a new conversation

    /// Restores what `view`'s settings hold into `window` and `view`, then follows them.
    /// `defaultSize` is the size used when nothing fits.
    WindowMemory(QMainWindow* window, MainView* view, QSize defaultSize);

    /// Writes everything now (only the values that changed).
    void save();

    /// Whether `rect` lies wholly within one of the `screens`.
    static bool fits(const QRect& rect, const QList<QRect>& screens);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restore(QSize defaultSize);

    QMainWindow* window_;
    MainView* view_;
    QTimer timer_;
};

}  // namespace parlote
