// The conversation settings form and the system prompt's card, on their own: the form
// gives back what it was given (unset stays unset), its fields take no input out of their
// ranges, the model bounds the context length and decides whether thinking can be chosen,
// "Reset to Defaults" unsets everything; the card shows a prompt's first lines and hides
// without one.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <climits>

#include "ConversationSettingsForm.h"
#include "SystemPromptCard.h"

using namespace parlote;

namespace {

ModelDetails thinkingModel(qint64 context) {
    ModelDetails details;
    details.capabilities = {QStringLiteral("completion"), QStringLiteral("thinking")};
    details.capabilitiesKnown = true;
    details.contextLength = context;
    return details;
}

ModelDetails plainModel(qint64 context) {
    ModelDetails details;
    details.capabilities = {QStringLiteral("completion")};
    details.capabilitiesKnown = true;
    details.contextLength = context;
    details.system = QStringLiteral("You are a helpful assistant.");
    return details;
}

ConversationSettings everything() {
    ConversationSettings settings;
    settings.systemPrompt = QStringLiteral("Answer in French.\nKeep it short.");
    settings.temperature = 0.25;
    settings.contextLength = 8192;
    settings.seed = 42;
    settings.think = ThinkSetting::off;
    return settings;
}

}  // namespace

TEST(ConversationSettingsForm, NothingSetStaysUnsetAndShowsTheDefaults) {
    ConversationSettingsForm form;
    form.setSettings({});
    EXPECT_TRUE(form.settings().isEmpty());
    EXPECT_EQ(form.temperatureField()->text(), "Default (0.7)");
    EXPECT_EQ(form.contextLengthField()->text(), "Default");
    EXPECT_EQ(form.seedField()->text(), "");
    EXPECT_EQ(form.seedField()->placeholderText(), "Random");
    EXPECT_EQ(form.thinkingField()->currentText(), "Default");
    EXPECT_TRUE(form.systemPromptField()->toPlainText().isEmpty());
}

TEST(ConversationSettingsForm, SetValuesComeBack) {
    ConversationSettingsForm form;
    form.setModel(QStringLiteral("qwen3:8b"), thinkingModel(40960));
    form.setSettings(everything());
    EXPECT_EQ(form.settings(), everything());

    // Each on its own, the others unset.
    auto comesBack = [&](auto set) {
        ConversationSettings one;
        set(one);
        form.setSettings(one);
        return form.settings() == one;
    };
    EXPECT_TRUE(comesBack([](ConversationSettings& s) { s.seed = 0; }));
    // The bottom of the range is a value, not the default.
    EXPECT_TRUE(comesBack([](ConversationSettings& s) { s.temperature = 0.0; }));
    EXPECT_TRUE(comesBack([](ConversationSettings& s) { s.think = ThinkSetting::on; }));
    // A system prompt set to no text at all stays so until something is typed.
    EXPECT_TRUE(comesBack([](ConversationSettings& s) { s.systemPrompt = QString(); }));

    // A gpt-oss model offers the levels; a level set for any model is shown.
    ConversationSettings one;
    one.think = ThinkSetting::high;
    form.setModel(QStringLiteral("gpt-oss:20b"), thinkingModel(131072));
    form.setSettings(one);
    EXPECT_EQ(form.thinkingField()->currentText(), "High");
    EXPECT_EQ(form.settings(), one);
    form.setModel(QStringLiteral("qwen3:8b"), thinkingModel(40960));
    EXPECT_EQ(form.settings(), one);
}

