// The model manager panel as a user works it: the list and its three panes, the install
// form with its progress (also against the fake server: a download followed, cancelled,
// installed and failed), the removal confirmation, the browse link and the alert.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextDocumentFragment>
#include <QUrl>
#include <cstdint>

#include "Harness.h"
#include "ModelManagerView.h"

namespace parlote {
namespace {

using Pane = ModelManagerView::Pane;
using Outcome = ZoruveVede::InstallOutcome;
using namespace std::chrono_literals;

ModelInstallState installing(const QString& status, qint64 completed = 0, qint64 total = 0) {
    return {true, "phi3:mini", status, completed, total, Outcome::None};
}
ModelInstallState ended(Outcome outcome, const QString& name = "phi3:mini") {
    return {false, name, "success", 0, 0, outcome};
}

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

TEST_F(ModelManager, AddModelSendsTheNameAsTypedAndKeepsItUntilTheModelIsInstalled) {
    show();
    clickRow(0);
    ASSERT_EQ(view.currentPane(), Pane::Add);
    EXPECT_EQ(view.nameField()->placeholderText(), "Enter model name");

    QTest::mouseClick(view.addButton(), Qt::LeftButton);  // an empty name is sent too
    QTest::keyClicks(view.nameField(), " llama3.2 ");
    QTest::mouseClick(view.addButton(), Qt::LeftButton);
    EXPECT_EQ(added, (QStringList{"", " llama3.2 "}));
    EXPECT_EQ(view.nameField()->text(), " llama3.2 ");

    // A failure leaves the name to be corrected; a name emptied meanwhile comes back.
    view.setInstallState(installing("pulling manifest"));
    view.setInstallState(ended(Outcome::Failed, " llama3.2 "));
    EXPECT_EQ(view.nameField()->text(), " llama3.2 ");
    view.nameField()->clear();
    view.setInstallState(installing("pulling manifest"));
    view.setInstallState(ended(Outcome::Failed, " llama3.2 "));
    EXPECT_EQ(view.nameField()->text(), " llama3.2 ");
    EXPECT_FALSE(view.addPane()->outcomeBox()->isVisible()) << "a failure is told by the alert";

    view.setInstallState(installing("pulling manifest"));
    view.setInstallState(ended(Outcome::Installed, " llama3.2 "));
    EXPECT_EQ(view.nameField()->text(), "");
}

TEST_F(ModelManager, WhileInstallingTheFormIsDisabledAndTheProgressBoxShows) {
    show();
    clickRow(0);
    ModelAddPane* pane = view.addPane();
    EXPECT_FALSE(view.progressBox()->isVisible());
    EXPECT_FALSE(pane->outcomeBox()->isVisible());

    view.setInstallState(installing("pulling manifest"));
    EXPECT_FALSE(view.nameField()->isEnabled());
    EXPECT_FALSE(view.addButton()->isEnabled());
    EXPECT_TRUE(view.progressBox()->isVisible());
    EXPECT_EQ(pane->headingLabel()->text(), "Downloading phi3:mini…");
    EXPECT_EQ(view.statusLabel()->text(), "pulling manifest");
    EXPECT_EQ(view.progressBar()->value(), view.progressBar()->minimum());  // no total yet
    EXPECT_EQ(pane->percentLabel()->text(), "");
    EXPECT_EQ(pane->bytesLabel()->text(), "");
    EXPECT_EQ(pane->speedLabel()->text(), "") << "no speed before it can be measured";

    const qint64 gb = qint64(1) << 30;
    view.setInstallState(installing("pulling 6a0746a1ec1a", gb / 4, gb));
    EXPECT_EQ(view.statusLabel()->text(), "pulling 6a0746a1ec1a");
    const QProgressBar* bar = view.progressBar();
    EXPECT_DOUBLE_EQ(double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum()),
                     0.25);
    EXPECT_EQ(pane->percentLabel()->text(), "25%");
    EXPECT_EQ(pane->bytesLabel()->text(), "256.0 MB of 1.0 GB");

    view.setInstallState(ended(Outcome::Installed));
    EXPECT_TRUE(view.nameField()->isEnabled());
    EXPECT_TRUE(view.addButton()->isEnabled());
    EXPECT_FALSE(view.progressBox()->isVisible());
    EXPECT_TRUE(pane->outcomeBox()->isVisible());
    EXPECT_EQ(pane->outcomeLabel()->text(), "phi3:mini is installed.");
    EXPECT_FALSE(pane->outcomeIcon()->pixmap().isNull());

