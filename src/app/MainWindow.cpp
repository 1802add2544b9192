#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

#include "AboutWindow.h"
#include "AppInfo.h"
#include "ConversationCommands.h"
#include "ExchangeCommands.h"
#include "FindBar.h"
#include "MainView.h"
#include "Overlays.h"
#include "Shell.h"
#include "ShortcutsWindow.h"
#include "WindowMemory.h"

namespace parlote {

MainWindow::MainWindow(ZoruveVedeServices services, std::function<AboutWindow*()> about,
                       QWidget* parent)
    : QMainWindow(parent), aboutWindow_(std::move(about)) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Parlote"));
    setWindowIcon(AboutWindow::applicationIcon());
    view_ = new MainView(std::move(services), this);
    urlOpener_ = browserLinkOpener(this);
    setCentralWidget(view_);
    commands_ = new ConversationCommands(view_);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    exchange_ = new ExchangeCommands(view_, this);
    file->addAction(exchange_->exportAction());
    file->addAction(exchange_->exportAllAction());
    file->addAction(exchange_->importAction());
    file->addSeparator();
    quit_ = file->addAction(QIcon::fromTheme(QStringLiteral("application-exit")), tr("&Quit"));
    quit_->setShortcut(QKeySequence::Quit);
    quit_->setMenuRole(QAction::QuitRole);
    ShortcutsWindow::setGroup(quit_, ShortcutsWindow::Group::Application);
    connect(quit_, &QAction::triggered, this, [this] { close(); });

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    addEditAction(edit, QStringLiteral("edit-undo"), tr("&Undo"), QKeySequence::Undo);
    addEditAction(edit, QStringLiteral("edit-redo"), tr("&Redo"), QKeySequence::Redo);
    edit->addSeparator();
    addEditAction(edit, QStringLiteral("edit-cut"), tr("Cu&t"), QKeySequence::Cut);
    addEditAction(edit, QStringLiteral("edit-copy"), tr("&Copy"), QKeySequence::Copy);
    addEditAction(edit, QStringLiteral("edit-paste"), tr("&Paste"), QKeySequence::Paste);
    edit->addSeparator();
    addEditAction(edit, QStringLiteral("edit-select-all"), tr("Select &All"),
                  QKeySequence::SelectAll);
    edit->addSeparator();
    FindBar* find = view_->findBar();
    for (QAction* action :
         {find->findAction(), find->findNextAction(), find->findPreviousAction()}) {
        edit->addAction(action);
        ShortcutsWindow::setGroup(action, ShortcutsWindow::Group::Conversation);
    }
    edit->addSeparator();
    preferences_ = edit->addAction(QIcon::fromTheme(QStringLiteral("preferences-system")),
                                   tr("Pr&eferences…"));
    preferences_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    preferences_->setMenuRole(QAction::PreferencesRole);
    ShortcutsWindow::setGroup(preferences_, ShortcutsWindow::Group::Application);
    connect(preferences_, &QAction::triggered, view_, &MainView::openPreferences);

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->addAction(view_->sidebarAction());
    ShortcutsWindow::setGroup(view_->sidebarAction(), ShortcutsWindow::Group::Sidebar);

    QMenu* conversation = menuBar()->addMenu(tr("&Conversation"));
    for (QAction* action : commands_->menuLayout()) {
        if (action)
            conversation->addAction(action);
        else
            conversation->addSeparator();
    }

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help_ = help->addAction(QIcon::fromTheme(QStringLiteral("help-contents")), tr("Parlote &Help"));
    help_->setShortcut(QKeySequence::HelpContents);
    ShortcutsWindow::setGroup(help_, ShortcutsWindow::Group::Application);
    connect(help_, &QAction::triggered, this, [this] {
        if (urlOpener_) urlOpener_(shell::helpPageUrl());
    });
    shortcuts_ =
        help->addAction(QIcon::fromTheme(QStringLiteral("preferences-desktop-keyboard-shortcuts")),
                        tr("&Keyboard Shortcuts"));
    // Ctrl+? as written; Ctrl+Shift+/ for layouts where '?' is Shift and '/'.
    shortcuts_->setShortcuts(
        {QKeySequence(QStringLiteral("Ctrl+?")), QKeySequence(QStringLiteral("Ctrl+Shift+/"))});
    ShortcutsWindow::setGroup(shortcuts_, ShortcutsWindow::Group::Application);
    connect(shortcuts_, &QAction::triggered, this, &MainWindow::showShortcuts);
    help->addSeparator();
    about_ = help->addAction(QIcon::fromTheme(QStringLiteral("help-about")),
                             tr("&About %1").arg(appinfo::displayName()));
    about_->setMenuRole(QAction::AboutRole);
    connect(about_, &QAction::triggered, this, [this] {
        if (AboutWindow* window = aboutWindow_ ? aboutWindow_() : nullptr) window->showAbout();
    });