TEST(ConversationSettingsForm, WhatTheUserEntersIsWhatItGives) {
    ConversationSettingsForm form;
    form.setModel(QStringLiteral("qwen3:8b"), thinkingModel(40960));
    form.setSettings({});
    form.show();
    form.systemPromptField()->setFocus();
    QTest::keyClicks(form.systemPromptField(), "Be terse.");
    form.temperatureField()->setValue(1.2);
    form.contextLengthField()->setValue(16384);
    form.seedField()->setFocus();
    QTest::keyClicks(form.seedField(), "7");
    form.thinkingField()->setCurrentIndex(form.thinkingField()->findText("On"));
    ConversationSettings expected;
    expected.systemPrompt = QStringLiteral("Be terse.");
    expected.temperature = 1.2;
    expected.contextLength = 16384;
    expected.seed = 7;
    expected.think = ThinkSetting::on;
    EXPECT_EQ(form.settings(), expected);

    // Stepping up from a default starts from the usual value.
    form.setSettings({});
    form.temperatureField()->stepUp();
    EXPECT_DOUBLE_EQ(form.temperatureField()->value(), 0.7);
    form.contextLengthField()->stepUp();
    EXPECT_EQ(form.contextLengthField()->value(), 4096);
    form.temperatureField()->stepDown();
    form.temperatureField()->setValue(form.temperatureField()->minimum());
    EXPECT_FALSE(form.settings().temperature.has_value());
}

TEST(ConversationSettingsForm, InputOutOfRangeCannotBeEntered) {
    ConversationSettingsForm form;
    form.setModel(QStringLiteral("llama3.2:latest"), plainModel(8192));
    form.setSettings({});
    form.show();

    // The seed takes digits only, at most 18 of them.
    form.seedField()->setFocus();
    QTest::keyClicks(form.seedField(), "-1x2.5e9");
    EXPECT_EQ(form.seedField()->text(), "1259");
    form.seedField()->clear();
    QTest::keyClicks(form.seedField(), "12345678901234567890");
    EXPECT_EQ(form.seedField()->text(), "123456789012345678");
    EXPECT_EQ(form.settings().seed, 123456789012345678LL);

    // The context length stops at the model's longest, which is shown beside it.
    EXPECT_EQ(form.contextLengthField()->maximum(), 8192);
    EXPECT_TRUE(form.contextLengthNote()->isVisible());
    EXPECT_EQ(form.contextLengthNote()->text(),
              QStringLiteral("at most %1").arg(QLocale().toString(8192)));
    form.contextLengthField()->setValue(100000);
    EXPECT_EQ(form.settings().contextLength, 8192);
    // A length set for a model with a longer context is cut to this one's.
    ConversationSettings longer;
    longer.contextLength = 131072;
    form.setSettings(longer);
    EXPECT_EQ(form.settings().contextLength, 8192);

    // The temperature: typed past its top, the spin box refuses the keys.
    form.temperatureField()->setFocus();
    form.temperatureField()->selectAll();
    QTest::keyClicks(form.temperatureField(), "500");
    EXPECT_LE(form.temperatureField()->value(), ConversationSettings::kMaxTemperature);
    EXPECT_GE(form.temperatureField()->value(), 0.0);
    EXPECT_TRUE(form.settings().valid() == form.settings());
}

TEST(ConversationSettingsForm, ThinkingIsOnlyForModelsThatThink) {
    ConversationSettingsForm form;
    form.setModel(QStringLiteral("llama3.2:latest"), plainModel(8192));
    form.setSettings({});
    EXPECT_FALSE(form.thinkingField()->isEnabled());
    EXPECT_FALSE(form.thinkingNote()->text().isEmpty());
    // Its own system prompt is shown in the empty field.
    EXPECT_TRUE(
        form.systemPromptField()->placeholderText().contains("You are a helpful assistant."));
    // Only gpt-oss tells the levels apart.
    form.setModel(QStringLiteral("qwen3:8b"), thinkingModel(40960));
    EXPECT_TRUE(form.thinkingField()->isEnabled());
    EXPECT_EQ(form.thinkingField()->count(), 3);  // Default, Off, On
    form.setModel(QStringLiteral("gpt-oss:20b"), thinkingModel(131072));
    EXPECT_EQ(form.thinkingField()->count(), 6);  // and Low, Medium, High
    // Unknown model (Preferences): everything is offered.
    form.setModel(QString(), std::nullopt);
    EXPECT_TRUE(form.thinkingField()->isEnabled());
    EXPECT_EQ(form.contextLengthField()->maximum(), INT_MAX);
    EXPECT_FALSE(form.contextLengthNote()->isVisibleTo(&form));
}