    // Presented afresh, the panel no longer speaks of it.
    view.reset();
    clickRow(0);
    EXPECT_FALSE(pane->outcomeBox()->isVisible());
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
    view.setInstallState(installing("pulling", 1, 2));
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
    ASSERT_NE(view.alert(), nullptr);
    EXPECT_EQ(view.alert()->icon(), QMessageBox::Warning);
    view.showAlert("Model Installed", "  'llama3.2' <b>is</b> ready ",
                   ZoruveVede::AlertKind::Information);  // the open one takes it
    QMessageBox* box = view.alert();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Information) << "good news is no warning";
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

// What a screen reader finds on each control: a name, and a description where the text
// alone does not say what the control does (a button without text above all).
TEST_F(ModelManager, EveryControlHasANameForAssistiveTechnology) {
    view.setModels({model("llama3.2:latest", 2019393189)});
    view.setInstallState(installing("pulling 6a0746a1ec1a", 1, 4));
    show();
    auto isControl = [](QWidget* w) {
        if (qobject_cast<QScrollBar*>(w)) return false;
        if (auto* label = qobject_cast<QLabel*>(w))
            return bool(label->textInteractionFlags() & Qt::LinksAccessibleByKeyboard);
        return qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
               qobject_cast<QAbstractItemView*>(w) || qobject_cast<QProgressBar*>(w);
    };
    QStringList unnamed;
    for (QWidget* w : view.findChildren<QWidget*>()) {
        if (!isControl(w)) continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(accessible, nullptr);
        const QString what =
            QString(w->metaObject()->className()) + " " + accessible->text(QAccessible::Name);
        if (accessible->text(QAccessible::Name).trimmed().isEmpty()) unnamed << what;
        auto* button = qobject_cast<QAbstractButton*>(w);
        if (button && button->text().isEmpty() &&
            accessible->text(QAccessible::Description).isEmpty())
            unnamed << what + " (no description)";
    }
    EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(", ").toStdString();

    QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(list());
    ASSERT_EQ(rows->childCount(), 2);
    EXPECT_EQ(rows->child(0)->text(QAccessible::Name), "llama3.2:latest");
    EXPECT_EQ(rows->child(1)->text(QAccessible::Name), "Add New Model");
    EXPECT_FALSE(rows->text(QAccessible::Description).isEmpty());

    clickRow(0);
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(view.detailValues()[2])->text(QAccessible::Name),
        "Size: 1.9 GB")
        << "a value is read with its label";
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view.addPane()->cancelButton())
                  ->text(QAccessible::Description),
              "Stops downloading phi3:mini");
}

// The panel following the application model's downloads from the fake server, wired as
// the window wires it.
class ModelDownload : public ::testing::Test {
protected:
    testing::Harness h;
    ModelManagerView view;
    ZoruveVede* model = nullptr;
    QStringList seen;  // the box's texts at each change of the bytes

    void SetUp() override {
        h.server.setRegistry({testing::ModelInfo::make("phi3:mini")});
        model = &h.start();
        view.followInstallation(model);
        QObject::connect(&view, &ModelManagerView::addModelRequested, model,
                         &ZoruveVede::startModelInstall);
        QObject::connect(model, &ZoruveVede::showModalAlertChanged, &view, [this] {
            if (model->showModalAlert())
                view.showAlert(model->modalAlertTitle(), model->modalAlertMessage(),
                               model->modalAlertKind());
        });
        QObject::connect(model, &ZoruveVede::downloadBytesChanged, &view, [this] {
            const ModelAddPane* pane = view.addPane();
            seen << QStringList{pane->headingLabel()->text(), pane->percentLabel()->text(),
                                pane->bytesLabel()->text()}
                        .join(" | ");
        });
        view.resize(720, 480);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        view.setSelection(ModelManagerView::addEntry);
    }
    void pullScript(std::vector<std::int64_t> layers, int steps, std::chrono::milliseconds delay) {
        testing::PullScript pull;
        pull.layerSizes = std::move(layers);
        pull.stepsPerLayer = steps;
        pull.stepDelay = delay;
        h.server.setPullScript(pull);
    }
    void add(const QString& name) {
        view.nameField()->setText(name);
        QTest::mouseClick(view.addButton(), Qt::LeftButton);
    }
    bool finished() {
        return testing::eventually([&] { return !model->isInstalling(); }, 20s);
    }
};

TEST_F(ModelDownload, TheBoxNamesTheModelAndCountsTheBytesThenSaysItIsInstalled) {
    const qint64 gb = qint64(1) << 30;
    pullScript({2 * gb, 1 << 20}, 8, 10ms);
    add("phi3:mini");
    ASSERT_TRUE(finished());
    EXPECT_TRUE(seen.contains("Downloading phi3:mini… | 50% | 1.0 GB of 2.0 GB"))
        << seen.join("\n").toStdString();
    EXPECT_TRUE(seen.contains("Downloading phi3:mini… | 99% | 2.0 GB of 2.0 GB"))
        << "the second layer counts in";

    ModelAddPane* pane = view.addPane();
    EXPECT_FALSE(view.progressBox()->isVisible());
    ASSERT_TRUE(pane->outcomeBox()->isVisible());
    EXPECT_EQ(pane->outcomeLabel()->text(), "phi3:mini is installed.");
    EXPECT_EQ(view.nameField()->text(), "");
    ASSERT_NE(view.alert(), nullptr);
    EXPECT_EQ(view.alert()->icon(), QMessageBox::Information) << "no warning for good news";
}

TEST_F(ModelDownload, CancelStopsTheDownloadAtTheServerAndSaysSoWithoutAnAlert) {
    pullScript({40000}, 200, 20ms);
    add("phi3:mini");
    QPushButton* cancel = view.addPane()->cancelButton();
    ASSERT_TRUE(testing::eventually([&] { return cancel->isVisible() && model->downloadTotal(); }));
    EXPECT_EQ(cancel->text(), "Cancel");
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_TRUE(h.server.waitForAbortedPulls(1, 5000ms));
    ASSERT_TRUE(finished());
    EXPECT_FALSE(view.progressBox()->isVisible());
    EXPECT_TRUE(view.addPane()->outcomeBox()->isVisible());
    EXPECT_EQ(view.addPane()->outcomeLabel()->text(), "Cancelled: phi3:mini was not installed.");
    EXPECT_EQ(view.alert(), nullptr);
    EXPECT_FALSE(model->showModalAlert());
}

TEST_F(ModelDownload, AFailureKeepsTheNameToBeCorrected) {
    add("phi3:mni");
    ASSERT_TRUE(finished());
    EXPECT_EQ(view.nameField()->text(), "phi3:mni");
    EXPECT_TRUE(view.nameField()->isEnabled());
    ASSERT_NE(view.alert(), nullptr);
    EXPECT_EQ(view.alert()->icon(), QMessageBox::Warning);
    EXPECT_FALSE(view.addPane()->outcomeBox()->isVisible());
}

}  // namespace
}  // namespace parlote
