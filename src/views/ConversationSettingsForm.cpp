#include "ConversationSettingsForm.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <climits>

#include "ServerSection.h"

namespace parlote {

namespace {

// A spin box whose minimum stands for "not set" (its special value text): stepping up
// from there starts at the usual value rather than at the bottom of the range.
class DefaultableDoubleSpinBox : public QDoubleSpinBox {
public:
    DefaultableDoubleSpinBox(double usual, QWidget* parent)
        : QDoubleSpinBox(parent), usual_(usual) {}
    void stepBy(int steps) override {
        if (value() == minimum() && steps > 0) {
            setValue(usual_);
            selectAll();
            return;
        }
        QDoubleSpinBox::stepBy(steps);
    }

private:
    double usual_;
};

class DefaultableSpinBox : public QSpinBox {
public:
    DefaultableSpinBox(int usual, QWidget* parent) : QSpinBox(parent), usual_(usual) {}
    void stepBy(int steps) override {
        if (value() == minimum() && steps > 0) {
            setValue(qMin(usual_, maximum()));
            selectAll();
            return;
        }
        QSpinBox::stepBy(steps);
    }

private:
    int usual_;
};

constexpr int kDefaultThink = -1;  // the thinking field's "Default"

QLabel* noteLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont small = label->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    label->setFont(small);
    return label;
}

/// gpt-oss takes a level of reasoning; other models take any level as "on".
bool takesLevels(const QString& model) {
    return model.isEmpty() || model.contains(QStringLiteral("gpt-oss"), Qt::CaseInsensitive);
}

}  // namespace

ConversationSettingsForm::ConversationSettingsForm(QWidget* parent) : QWidget(parent) {
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);

    systemPrompt_ = new QPlainTextEdit(this);
    systemPrompt_->setTabChangesFocus(true);
    systemPrompt_->setPlaceholderText(tr("The model's own"));
    systemPrompt_->setMinimumHeight(systemPrompt_->fontMetrics().lineSpacing() * 5);
    systemPrompt_->setAccessibleName(tr("System prompt"));
    systemPrompt_->setAccessibleDescription(
        tr("Sent to the model before the conversation, as its instructions; empty: the "
           "model's own"));
    auto* promptLabel = new QLabel(tr("S&ystem prompt:"), this);
    promptLabel->setBuddy(systemPrompt_);
    form->addRow(promptLabel, systemPrompt_);
    connect(systemPrompt_, &QPlainTextEdit::textChanged, this, [this] {
        if (!systemPrompt_->document()->isEmpty()) emptyPromptSet_ = false;
    });

    temperature_ = new DefaultableDoubleSpinBox(usualTemperature, this);
    temperature_->setDecimals(2);
    temperature_->setSingleStep(0.05);
    temperature_->setRange(-0.01, ConversationSettings::kMaxTemperature);
    temperature_->setSpecialValueText(tr("Default (%1)").arg(QLocale().toString(usualTemperature)));
    temperature_->setAccessibleName(tr("Temperature"));
    temperature_->setAccessibleDescription(
        tr("How freely the model chooses its words: 0 always takes the likeliest, higher "
           "values vary more"));
    auto* temperatureLabel = new QLabel(tr("&Temperature:"), this);
    temperatureLabel->setBuddy(temperature_);
    form->addRow(temperatureLabel, temperature_);

    auto* contextRow = new QWidget(this);
    auto* contextLine = new QHBoxLayout(contextRow);
    contextLine->setContentsMargins(0, 0, 0, 0);
    contextLength_ = new DefaultableSpinBox(usualContextLength, contextRow);
    contextLength_->setRange(0, INT_MAX);
    contextLength_->setSingleStep(1024);
    contextLength_->setSpecialValueText(tr("Default"));
    contextLength_->setSuffix(tr(" tokens"));
    contextLength_->setGroupSeparatorShown(true);
    contextLength_->setAccessibleName(tr("Context length"));
    contextLine->addWidget(contextLength_, 1);
    contextNote_ = noteLabel(contextRow);
    contextLine->addWidget(contextNote_);
    auto* contextLabel = new QLabel(tr("&Context length:"), this);
    contextLabel->setBuddy(contextLength_);
    form->addRow(contextLabel, contextRow);

    seed_ = new QLineEdit(this);
    seed_->setPlaceholderText(tr("Random"));
    seed_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,18}")), seed_));
    seed_->setAccessibleName(tr("Seed"));
    seed_->setAccessibleDescription(
        tr("A number: the same seed, prompt and temperature give the same reply; empty: random"));
    auto* seedLabel = new QLabel(tr("S&eed:"), this);
    seedLabel->setBuddy(seed_);
    form->addRow(seedLabel, seed_);

    auto* thinkingRow = new QWidget(this);
    auto* thinkingLine = new QHBoxLayout(thinkingRow);
    thinkingLine->setContentsMargins(0, 0, 0, 0);
    thinking_ = new QComboBox(thinkingRow);
    thinking_->setAccessibleName(tr("Thinking"));
    thinking_->setAccessibleDescription(
        tr("Whether a model that can think reasons before it answers"));
    thinkingLine->addWidget(thinking_);
    thinkingNote_ = noteLabel(thinkingRow);
    thinkingLine->addWidget(thinkingNote_, 1);
    auto* thinkingLabel = new QLabel(tr("T&hinking:"), this);
    thinkingLabel->setBuddy(thinking_);
    form->addRow(thinkingLabel, thinkingRow);
    connect(thinking_, &QComboBox::currentIndexChanged, this, [this] {
        if (thinking_->currentIndex() < 0) return;
        const int value = thinking_->currentData().toInt();
        think_ = value == kDefaultThink ? std::nullopt : std::optional(ThinkSetting(value));
    });

    reset_ = new QPushButton(tr("&Reset to Defaults"), this);
    reset_->setAutoDefault(false);
    reset_->setAccessibleDescription(tr("Leaves every setting at its default"));
    connect(reset_, &QPushButton::clicked, this, &ConversationSettingsForm::resetToDefaults);
    auto* resetRow = new QHBoxLayout;
    resetRow->addStretch(1);
    resetRow->addWidget(reset_);
    form->addRow(resetRow);

    setTabOrder(systemPrompt_, temperature_);
    setTabOrder(temperature_, contextLength_);
    setTabOrder(contextLength_, seed_);
    setTabOrder(seed_, thinking_);
    setTabOrder(thinking_, reset_);

    setModel(QString(), std::nullopt);
}

