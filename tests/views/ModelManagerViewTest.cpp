// The model manager panel as a user works it: the list and its three panes, the install
// form with its progress, the removal confirmation, the browse link and the alert.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextDocumentFragment>
#include <QUrl>
#include <cstdint>

#include "ModelManagerView.h"

namespace parlote {
namespace {

using Pane = ModelManagerView::Pane;

ChatModel model(const QString& name, std::uint64_t size, const QString& family = "llama") {
    return ChatModel{name,   name,  "sha256:" + QString(64, QLatin1Char('a')), size, family, "gguf",
                     "8.0B", "Q4_0"};
}

TEST(ModelManagerRules, SizesReadAsTheDesktopWritesThem) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const std::pair<std::uint64_t, const char*> table[] = {
        {0, "0 bytes"},         {1023, "1,023 bytes"},  {1536, "1.5 kB"},
        {2019393189, "1.9 GB"}, {4700000000, "4.4 GB"}, {UINT64_MAX, "8.0 EB"},
    };
    for (const auto& [size, text] : table)
        EXPECT_EQ(ModelManagerView::formatSize(size, english), QString(text)) << size;
    EXPECT_EQ(ModelManagerView::formatSize(2019393189, QLocale(QLocale::German)), "1,9 GB");
}

TEST(ModelManagerRules, ProgressFractionIsSinglePrecisionAndZeroWithoutATotal) {
    EXPECT_EQ(ModelManagerView::progressFraction(0, 0), 0.0f);
    EXPECT_EQ(ModelManagerView::progressFraction(500, 0), 0.0f);
    EXPECT_EQ(ModelManagerView::progressFraction(1, 4), 0.25f);
    // Both amounts are rounded to single precision before dividing (2^24 + 1 is not
    // representable), which a double division rounded afterwards would not give.
    EXPECT_EQ(ModelManagerView::progressFraction(16777217, 16777219), 16777216.0f / 16777220.0f);
}

class ModelManager : public ::testing::Test {
protected:
    void SetUp() override {
        view.resize(720, 480);
        QObject::connect(&view, &ModelManagerView::addModelRequested,
                         [this](const QString& name) { added << name; });
        QObject::connect(&view, &ModelManagerView::deleteModelRequested,
                         [this](const QString& id) { deleted << id; });
        QObject::connect(&view, &ModelManagerView::alertClosed, [this] { ++alertsClosed; });
    }

    void show() {
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    QListWidget* list() const { return view.listWidget(); }
    void clickRow(int row) {
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                          list()->visualItemRect(list()->item(row)).center());
    }
    int highlightedRow() const {
        const QList<QListWidgetItem*> items = list()->selectedItems();
        return items.size() == 1 ? list()->row(items.first()) : -1;
    }
    QStringList rowTexts() const {
        QStringList texts;
        for (int i = 0; i < list()->count(); ++i) texts << list()->item(i)->text();
        return texts;
    }
    QStringList detailTexts(const QList<QLabel*>& labels) const {
        QStringList texts;
        for (const QLabel* label : labels) texts << label->text();
        return texts;
    }
    void answer(QMessageBox* box, const QString& buttonText) {
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == buttonText) {
                QTest::mouseClick(button, Qt::LeftButton);
                QCoreApplication::processEvents();
                return;
            }
        FAIL() << "no button " << buttonText.toStdString();
    }

    ModelManagerView view;
    QStringList added;
    QStringList deleted;
    int alertsClosed = 0;
};

TEST_F(ModelManager, WithoutModelsOnlyTheAddEntryAndTheHelpPaneShow) {
    show();
    EXPECT_EQ(rowTexts(), QStringList{"+ Add New Model"});
    EXPECT_EQ(view.currentPane(), Pane::Help);
    EXPECT_EQ(view.selection(), std::nullopt);
    EXPECT_EQ(highlightedRow(), -1);

    clickRow(0);
    EXPECT_EQ(view.selection(), ModelManagerView::addEntry);
    EXPECT_EQ(view.currentPane(), Pane::Add);
}

