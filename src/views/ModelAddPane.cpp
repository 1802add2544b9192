#include "ModelAddPane.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "DisplayName.h"
#include "ModelManagerView.h"
#include "ModelPaneParts.h"
#include "ViewFonts.h"

namespace parlote {

namespace {

constexpr int progressSpacing = 8;
constexpr int progressSteps = 10000;  // resolution of the bar's 0 to 1.0
constexpr int outcomeIconSize = 16;
constexpr int nameWidth = 280;  // pixels a model's name may take in the box's texts

// A tinted box: the secondary colour at opacity 0.1 (from the present palette, so that a
// change of theme follows).
class TintedBox : public QWidget {
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

QLabel* captionLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(views::captionFont(label->font()));
    return label;
}

}  // namespace

ModelInstallState ModelInstallState::of(const ZoruveVede& model) {
    return {model.isInstalling(),      model.installingModel(), model.installationStatus(),
            model.downloadCompleted(), model.downloadTotal(),   model.installOutcome()};
}

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
    addButton_->setAccessibleDescription(tr("Downloads and installs the model named in the field"));
    form->addWidget(nameField_, 1);
    form->addSpacing(paneSpacing / 2);
    form->addWidget(addButton_);
    layout->addLayout(form);

    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);

    // The download under way.
    progressBox_ = new TintedBox(this);
    progressBox_->setAccessibleName(tr("Download"));
    auto* box = new QVBoxLayout(progressBox_);
    box->setContentsMargins(margin, progressSpacing, margin, progressSpacing);
    box->setSpacing(progressSpacing);
    headingLabel_ = new QLabel(progressBox_);
    headingLabel_->setTextFormat(Qt::PlainText);
    QFont heading = headingLabel_->font();
    heading.setWeight(QFont::DemiBold);
    headingLabel_->setFont(heading);
    progressBar_ = new QProgressBar(progressBox_);
    progressBar_->setRange(0, progressSteps);
    progressBar_->setTextVisible(false);
    progressBar_->setAccessibleName(tr("Installation progress"));
    auto* figures = new QHBoxLayout;
    figures->setSpacing(paneSpacing);
    percentLabel_ = captionLabel(progressBox_);
    // The width of "100%", so that the figures beside it do not move as it grows.
    percentLabel_->setMinimumWidth(
        percentLabel_->fontMetrics().horizontalAdvance(QStringLiteral("100%")));
    bytesLabel_ = captionLabel(progressBox_);
    speedLabel_ = captionLabel(progressBox_);
    speedLabel_->setAccessibleDescription(tr("Download speed"));
    cancelButton_ = new QPushButton(tr("Cancel"), progressBox_);
    figures->addWidget(percentLabel_);
    figures->addWidget(bytesLabel_);
    figures->addWidget(speedLabel_);
    figures->addStretch(1);
    figures->addWidget(cancelButton_);
    statusLabel_ = captionLabel(progressBox_);
    statusLabel_->setForegroundRole(QPalette::PlaceholderText);
    statusLabel_->setWordWrap(true);
    box->addWidget(headingLabel_);
    box->addWidget(progressBar_);
    box->addLayout(figures);
    box->addWidget(statusLabel_);
    layout->addWidget(progressBox_);
    connect(cancelButton_, &QPushButton::clicked, this, [this] {
        cancelButton_->setEnabled(false);  // once is enough; the download ends shortly
        emit cancelRequested();
    });

    // How the last one ended.
    outcomeBox_ = new TintedBox(this);
    auto* outcome = new QHBoxLayout(outcomeBox_);
    outcome->setContentsMargins(margin, progressSpacing, margin, progressSpacing);
    outcomeIcon_ = new QLabel(outcomeBox_);
    outcomeIcon_->setFixedSize(outcomeIconSize, outcomeIconSize);
    outcomeLabel_ = new QLabel(outcomeBox_);
    outcomeLabel_->setTextFormat(Qt::PlainText);
    outcomeLabel_->setWordWrap(true);
    outcome->addWidget(outcomeIcon_, 0, Qt::AlignTop);
    outcome->addWidget(outcomeLabel_, 1);
    layout->addWidget(outcomeBox_);
    layout->addStretch(1);  // the boxes right under the form, where the eyes are

    rateTimer_.setInterval(std::chrono::seconds(1));
    connect(&rateTimer_, &QTimer::timeout, this, [this] {
        if (!shown_.installing || shown_.total <= 0) return;
        rate_.sample(shown_.completed);
        showSpeed();
    });

    showInstallState(shown_);
}