void ConversationSettingsForm::setSettings(const ConversationSettings& given) {
    const ConversationSettings settings = given.valid();
    systemPrompt_->setPlainText(settings.systemPrompt.value_or(QString()));
    emptyPromptSet_ = settings.systemPrompt && settings.systemPrompt->isEmpty();
    temperature_->setValue(settings.temperature ? *settings.temperature : temperature_->minimum());
    if (settings.contextLength) {
        // Within the model's maximum: a longer one (set for another model) is cut to it.
        contextLength_->setValue(int(qMin<std::int64_t>(*settings.contextLength, INT_MAX)));
    } else {
        contextLength_->setValue(0);
    }
    seed_->setText(settings.seed ? QString::number(*settings.seed) : QString());
    think_ = settings.think;
    fillThinking();
}

ConversationSettings ConversationSettingsForm::settings() const {
    ConversationSettings settings;
    const QString prompt = systemPrompt_->toPlainText();
    if (!prompt.isEmpty())
        settings.systemPrompt = prompt;
    else if (emptyPromptSet_)
        settings.systemPrompt = QString();
    if (temperature_->value() > temperature_->minimum())
        settings.temperature = temperature_->value();
    if (contextLength_->value() > 0) settings.contextLength = contextLength_->value();
    bool ok = false;
    const qlonglong seed = seed_->text().toLongLong(&ok);
    if (ok) settings.seed = seed;
    settings.think = think_;
    return settings.valid();
}

void ConversationSettingsForm::setModel(const QString& name,
                                        const std::optional<ModelDetails>& details) {
    model_ = name;
    details_ = details;
    const qint64 longest = details ? details->contextLength : 0;
    // A longer length shown (set for another model) is cut to it.
    contextLength_->setMaximum(longest > 0 ? int(qMin<qint64>(longest, INT_MAX)) : INT_MAX);
    const QString system = details ? details->system.trimmed() : QString();
    systemPrompt_->setPlaceholderText(
        system.isEmpty() ? tr("The model's own") : tr("The model's own: %1").arg(system.left(500)));
    updateContextNote();
    fillThinking();
}

