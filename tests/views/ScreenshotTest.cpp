// Renders the sidebar and the input box side by side under a light and a dark palette.
// The pictures are written when PARLOTE_SCREENS_DIR names a folder, for a person to look
// at; the test itself checks that both palettes reach the widgets.

#include "ConversationListView.h"
#include "CustomTextView.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QImage>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "TestPalettes.h"

namespace parlote {
namespace {

using testing::darkPalette;

// The sidebar beside an input box holding two lines, roughly as the window places them.
QImage render(const QPalette& palette) {
    QWidget window;
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    auto* row = new QHBoxLayout(&window);
    row->setContentsMargins(0, 0, 0, 0);

    auto* sidebar = new ConversationListView(&window);
    const QList<Conversation> conversations{
        Conversation(SidebarID::conversation(QUuid::createUuid()), "Why is the sky blue?",
                     "Rayleigh scattering: shorter wavelengths are scattered much more strongly by "
                     "the molecules of the air, so blue light reaches your eyes from every direction "
                     "of the sky, while the sun itself looks slightly yellow."),
        Conversation(SidebarID::conversation(QUuid::createUuid()), "Sourdough starter schedule",
                     "Feed it twice a day."),
        Conversation(SidebarID::conversation(QUuid::createUuid()),
                     "A very long conversation title that cannot possibly fit into the sidebar", ""),
        Conversation(SidebarID::conversation(QUuid::createUuid()), "Haiku", "Old pond\nfrog leaps in"),
    };
    sidebar->setConversations(conversations);
    sidebar->setSelectedConversation(conversations[1].id());
    sidebar->setFixedWidth(250);
    row->addWidget(sidebar);

    auto* pane = new QVBoxLayout;
    pane->setContentsMargins(8, 8, 8, 8);
    pane->addStretch(1);
    auto* input = new CustomTextView(&window);
    input->setText("Tell me more about\nthe colour of sunsets");
    qreal height = 0;
    QObject::connect(input, &CustomTextView::heightChanged, [&](qreal h) { height = h; });
    pane->addWidget(input);
    row->addLayout(pane, 1);

    window.resize(640, 420);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {};
    QCoreApplication::processEvents();
    input->setFixedHeight(CustomTextView::boxHeight(height));
    QCoreApplication::processEvents();
    return window.grab().toImage();
}

TEST(Screenshots, SidebarAndInputUnderLightAndDarkPalettes) {
    QStyle* fusion = QStyleFactory::create("Fusion");
    ASSERT_NE(fusion, nullptr);
    QApplication::setStyle(fusion);
    const QImage light = render(fusion->standardPalette());
    const QImage dark = render(darkPalette());
    ASSERT_FALSE(light.isNull());
    ASSERT_FALSE(dark.isNull());
    // The window's background follows the palette.
    EXPECT_GT(qGray(light.pixel(light.width() - 2, 2)), 160);
    EXPECT_LT(qGray(dark.pixel(dark.width() - 2, 2)), 96);

    const QString folder = qEnvironmentVariable("PARLOTE_SCREENS_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        EXPECT_TRUE(light.save(folder + "/views-light.png"));
        EXPECT_TRUE(dark.save(folder + "/views-dark.png"));
    }
}

}  // namespace
}  // namespace parlote