TEST(ConversationSettingsForm, ResetToDefaultsUnsetsEverything) {
    ConversationSettingsForm form;
    form.setModel(QStringLiteral("qwen3:8b"), thinkingModel(40960));
    form.setSettings(everything());
    form.resetButton()->click();
    EXPECT_TRUE(form.settings().isEmpty());
    EXPECT_EQ(form.thinkingField()->currentText(), "Default");
}

TEST(ConversationSettingsForm, EveryFieldIsLabelledAndReachedByTab) {
    ConversationSettingsDialog dialog;
    ConversationSettingsForm* form = dialog.form();
    for (QWidget* field : std::initializer_list<QWidget*>{
             form->systemPromptField(), form->temperatureField(), form->contextLengthField(),
             form->seedField(), form->thinkingField()}) {
        EXPECT_FALSE(field->accessibleName().isEmpty());
        EXPECT_NE(field->focusPolicy() & Qt::TabFocus, 0);
        bool labelled = false;
        for (QLabel* label : form->findChildren<QLabel*>()) labelled |= label->buddy() == field;
        EXPECT_TRUE(labelled) << field->accessibleName().toStdString();
    }
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    form->focusField(ConversationSettingsForm::Field::systemPrompt);
    QList<QWidget*> visited{form->systemPromptField()};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        // The spin boxes' line edits count as their spin box.
        if (now && qobject_cast<QAbstractSpinBox*>(now->parentWidget())) now = now->parentWidget();
        visited << now;
    }
    EXPECT_EQ(visited, (QList<QWidget*>{form->systemPromptField(), form->temperatureField(),
                                        form->contextLengthField(), form->seedField(),
                                        form->thinkingField(), form->resetButton()}));
    form->focusField(ConversationSettingsForm::Field::contextLength);
    EXPECT_TRUE(form->contextLengthField()->hasFocus());
}

// ---- the card --------------------------------------------------------------------------------

TEST(SystemPromptCard, ShowsThePromptsFirstLinesAndHidesWithoutOne) {
    QWidget window;
    auto* card = new SystemPromptCard(&window);
    card->setGeometry(0, 0, 400, 100);
    window.resize(400, 100);
    window.show();
    EXPECT_FALSE(card->isVisible());
    card->setPrompt(QStringLiteral("Answer in French."));
    EXPECT_TRUE(card->isVisible());
    EXPECT_EQ(card->shownLines(), QStringList({"Answer in French."}));
    EXPECT_EQ(card->accessibleName(), "System prompt");
    EXPECT_EQ(card->accessibleDescription(), "Answer in French.");

    // Long: at most three lines, the last one cut.
    card->setPrompt(QStringLiteral("One.\nTwo.\nThree.\nFour.\nFive."));
    const QStringList lines = card->shownLines();
    ASSERT_EQ(lines.size(), SystemPromptCard::maxLines);
    EXPECT_EQ(lines[0], "One.");
    EXPECT_TRUE(lines[2].endsWith(QChar(0x2026)));
    EXPECT_GT(card->heightForWidth(400), 3 * card->fontMetrics().lineSpacing());

    // A click, Space and Return ask for it to be edited.
    QSignalSpy activated(card, &SystemPromptCard::activated);
    QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(50, 30));
    card->setFocus();
    QTest::keyClick(card, Qt::Key_Space);
    QTest::keyClick(card, Qt::Key_Return);
    EXPECT_EQ(activated.count(), 3);

    card->setPrompt(QStringLiteral("  \n "));
    EXPECT_FALSE(card->isVisible());
    card->setPrompt(QString());
    EXPECT_FALSE(card->isVisible());
}
