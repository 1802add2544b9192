#include "WindowMemory.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <algorithm>
#include <memory>
#include <optional>

#include "ConversationListView.h"
#include "MainView.h"

namespace parlote {

const QString WindowMemory::geometryKey = QStringLiteral("window/geometry");
const QString WindowMemory::normalGeometryKey = QStringLiteral("window/normalGeometry");
const QString WindowMemory::sidebarWidthKey = QStringLiteral("window/sidebarWidth");
const QString WindowMemory::openConversationKey = QStringLiteral("window/openConversation");

namespace {

// A moment after moving, resizing or choosing stops, not at every step of a drag.
constexpr auto kSaveDelay = std::chrono::milliseconds(1000);
// Room left around a window made to fit a screen, for its frame and title bar.
constexpr QSize kFrameRoom(16, 48);

QList<QRect> availableScreens() {
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    return screens;
}

// Every write replaces the settings file: a value is written only when it changed.
void put(QSettings& settings, const QString& key, const QVariant& value) {
    if (settings.value(key) != value) settings.setValue(key, value);
}

}  // namespace

WindowMemory::WindowMemory(QMainWindow* window, MainView* view, QSize defaultSize)
    : QObject(window), window_(window), view_(view) {
    restore(defaultSize);
    timer_.setSingleShot(true);
    timer_.setInterval(kSaveDelay);
    connect(&timer_, &QTimer::timeout, this, &WindowMemory::save);
    auto later = [this] { timer_.start(); };
    window_->installEventFilter(this);
    connect(view_->splitter(), &QSplitter::splitterMoved, this, later);
    connect(&view_->viewModel(), &ZoruveVede::selectedConversationChanged, this, later);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &WindowMemory::save);
}

bool WindowMemory::fits(const QRect& rect, const QList<QRect>& screens) {
    return rect.isValid() && std::any_of(screens.begin(), screens.end(), [&](const QRect& screen) {
               return screen.contains(rect);
           });
}

void WindowMemory::restore(QSize defaultSize) {
    const std::unique_ptr<QSettings> settings = view_->viewModel().settings();
    const QByteArray geometry = settings->value(geometryKey).toByteArray();
    const QRect normal = settings->value(normalGeometryKey).toRect();
    if (!geometry.isEmpty()) {
        if (!fits(normal, availableScreens()) || !window_->restoreGeometry(geometry)) {
            // The screen it was on is gone or smaller: the default size, centred.
            const QScreen* screen = QGuiApplication::primaryScreen();
            const QRect available = screen ? screen->availableGeometry() : QRect();
            QSize size = defaultSize;
            // The frame and title bar, unknown until the window is shown, need room too.
            if (available.isValid()) size = size.boundedTo(available.size() - kFrameRoom);
            window_->resize(size.expandedTo(window_->minimumSizeHint()));
            if (available.isValid()) {
                QRect placed(QPoint(), window_->size());
                placed.moveCenter(available.center());
                window_->move(placed.topLeft());
            }
        }
    }

    const int width = settings->value(sidebarWidthKey, -1).toInt();
    if (width > 0) {
        const int clamped =
            std::clamp(width, MainView::sidebarMinimumWidth, MainView::sidebarMaximumWidth);
        QSplitter* splitter = view_->splitter();
        const QList<int> sizes = splitter->sizes();
        const int total = sizes.size() == 2 ? sizes[0] + sizes[1] : 0;
        splitter->setSizes({clamped, std::max(total - clamped, 800)});
    }

    // The conversation that was open, if it is still there: opened as a click would.
    const std::optional<QUuid> open = uuidFromText(settings->value(openConversationKey).toString());
    if (!open) return;
    ZoruveVede& model = view_->viewModel();
    const SidebarID id = SidebarID::conversation(*open);
    const QList<Conversation>& list = model.conversations();
    if (std::none_of(list.begin(), list.end(), [&](const Conversation& c) { return c.id() == id; }))
        return;
    model.setSelectedConversation(id);
    model.selectConversation(id);
}

void WindowMemory::save() {
    timer_.stop();
    const std::unique_ptr<QSettings> settings = view_->viewModel().settings();
    // Before the window was first shown it has no place of its own yet.
    if (window_->testAttribute(Qt::WA_WState_Created) && !window_->isHidden()) {
        put(*settings, geometryKey, window_->saveGeometry());
        put(*settings, normalGeometryKey, window_->normalGeometry());
    }
    // A hidden sidebar keeps the width it had when it was last shown.
    if (!view_->sidebar()->isHidden() && view_->sidebar()->width() > 0)
        put(*settings, sidebarWidthKey, view_->sidebar()->width());
    const SidebarID& selected = view_->viewModel().selectedConversation();
    if (selected.isConversation())
        put(*settings, openConversationKey, selected.id());
    else if (settings->contains(openConversationKey))
        settings->remove(openConversationKey);
}

bool WindowMemory::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::WindowStateChange:
                timer_.start();
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace parlote