void ModelAddPane::showInstallState(const ModelInstallState& state) {
    using Outcome = ZoruveVede::InstallOutcome;
    const ModelInstallState before = std::exchange(shown_, state);
    const bool formHadFocus = nameField_->hasFocus() || addButton_->hasFocus();
    const bool cancelHadFocus = cancelButton_->hasFocus();
    if (state.installing && !before.installing) {
        rate_.clear();
        outcomeForgotten_ = false;
        cancelButton_->setEnabled(true);
        rateTimer_.start();
    } else if (!state.installing) {
        rateTimer_.stop();
    }
    if (state.outcome != before.outcome) {
        outcomeForgotten_ = false;
        if (state.outcome == Outcome::Installed) {
            nameField_->clear();
        } else if (state.outcome == Outcome::Failed && nameField_->text().isEmpty()) {
            nameField_->setText(state.model);  // to be corrected and tried again
        }
    }

    nameField_->setEnabled(!state.installing);
    addButton_->setEnabled(!state.installing);
    progressBox_->setVisible(state.installing);
    // The keyboard goes where it can act: to Cancel while the form is disabled, and back.
    if (state.installing && formHadFocus) cancelButton_->setFocus();
    if (!state.installing && cancelHadFocus) nameField_->setFocus();

    const QString name = views::displayName(state.model, headingLabel_->fontMetrics(), nameWidth);
    headingLabel_->setText(tr("Downloading %1…").arg(name));
    const float fraction =
        std::clamp(ModelManagerView::progressFraction(state.completed, state.total), 0.0f, 1.0f);
    // A fraction that is not a number (never expected) draws as an empty bar.
    progressBar_->setValue(std::isnan(fraction) ? 0 : qRound(fraction * progressSteps));
    percentLabel_->setText(downloads::percentText(state.completed, state.total));
    bytesLabel_->setText(downloads::bytesText(state.completed, state.total));
    progressBar_->setAccessibleDescription(bytesLabel_->text());
    statusLabel_->setText(state.status);
    cancelButton_->setAccessibleDescription(tr("Stops downloading %1").arg(name));
    if (state.installing && state.total > 0 && state.completed != before.completed)
        rate_.sample(state.completed);
    showSpeed();

    const bool ended = state.outcome == Outcome::Installed || state.outcome == Outcome::Cancelled;
    outcomeBox_->setVisible(!state.installing && ended && !outcomeForgotten_);
    if (state.outcome == Outcome::Installed) {
        outcomeIcon_->setPixmap(
            QIcon::fromTheme(QStringLiteral("emblem-ok"),
                             style()->standardIcon(QStyle::SP_DialogApplyButton))
                .pixmap(outcomeIconSize, outcomeIconSize));
        outcomeLabel_->setText(tr("%1 is installed.").arg(name));
        outcomeIcon_->setAccessibleName(tr("Installed"));
    } else if (state.outcome == Outcome::Cancelled) {
        outcomeIcon_->setPixmap(style()
                                    ->standardIcon(QStyle::SP_MessageBoxInformation)
                                    .pixmap(outcomeIconSize, outcomeIconSize));
        outcomeLabel_->setText(tr("Cancelled: %1 was not installed.").arg(name));
        outcomeIcon_->setAccessibleName(tr("Cancelled"));
    }
}

void ModelAddPane::forgetOutcome() {
    outcomeForgotten_ = true;
    outcomeBox_->hide();
}

void ModelAddPane::showSpeed() {
    const std::optional<double> rate = shown_.installing ? rate_.bytesPerSecond() : std::nullopt;
    speedLabel_->setText(rate ? downloads::rateText(*rate) : QString());
}

}  // namespace parlote