    resize(defaultWidth, defaultHeight);
    memory_ = new WindowMemory(this, view_, QSize(defaultWidth, defaultHeight));
}

MainWindow::~MainWindow() = default;

// An Edit command does what its key does in the widget that has the keyboard focus: the
// item hands that widget the key. The action is off while the key is delivered, so that
// the key reaches the widget rather than this action's shortcut again.
void MainWindow::addEditAction(QMenu* menu, const QString& icon, const QString& text,
                               QKeySequence::StandardKey key) {
    QAction* action = menu->addAction(QIcon::fromTheme(icon), text);
    action->setShortcuts(key);
    ShortcutsWindow::setGroup(action, ShortcutsWindow::Group::Input);
    connect(action, &QAction::triggered, this, [this, action, key] {
        QWidget* target = focusWidget();
        const QList<QKeySequence> keys = QKeySequence::keyBindings(key);
        if (!target || keys.isEmpty()) return;
        const QKeyCombination combination = keys.first()[0];
        action->setEnabled(false);
        QKeyEvent press(QEvent::KeyPress, combination.key(), combination.keyboardModifiers());
        QCoreApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, combination.key(), combination.keyboardModifiers());
        QCoreApplication::sendEvent(target, &release);
        action->setEnabled(true);
    });
}

QList<QAction*> MainWindow::menuActions() const {
    QList<QAction*> actions;
    for (QAction* menu : menuBar()->actions()) {
        if (!menu->menu()) continue;
        for (QAction* action : menu->menu()->actions())
            if (!action->isSeparator()) actions.append(action);
    }
    return actions;
}

ShortcutsWindow* MainWindow::shortcutsWindow() const {
    return shortcutsWindow_;
}

void MainWindow::showShortcuts() {
    if (!shortcutsWindow_) shortcutsWindow_ = new ShortcutsWindow(this);
    shortcutsWindow_->setActions(menuActions());
    shortcutsWindow_->show();
    shortcutsWindow_->raise();
    shortcutsWindow_->activateWindow();
}

void MainWindow::setUrlOpener(LinkOpener opener) {
    urlOpener_ = opener;
    view_->setUrlOpener(std::move(opener));
}

bool MainWindow::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::UpdateRequest && !painted_) {
        painted_ = true;
        emit firstPainted();
    }
    return handled;
}

namespace {

/// Tells the user which conversations are not on disk and asks whether to quit anyway.
bool askToQuitWithUnsaved(QWidget* parent, const QStringList& unsaved) {
    QMessageBox box(QMessageBox::Warning, QObject::tr("Not Everything Could Be Saved"),
                    QObject::tr("Some words could not be saved"), QMessageBox::NoButton, parent);
    QStringList lines;
    for (const QString& title : unsaved) lines.append(QStringLiteral("\u2022 ") + title);
    box.setInformativeText(
        QObject::tr("These are only in memory and are lost if Parlote quits now:\n%1\n\n"
                    "Free some space, then choose Cancel and Retry in the bar.")
            .arg(lines.join(QLatin1Char('\n'))));
    box.setTextFormat(Qt::PlainText);
    QPushButton* quit = box.addButton(QObject::tr("Quit Anyway"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == static_cast<QAbstractButton*>(quit);
}

}  // namespace

void MainWindow::closeEvent(QCloseEvent* event) {
    // Words that could not be saved are not thrown away without the user knowing.
    const QStringList unsaved = view_->viewModel().unsavedAfterLastTry();
    if (!unsaved.isEmpty()) {
        const bool quit =
            confirmQuit_ ? confirmQuit_(unsaved) : askToQuitWithUnsaved(this, unsaved);
        if (!quit) {
            event->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) memory_->save();
    // The main window is the application: the About window does not keep it running.
    if (event->isAccepted()) QCoreApplication::quit();
}

}  // namespace parlote
