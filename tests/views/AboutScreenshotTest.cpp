// Renders the welcome sheet and the About window under a light and a dark palette. The
// pictures are written when PARLOTE_SCREENS_DIR names a folder, for a person to look at;
// the test checks that both palettes reach the surfaces.

#include "AboutWindow.h"
#include "WelcomeView.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <gtest/gtest.h>

#include "TestPalettes.h"

namespace parlote {
namespace {

using testing::darkPalette;

template <typename Surface>
QImage render(const QPalette& palette) {
    Surface surface;
    surface.setPalette(palette);
    surface.show();
    if (!QTest::qWaitForWindowExposed(&surface)) return {};
    QCoreApplication::processEvents();
    return surface.grab().toImage();
}

TEST(Screenshots, WelcomeAndAboutUnderLightAndDarkPalettes) {
    QStyle* fusion = QStyleFactory::create("Fusion");
    ASSERT_NE(fusion, nullptr);
    QApplication::setStyle(fusion);
    const QPalette light = fusion->standardPalette();
    const QList<std::pair<QString, QImage>> shots{
        {"welcome-light", render<WelcomeView>(light)},
        {"welcome-dark", render<WelcomeView>(darkPalette())},
        {"about-light", render<AboutWindow>(light)},
        {"about-dark", render<AboutWindow>(darkPalette())},
    };
    for (const auto& [name, image] : shots) {
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        const int grey = qGray(image.pixel(image.width() - 3, 3));
        if (name.endsWith("light")) EXPECT_GT(grey, 160) << name.toStdString();
        else EXPECT_LT(grey, 96) << name.toStdString();
    }
    EXPECT_EQ(shots[0].second.size(), QSize(600, 700));

    const QString folder = qEnvironmentVariable("PARLOTE_SCREENS_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        for (const auto& [name, image] : shots)
            EXPECT_TRUE(image.save(folder + "/" + name + ".png"));
    }
}

}  // namespace
}  // namespace parlote
