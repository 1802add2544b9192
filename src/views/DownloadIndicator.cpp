#include "DownloadIndicator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <algorithm>

#include "DisplayName.h"
#include "ModelManagerView.h"
#include "ViewFonts.h"
#include "ZoruveVede.h"

namespace parlote {

namespace downloads {

QString percentText(qint64 completed, qint64 total) {
    if (total <= 0) return {};
    const qint64 done = std::clamp(completed, qint64(0), total);
    // Rounded down: "100%" must not show while the last bytes are still coming.
    const int percent = int(double(done) * 100.0 / double(total));
    return QStringLiteral("%1%").arg(percent);
}

QString bytesText(qint64 completed, qint64 total, const QLocale& locale) {
    if (total <= 0) return {};
    return QObject::tr("%1 of %2")
        .arg(ModelManagerView::formatSize(std::uint64_t(std::max(completed, qint64(0))), locale),
             ModelManagerView::formatSize(std::uint64_t(total), locale));
}

QString rateText(double bytesPerSecond, const QLocale& locale) {
    const qint64 bytes = qRound64(std::max(bytesPerSecond, 0.0));
    return QObject::tr("%1/s").arg(ModelManagerView::formatSize(std::uint64_t(bytes), locale));
}

RateMeter::RateMeter(Clock clock) : clock_(std::move(clock)) {}

void RateMeter::clear() {
    samples_.clear();
}

void RateMeter::sample(qint64 completed) {
    const auto now = clock_();
    if (!samples_.empty() && completed < samples_.back().second) samples_.clear();
    samples_.emplace_back(now, completed);
    // One sample at or before the window's start stays, as the measurement's start.
    while (samples_.size() > 2 && samples_[1].first <= now - window) samples_.pop_front();
}

std::optional<double> RateMeter::bytesPerSecond() const {
    if (samples_.size() < 2) return std::nullopt;
    const auto span = samples_.back().first - samples_.front().first;
    if (span < shortestSpan) return std::nullopt;
    const double seconds = std::chrono::duration<double>(span).count();
    return double(samples_.back().second - samples_.front().second) / seconds;
}

}  // namespace downloads

namespace {

constexpr int progressSteps = 10000;  // resolution of the bar's 0 to 1.0
constexpr int barWidth = 96;
constexpr int barHeight = 6;

}  // namespace

DownloadIndicator::DownloadIndicator(ZoruveVede& model, QWidget* parent)
    : QWidget(parent),
      model_(&model),
      name_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      percent_(new QLabel(this)),
      cancel_(new QToolButton(this)) {
    setAccessibleName(tr("Download progress"));

    name_->setTextFormat(Qt::PlainText);
    name_->setFont(views::captionFont(name_->font()));

    bar_->setRange(0, progressSteps);
    bar_->setTextVisible(false);
    bar_->setFixedSize(barWidth, barHeight);
    bar_->setAccessibleName(tr("Download progress"));

    percent_->setTextFormat(Qt::PlainText);
    percent_->setFont(views::captionFont(percent_->font()));
    // The width of "100%", so that the bar does not move as the number grows.
    percent_->setMinimumWidth(percent_->fontMetrics().horizontalAdvance(QStringLiteral("100%")));

    cancel_->setText(tr("Cancel"));
    cancel_->setAutoRaise(true);
    cancel_->setFont(views::captionFont(cancel_->font()));
    cancel_->setAccessibleName(tr("Cancel download"));
    connect(cancel_, &QToolButton::clicked, this, [this] {
        if (model_) model_->cancelModelInstall();
    });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(name_);
    layout->addWidget(bar_, 0, Qt::AlignVCenter);
    layout->addWidget(percent_);
    layout->addWidget(cancel_);

    for (auto signal : {&ZoruveVede::isInstallingChanged, &ZoruveVede::downloadBytesChanged})
        connect(&model, signal, this, &DownloadIndicator::refresh);
    refresh();
}

void DownloadIndicator::refresh() {
    const bool running = model_ && model_->isInstalling();
    setVisible(running);
    if (!running) return;
    const QString name = views::displayName(model_->installingModel());
    const qint64 completed = model_->downloadCompleted();
    const qint64 total = model_->downloadTotal();
    name_->setText(views::displayName(model_->installingModel(), name_->fontMetrics(), 160));
    const float fraction =
        std::clamp(ModelManagerView::progressFraction(completed, total), 0.0f, 1.0f);
    bar_->setValue(qRound(fraction * progressSteps));
    const QString percent = downloads::percentText(completed, total);
    percent_->setText(percent);

    const QString bytes = downloads::bytesText(completed, total);
    const QString summary = bytes.isEmpty() ? tr("Downloading %1").arg(name)
                                            : tr("Downloading %1: %2").arg(name, bytes);
    setToolTip(views::plainToolTip(summary));
    setAccessibleDescription(percent.isEmpty() ? summary
                                               : summary + QStringLiteral(", ") + percent);
    cancel_->setToolTip(tr("Stop downloading %1").arg(name));
    cancel_->setAccessibleDescription(tr("Stops downloading %1").arg(name));
}

}  // namespace parlote
