#include "ModelDetailsPane.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "DisplayName.h"
#include "ModelManagerView.h"
#include "ModelPaneParts.h"
#include "ModelStateText.h"
#include "ViewFonts.h"

namespace parlote {

namespace {

constexpr int detailSpacing = 12;

// A value of the details pane: the text as a name is shown (views::displayName) on one
// line, cut in the middle with an ellipsis when the column is too narrow (digests are
// long); the whole text is in the tool tip.
class ValueLabel : public QLabel {
public:
    explicit ValueLabel(QWidget* parent) : QLabel(parent) {
        setTextFormat(Qt::PlainText);
        setFont(views::captionFont(font()));
        setForegroundRole(QPalette::PlaceholderText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    void setValue(const QString& value) {
        value_ = value;
        const QString shown = views::displayName(value);
        setText(shown);
        setToolTip(views::plainToolTip(shown));
        setAccessibleName(shown);
    }

    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = views::displayName(value_, fontMetrics(), area.width());
        style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(),
                              isEnabled(), shown, foregroundRole());
    }

private:
    QString value_;
};

}  // namespace

ModelDetailsPane::ModelDetailsPane(QWidget* parent) : QWidget(parent) {
    QVBoxLayout* layout = views_detail::paneLayout(this);

    auto* heading = new QHBoxLayout;
    heading->addWidget(views_detail::titleLabel(tr("Model Details"), this));
    heading->addStretch(1);
    deleteButton_ = new QPushButton(tr("Delete Model"), this);
    deleteButton_->setAccessibleDescription(tr("Removes the model from Ollama, after asking"));
    heading->addWidget(deleteButton_);
    layout->addLayout(heading);

    auto* rows = new QVBoxLayout;
    rows->setSpacing(detailSpacing);
    const QStringList labels{tr("Name:"),   tr("Digest:"),     tr("Size:"),        tr("Family:"),
                             tr("Format:"), tr("Parameters:"), tr("Quantization:")};
    for (const QString& text : labels) addRow(rows, text, labels_, values_);
    unloadButton_ = new QPushButton(tr("Unload"), this);
    unloadButton_->setAccessibleDescription(
        tr("Frees the memory the model takes now; it is loaded again when it next answers"));
    addRow(rows, tr("Capabilities:"), stateLabels_, stateValues_);
    addRow(rows, tr("Context:"), stateLabels_, stateValues_);
    addRow(rows, tr("In memory:"), stateLabels_, stateValues_, unloadButton_);
    for (int row = 0; row < stateValues_.size(); ++row) setStateRow(row, {});
    unloadButton_->hide();
    layout->addLayout(rows);
    layout->addStretch(1);
}

void ModelDetailsPane::addRow(QVBoxLayout* rows, const QString& text, QList<QLabel*>& labels,
                              QList<QLabel*>& values, QWidget* beside) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    QFont font = views::captionFont(label->font());
    font.setWeight(QFont::Medium);
    label->setFont(font);
    label->setFixedWidth(ModelManagerView::labelWidth);
    auto* value = new ValueLabel(this);
    label->setBuddy(value);
    row->addWidget(label);
    row->addWidget(value, 1);
    if (beside) row->addWidget(beside);
    rows->addLayout(row);
    labels << label;
    values << value;
}

void ModelDetailsPane::setStateRow(int row, const QString& text) {
    auto* value = static_cast<ValueLabel*>(stateValues_[row]);
    value->setValue(text);
    value->setAccessibleName(stateLabels_[row]->text() + QLatin1Char(' ') + value->text());
    stateLabels_[row]->setVisible(!text.isEmpty());
    value->setVisible(!text.isEmpty());
}

void ModelDetailsPane::showState(const ModelState& state, bool runningKnown, const QDateTime& now) {
    setStateRow(0, state.details ? views::capabilityList(*state.details) : QString());
    setStateRow(1, state.details ? views::fullContext(state.details->contextLength) : QString());
    QString memory;
    if (state.loading)
        memory = tr("Loading\u2026");
    else if (state.running)
        memory = views::memoryLine(*state.running, now);
    else if (runningKnown)
        memory = tr("Not loaded");
    setStateRow(2, memory);
    unloadButton_->setVisible(state.running.has_value() && !state.loading);
}

void ModelDetailsPane::showModel(const ChatModel& m) {
    const QStringList values{m.model,     m.digest, ModelManagerView::formatSize(m.size),
                             m.family,    m.format, m.paramSize,
                             m.quantLevel};
    for (int i = 0; i < values.size(); ++i) {
        auto* value = static_cast<ValueLabel*>(values_[i]);
        value->setValue(values[i]);
        // Read with its row's label: "Size: 1.9 GB", not a bare number.
        value->setAccessibleName(labels_[i]->text() + QLatin1Char(' ') + value->text());
    }
}

}  // namespace parlote
