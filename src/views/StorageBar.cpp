#include "StorageBar.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "ChatPaneParts.h"

namespace parlote {

StorageBar::StorageBar(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("storageBar"));
    setAccessibleName(tr("Saving problem"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 4, 8, 4);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon::fromTheme(QStringLiteral("dialog-error"),
                                     QIcon(QStringLiteral(":/resources/icons/dialog-warning.svg")))
                        .pixmap(16, 16));
    label_ = new QLabel(this);
    label_->setWordWrap(true);
    label_->setTextFormat(Qt::PlainText);
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    retry_ = new QPushButton(tr("Retry"), this);
    connect(retry_, &QPushButton::clicked, this, &StorageBar::retryRequested);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(label_, 1);
    row->addWidget(retry_, 0, Qt::AlignVCenter);
    hide();
}

void StorageBar::setProblem(const QString& text) {
    label_->setText(text);
    setVisible(!text.isEmpty());
}

void StorageBar::paintEvent(QPaintEvent*) {
    // A red tint that reads in light and dark palettes alike.
    const QColor red(220, 40, 40);
    views_detail::paintTintedStrip(*this, red, 0.18, red, 0.6);
}

}  // namespace parlote
