#include "AboutWindow.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include "AppInfo.h"
#include "Divider.h"
#include "SelectableMarkdownView.h"
#include "ViewFonts.h"

namespace parlote {

namespace {

QPainterPath roundedBox(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, LegalBox::cornerRadius, LegalBox::cornerRadius);
    return path;
}

}  // namespace

// Drawn above the text view: fills what lies outside the rounded rectangle with the
// surrounding window colour and strokes the outline, so that neither the text nor the
// scroll bar shows past the corners.
class LegalBox::Corners : public QWidget {
public:
    explicit Corners(LegalBox* box) : QWidget(box), box_(box) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath outside;
        outside.addRect(rect());
        outside = outside.subtracted(roundedBox(outline));
        painter.fillPath(outside, box_->parentWidget()
                                      ? box_->parentWidget()->palette().color(QPalette::Window)
                                      : palette().color(QPalette::Window));
        painter.setPen(QPen(box_->outlineColor(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(roundedBox(outline));
    }

private:
    LegalBox* box_;
};

LegalBox::LegalBox(QWidget* parent) : QFrame(parent) {
    setFixedHeight(boxHeight);
    setMinimumWidth(minimumBoxWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    view_ = new SelectableMarkdownView(this);
    view_->setFont(views::captionFont(font()));
    view_->setPadding(8);
    // No caret on opening the window: the text takes focus when clicked.
    view_->setFocusPolicy(Qt::ClickFocus);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(view_);
    corners_ = new Corners(this);
    corners_->raise();
}

QColor LegalBox::outlineColor() const {
    QColor color = palette().color(QPalette::PlaceholderText);
    color.setAlphaF(outlineOpacity);
    return color;
}

void LegalBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedBox(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5)),
                     palette().color(QPalette::Base));
}

void LegalBox::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    corners_->setGeometry(rect());
    corners_->raise();
}

const QString AboutWindow::fallbackText = QStringLiteral("Problem loading legal text");

AboutWindow::AboutWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    // Closing hides the window, which stays for the next About command; it takes no part
    // in deciding whether the application quits.
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(padding, padding, padding, padding);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    auto* stack = new QWidget(this);
    stack->setFixedWidth(contentWidth);
    auto* column = new QVBoxLayout(stack);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);

    icon_ = new QLabel(stack);
    icon_->setFixedSize(iconSize, iconSize);
    icon_->setScaledContents(true);
    column->addWidget(icon_, 0, Qt::AlignHCenter);

    name_ = new QLabel(stack);
    name_->setFont(titleFont(font()));
    name_->setAlignment(Qt::AlignCenter);
    column->addWidget(name_);

    version_ = new QLabel(stack);
    version_->setFont(views::captionFont(font()));
    version_->setAlignment(Qt::AlignCenter);
    version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(version_);

    column->addWidget(new Divider(stack, QPalette::PlaceholderText));

    legal_ = new LegalBox(stack);
    legal_->view()->setAccessibleName(tr("Legal notices"));
    column->addWidget(legal_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, stack);
    close_ = buttons->button(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    column->addWidget(buttons);

    outer->addWidget(stack, 0, Qt::AlignHCenter);

    // Escape and Ctrl+W close the window too, as they close dialogs.
    QList<QKeySequence> closeKeys = QKeySequence::keyBindings(QKeySequence::Close);
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
        if (!closeKeys.contains(keys)) closeKeys << keys;
    auto* closing = new QShortcut(this);
    closing->setKeys(closeKeys);
    connect(closing, &QShortcut::activated, this, &QWidget::close);

    reload();
    centreOnScreen();
}

AboutWindow::~AboutWindow() = default;

SelectableMarkdownView* AboutWindow::legalView() const {
    return legal_->view();
}

QIcon AboutWindow::applicationIcon() {
    return QIcon::fromTheme(QStringLiteral("parlote"),
                            QIcon(QStringLiteral(":/resources/parlote.svg")));
}

QFont AboutWindow::titleFont(const QFont& base) {
    return views::titleFont(base, 1.6);
}

void AboutWindow::reload() {
    const QString name = appinfo::displayName();
    setWindowTitle(QStringLiteral("About ") + name);
    name_->setText(name);
    version_->setText(appinfo::versionLine());
    const QIcon icon = applicationIcon();
    icon_->setPixmap(icon.pixmap(QSize(iconSize, iconSize), devicePixelRatioF()));
    legalView()->setMarkdown(appinfo::readResource(QStringLiteral("Legal")).value_or(fallbackText));
}

void AboutWindow::showAbout() {
    show();
    raise();
    activateWindow();
    centreOnScreen();
}

void AboutWindow::centreOnScreen() {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    if (layout()) layout()->activate();
    const QRect available = screen->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveCenter(available.center());
    move(frame.topLeft());
}

void AboutWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange && name_) {
        name_->setFont(titleFont(font()));
        version_->setFont(views::captionFont(font()));
        legalView()->setFont(views::captionFont(font()));
    }
}

}  // namespace parlote
