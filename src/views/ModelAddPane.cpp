#include "ModelAddPane.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "ModelManagerView.h"
#include "ModelPaneParts.h"
#include "ViewFonts.h"

namespace parlote {

namespace {

constexpr int progressSpacing = 8;
constexpr int progressSteps = 10000;  // resolution of the bar's 0 to 1.0

// The progress box's background: the secondary colour at opacity 0.1 (from the present
// palette, so that a change of theme follows).
class ProgressBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QColor tint = palette().color(QPalette::PlaceholderText);
        tint.setAlphaF(0.1f);
        QPainter painter(this);
        painter.fillRect(rect(), tint);
    }
};

}  // namespace

ModelAddPane::ModelAddPane(QWidget* parent) : QWidget(parent) {
    using namespace views_detail;
    QVBoxLayout* layout = paneLayout(this);
    layout->addWidget(titleLabel(tr("Add Model"), this));
    layout->addWidget(
        bodyLabel(tr("Enter the name of the model you would like to install."), this));
    layout->addWidget(browseLine(this, &browseLink_));
    layout->addWidget(nameHintLabel(this));

    auto* form = new QHBoxLayout;
    nameField_ = new QLineEdit(this);
    nameField_->setPlaceholderText(tr("Enter model name"));
    nameField_->setAccessibleName(tr("Model name"));
    addButton_ = new QPushButton(tr("Add Model"), this);
    form->addWidget(nameField_, 1);
    form->addSpacing(paneSpacing / 2);
    form->addWidget(addButton_);
    layout->addLayout(form);
    layout->addStretch(1);

    progressBox_ = new ProgressBox(this);
    auto* box = new QVBoxLayout(progressBox_);
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    box->setContentsMargins(margin, progressSpacing, margin, progressSpacing);
    box->setSpacing(progressSpacing);
    statusLabel_ = new QLabel(progressBox_);
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setFont(views::captionFont(statusLabel_->font()));
    statusLabel_->setAlignment(Qt::AlignHCenter);
    statusLabel_->setWordWrap(true);
    progressBar_ = new QProgressBar(progressBox_);
    progressBar_->setRange(0, progressSteps);
    progressBar_->setTextVisible(false);
    progressBar_->setAccessibleName(tr("Installation progress"));
    box->addWidget(statusLabel_);
    box->addWidget(progressBar_);
    layout->addWidget(progressBox_);
}

void ModelAddPane::showInstallState(bool installing, const QString& status, qint64 progress,
                                    qint64 complete) {
    nameField_->setEnabled(!installing);
    addButton_->setEnabled(!installing);
    progressBox_->setVisible(installing);
    statusLabel_->setText(status);
    const float fraction =
        std::clamp(ModelManagerView::progressFraction(progress, complete), 0.0f, 1.0f);
    // A fraction that is not a number (never expected) draws as an empty bar.
    progressBar_->setValue(std::isnan(fraction) ? 0 : qRound(fraction * progressSteps));
}

}  // namespace parlote
