#pragma once

// The application's one main window ("Parlote", 1000 by 700, at least 640 by 600) with
// the chat view as its content and the File, Edit, View, Conversation and Help menus:
// the text commands of the focused widget, Find in the conversation (FindBar.h),
// Preferences (the defaults of new conversations), the sidebar's "Show Sidebar", the
// conversation commands (ConversationCommands.h), the help page, the one "Keyboard
// Shortcuts" window (ShortcutsWindow.h) and the About command, which shows the one About
// window each time. A page that no browser could open is explained in a message box
// (browserLinkOpener, Overlays.h). Its size and place, the sidebar's width and the open
// conversation are kept between runs (WindowMemory.h). Closing the main window quits. The
// start-up steps around it are in Shell.h.

#include <QKeySequence>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

#include "MarkdownLinks.h"
#include "ZoruveVede.h"

class QAction;
class QMenu;

namespace parlote {

class AboutWindow;
class ConversationCommands;
class ExchangeCommands;
class MainView;
class ShortcutsWindow;
class WindowMemory;

/// The main window: the chat view and the menus.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int defaultWidth = 1000;
    static constexpr int defaultHeight = 700;

    /// `about` gives the About window when the About command needs it (it may build it
    /// then); the window does not own it.
    MainWindow(ZoruveVedeServices services, std::function<AboutWindow*()> about,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    MainView* mainView() const { return view_; }
    ConversationCommands* commands() const { return commands_; }
    /// The size, place, sidebar width and open conversation kept between runs.
    WindowMemory* memory() const { return memory_; }
    /// Export and import of conversations (the File menu's first commands).
    ExchangeCommands* exchangeCommands() const { return exchange_; }
    QAction* helpAction() const { return help_; }
    QAction* shortcutsAction() const { return shortcuts_; }
    QAction* aboutAction() const { return about_; }
    QAction* quitAction() const { return quit_; }
    /// Edit → Preferences… (Ctrl+,): the defaults of new conversations.
    QAction* preferencesAction() const { return preferences_; }
    /// Every action of the menu bar, menu by menu.
    QList<QAction*> menuActions() const;

    /// Shows the "Keyboard Shortcuts" window, made on first use and raised when it is
    /// already open.
    void showShortcuts();
    /// The window once it was made, else null.
    ShortcutsWindow* shortcutsWindow() const;

    /// How the help page is opened: in a browser, or a message box saying none could be
    /// opened, unless replaced (tests do).
    void setUrlOpener(LinkOpener opener);

    /// Asked when the window closes while some conversations could not be saved, with
    /// their titles; true quits anyway. By default a warning box asks the user.
    using QuitConfirmation = std::function<bool(const QStringList& unsaved)>;
    void setQuitConfirmation(QuitConfirmation confirm) { confirmQuit_ = std::move(confirm); }

signals:
    /// The window was painted for the first time.
    void firstPainted();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void addEditAction(QMenu* menu, const QString& icon, const QString& text,
                       QKeySequence::StandardKey key);

    MainView* view_;
    ConversationCommands* commands_ = nullptr;
    WindowMemory* memory_ = nullptr;
    ExchangeCommands* exchange_ = nullptr;
    std::function<AboutWindow*()> aboutWindow_;
    QPointer<ShortcutsWindow> shortcutsWindow_;
    QAction* help_ = nullptr;
    QAction* shortcuts_ = nullptr;
    QAction* about_ = nullptr;
    QAction* quit_ = nullptr;
    QAction* preferences_ = nullptr;
    LinkOpener urlOpener_;
    QuitConfirmation confirmQuit_;
    bool painted_ = false;
};

}  // namespace parlote