TEST_F(ModelManager, SelectingAModelShowsItsDetailsInTheSevenRows) {
    // The second entry shares the first one's id: the first in list order is shown.
    ChatModel twin = model("llama3.2:latest", 1);
    twin.model = "Twin";
    view.setModels(
        {model("gemma2:9b", 5443152417, "gemma2"), model("llama3.2:latest", 2019393189), twin});
    show();
    EXPECT_EQ(rowTexts(), (QStringList{"gemma2:9b", "llama3.2:latest", "Twin", "+ Add New Model"}));

    clickRow(2);
    EXPECT_EQ(view.selection(), "llama3.2:latest");
    EXPECT_EQ(view.currentPane(), Pane::Details);
    EXPECT_EQ(detailTexts(view.detailLabels()),
              (QStringList{"Name:", "Digest:", "Size:", "Family:", "Format:", "Parameters:",
                           "Quantization:"}));
    EXPECT_EQ(detailTexts(view.detailValues()),
              (QStringList{"llama3.2:latest", "sha256:" + QString(64, QLatin1Char('a')), "1.9 GB",
                           "llama", "gguf", "8.0B", "Q4_0"}));

    clickRow(0);
    EXPECT_EQ(detailTexts(view.detailValues())[0], "gemma2:9b");
    EXPECT_EQ(detailTexts(view.detailValues())[2], "5.1 GB");
}

TEST_F(ModelManager, AModelThatLeavesTheListWhileSelectedShowsTheHelpPane) {
    view.setModels({model("a", 10), model("b", 20)});
    show();
    clickRow(1);
    ASSERT_EQ(view.currentPane(), Pane::Details);

    view.setModels({model("a", 10)});
    EXPECT_EQ(view.currentPane(), Pane::Help);
    EXPECT_EQ(highlightedRow(), -1);

    // Its details come back with it (the selection is kept as a value).
    view.setModels({model("b", 2048), model("a", 10)});
    EXPECT_EQ(view.currentPane(), Pane::Details);
    EXPECT_EQ(highlightedRow(), 0);
    EXPECT_EQ(view.detailValues()[2]->text(), "2.0 kB");
}

TEST_F(ModelManager, AddModelSendsTheNameAsTypedAndClearsTheField) {
    show();
    clickRow(0);
    ASSERT_EQ(view.currentPane(), Pane::Add);
    EXPECT_EQ(view.nameField()->placeholderText(), "Enter model name");

    QTest::mouseClick(view.addButton(), Qt::LeftButton);  // an empty name is sent too
    QTest::keyClicks(view.nameField(), " llama3.2 ");
    QTest::mouseClick(view.addButton(), Qt::LeftButton);
    EXPECT_EQ(added, (QStringList{"", " llama3.2 "}));
    EXPECT_EQ(view.nameField()->text(), "");
    EXPECT_EQ(view.currentPane(), Pane::Add);
}

TEST_F(ModelManager, WhileInstallingTheFormIsDisabledAndTheProgressBoxShows) {
    show();
    clickRow(0);
    EXPECT_FALSE(view.progressBox()->isVisible());

    view.setInstallState(true, "pulling manifest", 0, 0);
    EXPECT_FALSE(view.nameField()->isEnabled());
    EXPECT_FALSE(view.addButton()->isEnabled());
    EXPECT_TRUE(view.progressBox()->isVisible());
    EXPECT_EQ(view.statusLabel()->text(), "pulling manifest");
    EXPECT_EQ(view.progressBar()->value(), view.progressBar()->minimum());  // no total yet

    view.setInstallState(true, "downloading 6a0746a1ec1a", 250, 1000);
    EXPECT_EQ(view.statusLabel()->text(), "downloading 6a0746a1ec1a");
    const QProgressBar* bar = view.progressBar();
    EXPECT_DOUBLE_EQ(double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum()),
                     0.25);

    view.setInstallState(false, "success", 1000, 1000);
    EXPECT_TRUE(view.nameField()->isEnabled());
    EXPECT_TRUE(view.addButton()->isEnabled());
    EXPECT_FALSE(view.progressBox()->isVisible());
}

