// A model download followed from the chat header, against the fake server: the indicator
// shows the model, its share and Cancel only while the download runs. And the texts and
// the speed meter it shares with the model manager.

#include <QAccessible>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

#include "DownloadIndicator.h"
#include "Harness.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

TEST(DownloadTexts, PercentBytesAndSpeedAsTheyAreRead) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(downloads::percentText(0, 0), "") << "no total yet";
    EXPECT_EQ(downloads::percentText(0, 1000), "0%");
    EXPECT_EQ(downloads::percentText(999, 1000), "99%") << "not 100% before the end";
    EXPECT_EQ(downloads::percentText(1000, 1000), "100%");
    EXPECT_EQ(downloads::percentText(5000, 1000), "100%");

    const qint64 gb = qint64(1) << 30;
    EXPECT_EQ(downloads::bytesText(gb * 12 / 10, 2 * gb, english), "1.2 GB of 2.0 GB");
    EXPECT_EQ(downloads::bytesText(0, 0, english), "");
    EXPECT_EQ(downloads::rateText(12.5 * (1 << 20), english), "12.5 MB/s");
    EXPECT_EQ(downloads::rateText(12.5 * (1 << 20), QLocale(QLocale::German)), "12,5 MB/s");
}

TEST(DownloadTexts, TheSpeedIsMeasuredOverTheLastSecondsOnly) {
    using namespace std::chrono;
    steady_clock::time_point now{};
    downloads::RateMeter meter([&] { return now; });
    meter.sample(0);
    EXPECT_EQ(meter.bytesPerSecond(), std::nullopt);
    now += 500ms;
    meter.sample(1000);
    EXPECT_EQ(meter.bytesPerSecond(), std::nullopt) << "too short a span to tell";
    now += 500ms;
    meter.sample(2000);
    EXPECT_EQ(meter.bytesPerSecond(), 2000.0);

    // A fast start no longer counts once it is out of the window.
    for (int i = 0; i < 10; ++i) {
        now += 1s;
        meter.sample(2000 + (i + 1) * 100);
    }
    EXPECT_NEAR(*meter.bytesPerSecond(), 100.0, 1e-9);

    // A stall shows as a falling speed when the same amount is sampled again.
    now += 2s;
    meter.sample(3000);
    EXPECT_LT(*meter.bytesPerSecond(), 100.0);

    meter.sample(10);  // fewer bytes: a new measurement
    EXPECT_EQ(meter.bytesPerSecond(), std::nullopt);
    meter.clear();
    EXPECT_EQ(meter.bytesPerSecond(), std::nullopt);
}

class DownloadIndicatorTest : public ::testing::Test {
protected:
    Harness h;
    QWidget header;
    DownloadIndicator* indicator = nullptr;  // the header's

    void SetUp() override {
        h.server.setRegistry({ModelInfo::make("phi3:mini")});
        PullScript pull;
        pull.layerSizes = {40000, 2000};
        pull.stepsPerLayer = 40;
        pull.stepDelay = 15ms;
        h.server.setPullScript(pull);
        ZoruveVede& model = h.start();
        indicator = new DownloadIndicator(model, &header);
        header.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&header));
    }
    ZoruveVede& model() { return *h.model; }
};

TEST_F(DownloadIndicatorTest, ShowsTheDownloadWhileItRunsAndHidesAfterIt) {
    EXPECT_FALSE(indicator->isVisible());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(indicator);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Download progress");

    model().startModelInstall("phi3:mini");
    ASSERT_TRUE(eventually([&] { return model().downloadCompleted() > 0; }));
    EXPECT_TRUE(indicator->isVisible());
    EXPECT_EQ(indicator->nameLabel()->text(), "phi3:mini");
    EXPECT_EQ(indicator->percentLabel()->text(),
              downloads::percentText(model().downloadCompleted(), model().downloadTotal()));
    EXPECT_GT(indicator->progressBar()->value(), indicator->progressBar()->minimum());
    EXPECT_EQ(indicator->cancelButton()->text(), "Cancel");
    EXPECT_FALSE(indicator->cancelButton()->accessibleName().isEmpty());
    EXPECT_FALSE(indicator->cancelButton()->accessibleDescription().isEmpty());

    ASSERT_TRUE(eventually([&] { return !model().isInstalling(); }, 20s));
    EXPECT_FALSE(indicator->isVisible());
    EXPECT_EQ(model().downloadCompleted(), 42000) << "the layers' bytes add up";
    EXPECT_EQ(model().downloadTotal(), 42000);
}

TEST_F(DownloadIndicatorTest, CancelClosesTheRequestAndHidesWithoutAnAlert) {
    model().startModelInstall("phi3:mini");
    ASSERT_TRUE(eventually([&] { return indicator->isVisible() && model().downloadTotal() > 0; }));
    indicator->cancelButton()->click();
    EXPECT_TRUE(h.server.waitForAbortedPulls(1, 5000ms));
    ASSERT_TRUE(eventually([&] { return !model().isInstalling(); }));
    EXPECT_FALSE(indicator->isVisible());
    EXPECT_EQ(model().installationStatus(), "Cancelled");
    EXPECT_FALSE(model().showModalAlert());
}

}  // namespace
