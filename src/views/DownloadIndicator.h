#pragma once

// A model download as the window shows it outside the model manager: a compact bar for
// the chat header with the model's name, a thin progress bar, the percentage and a small
// "Cancel" button. It follows the application model by itself and is visible only while
// a download runs.
//
// The texts of a download's progress, shared with the model manager's add pane, and the
// speed meter behind its "12.5 MB/s" are here too.
//
// Interface thread only.

#include <QLocale>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

class QLabel;
class QProgressBar;
class QToolButton;

namespace parlote {

class ZoruveVede;

namespace downloads {

/// "45%": the share of `total` done, rounded down (100% only when all is there); empty
/// while the total is not known.
QString percentText(qint64 completed, qint64 total);
/// "1.2 GB of 2.0 GB", in the desktop's units as model sizes are written; empty while
/// the total is not known.
QString bytesText(qint64 completed, qint64 total, const QLocale& locale = QLocale());
/// "12.5 MB/s".
QString rateText(double bytesPerSecond, const QLocale& locale = QLocale());

/// The speed of a download, smoothed over the samples of the last few seconds so that
/// the number can be read.
class RateMeter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    /// The span the speed is measured over.
    static constexpr std::chrono::milliseconds window{4000};
    /// Samples spanning less than this give no speed yet.
    static constexpr std::chrono::milliseconds shortestSpan{1000};

    explicit RateMeter(Clock clock = [] { return std::chrono::steady_clock::now(); });

    /// Forgets every sample (a new download).
    void clear();
    /// The bytes done now. Fewer than before start the measurement afresh.
    void sample(qint64 completed);
    /// Bytes per second over the window, once the samples span `shortestSpan`.
    std::optional<double> bytesPerSecond() const;

private:
    using Sample = std::pair<std::chrono::steady_clock::time_point, qint64>;
    Clock clock_;
    std::deque<Sample> samples_;
};

}  // namespace downloads

class DownloadIndicator : public QWidget {
    Q_OBJECT
public:
    /// Follows `model`'s installation from now on; Cancel stops it.
    DownloadIndicator(ZoruveVede& model, QWidget* parent);

    QLabel* nameLabel() const { return name_; }
    QProgressBar* progressBar() const { return bar_; }
    QLabel* percentLabel() const { return percent_; }
    QToolButton* cancelButton() const { return cancel_; }

private:
    void refresh();

    QPointer<ZoruveVede> model_;
    QLabel* name_;
    QProgressBar* bar_;
    QLabel* percent_;
    QToolButton* cancel_;
};

}  // namespace parlote