TEST_F(ModelManager, CancellingTheRemovalKeepsTheDetails) {
    view.setModels({model("llama3.2:latest", 1), model("gemma2:9b", 2)});
    show();
    clickRow(1);
    QTest::mouseClick(view.deleteButton(), Qt::LeftButton);
    QMessageBox* box = view.deleteConfirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Delete Model");
    EXPECT_EQ(box->text(),
              "Are you sure you want to delete 'gemma2:9b'? This action cannot be undone.");
    QStringList buttons;
    for (QAbstractButton* button : box->buttons()) buttons << button->text();
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"Cancel", "Delete"}));

    answer(box, "Cancel");
    EXPECT_EQ(view.deleteConfirmation(), nullptr);
    EXPECT_TRUE(deleted.isEmpty());
    EXPECT_EQ(view.selection(), "gemma2:9b");
    EXPECT_EQ(view.currentPane(), Pane::Details);
    EXPECT_EQ(highlightedRow(), 1);
}

TEST_F(ModelManager, ConfirmingTheRemovalSendsTheIdAndShowsTheHelpPane) {
    view.setModels({model("llama3.2:latest", 1), model("gemma2:9b", 2)});
    show();
    clickRow(0);
    QTest::mouseClick(view.deleteButton(), Qt::LeftButton);
    answer(view.deleteConfirmation(), "Delete");
    EXPECT_EQ(deleted, QStringList{"llama3.2:latest"});
    EXPECT_EQ(view.selection(), std::nullopt);
    EXPECT_EQ(view.currentPane(), Pane::Help);
    EXPECT_EQ(highlightedRow(), -1);
}

TEST_F(ModelManager, TheBrowseLinkOpensTheLibraryThroughTheSeam) {
    QList<QUrl> opened;
    view.setUrlOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    show();
    for (Pane pane : {Pane::Help, Pane::Add}) {
        view.setSelection(pane == Pane::Add ? std::optional<QString>(ModelManagerView::addEntry)
                                            : std::nullopt);
        QLabel* link = view.browseLink(pane);
        ASSERT_NE(link, nullptr);
        ASSERT_TRUE(link->isVisible());
        EXPECT_EQ(QTextDocumentFragment::fromHtml(link->text()).toPlainText(),
                  "ollama.com/library");
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
    }
    EXPECT_EQ(opened, (QList<QUrl>{QUrl("https://ollama.com/library"),
                                   QUrl("https://ollama.com/library")}));
}

TEST_F(ModelManager, ResetStartsAfreshWithoutRemovingAnything) {
    view.setModels({model("llama3.2:latest", 1)});
    show();
    clickRow(0);
    QTest::mouseClick(view.deleteButton(), Qt::LeftButton);
    ASSERT_NE(view.deleteConfirmation(), nullptr);
    view.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(view.deleteConfirmation(), nullptr);
    EXPECT_TRUE(deleted.isEmpty());
    EXPECT_EQ(view.currentPane(), Pane::Help);

    clickRow(1);
    QTest::keyClicks(view.nameField(), "mistral");
    view.setInstallState(true, "pulling", 1, 2);
    view.reset();
    EXPECT_EQ(view.selection(), std::nullopt);
    EXPECT_EQ(highlightedRow(), -1);
    EXPECT_EQ(view.currentPane(), Pane::Help);
    EXPECT_EQ(view.nameField()->text(), "");
    // The installation is the owner's: its progress shows again on the add pane.
    clickRow(1);
    EXPECT_TRUE(view.progressBox()->isVisible());
    EXPECT_TRUE(added.isEmpty());
}

TEST_F(ModelManager, TheAlertShowsTheTextsVerbatimAndReportsItsClosing) {
    show();
    view.showAlert("Error", "Failed to install model");
    view.showAlert("Model Installed", "  'llama3.2' <b>is</b> ready ");  // the open one takes it
    QMessageBox* box = view.alert();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(view.findChildren<QMessageBox*>().size(), 1);
    EXPECT_EQ(box->windowTitle(), "Model Installed");
    EXPECT_EQ(box->text(), "  'llama3.2' <b>is</b> ready ");
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(alertsClosed, 0);
    answer(box, "OK");
    EXPECT_EQ(alertsClosed, 1);
    EXPECT_EQ(view.alert(), nullptr);
}

}  // namespace
}  // namespace parlote