void ConversationSettingsForm::updateContextNote() {
    const qint64 longest = details_ ? details_->contextLength : 0;
    const QString note =
        longest > 0 ? tr("at most %1").arg(QLocale().toString(longest)) : QString();
    contextNote_->setText(note);
    contextNote_->setVisible(!note.isEmpty());
    contextLength_->setAccessibleDescription(
        longest > 0 ? tr("How many tokens of the conversation the model reads; this model "
                         "reads at most %1; Default: the server's setting")
                          .arg(longest)
                    : tr("How many tokens of the conversation the model reads; Default: "
                         "the server's setting"));
}

void ConversationSettingsForm::fillThinking() {
    // Known not to think: the field shows the setting, greyed; unknown: all is offered.
    const bool canThink = !details_ || details_->supportsThinking();
    const bool levels = takesLevels(model_) ||
                        (think_ && *think_ != ThinkSetting::off && *think_ != ThinkSetting::on);
    const QSignalBlocker quiet(thinking_);
    thinking_->clear();
    thinking_->addItem(tr("Default"), kDefaultThink);
    thinking_->addItem(tr("Off"), int(ThinkSetting::off));
    thinking_->addItem(tr("On"), int(ThinkSetting::on));
    if (levels) {
        thinking_->addItem(tr("Low"), int(ThinkSetting::low));
        thinking_->addItem(tr("Medium"), int(ThinkSetting::medium));
        thinking_->addItem(tr("High"), int(ThinkSetting::high));
        if (think_ == ThinkSetting::max) thinking_->addItem(tr("Max"), int(ThinkSetting::max));
    }
    thinking_->setCurrentIndex(qMax(0, thinking_->findData(think_ ? int(*think_) : kDefaultThink)));
    thinking_->setEnabled(canThink);
    QString note;
    if (!canThink)
        note = tr("This model does not think before it answers.");
    else if (model_.isEmpty())
        note = tr("Used with models that can think.");
    thinkingNote_->setText(note);
    thinkingNote_->setVisible(!note.isEmpty());
}

void ConversationSettingsForm::resetToDefaults() {
    setSettings({});
}

void ConversationSettingsForm::focusField(Field field) {
    switch (field) {
        case Field::systemPrompt:
            systemPrompt_->setFocus(Qt::OtherFocusReason);
            break;
        case Field::temperature:
            temperature_->setFocus(Qt::OtherFocusReason);
            temperature_->selectAll();
            break;
        case Field::contextLength:
            contextLength_->setFocus(Qt::OtherFocusReason);
            contextLength_->selectAll();
            break;
        case Field::seed:
            seed_->setFocus(Qt::OtherFocusReason);
            seed_->selectAll();
            break;
        case Field::thinking:
            thinking_->setFocus(Qt::OtherFocusReason);
            break;
    }
}

// ---- the dialogs ---------------------------------------------------------------------------

ConversationSettingsDialog::ConversationSettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Conversation Settings"));
    setWindowModality(Qt::WindowModal);
    auto* column = new QVBoxLayout(this);
    form_ = new ConversationSettingsForm(this);
    column->addWidget(form_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    resize(520, sizeHint().height());
}

PreferencesDialog::PreferencesDialog(ModelServiceBridge& bridge, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Preferences"));
    setWindowModality(Qt::WindowModal);
    auto* column = new QVBoxLayout(this);
    auto* serverBox = new QGroupBox(tr("Server"), this);
    auto* serverColumn = new QVBoxLayout(serverBox);
    server_ = new ServerSection(bridge, serverBox);
    serverColumn->addWidget(server_);
    column->addWidget(serverBox);
    auto* section = new QGroupBox(tr("New conversations"), this);
    auto* sectionColumn = new QVBoxLayout(section);
    auto* intro = noteLabel(section);
    intro->setText(
        tr("A new conversation starts with these settings; each conversation can change "
           "them in Conversation Settings."));
    sectionColumn->addWidget(intro);
    form_ = new ConversationSettingsForm(section);
    sectionColumn->addWidget(form_);
    column->addWidget(section);
    column->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(server_->isAcceptable());
    connect(server_, &ServerSection::acceptableChanged, ok, &QPushButton::setEnabled);
    column->addWidget(buttons);
    resize(560, sizeHint().height());
}

}  // namespace parlote
