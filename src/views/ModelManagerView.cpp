#include "ModelManagerView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <utility>

#include "DisplayName.h"
#include "ViewFonts.h"

namespace parlote {

const QString ModelManagerView::addEntry = QStringLiteral("+");

namespace {

constexpr int paneSpacing = 16;
constexpr int detailSpacing = 12;
constexpr int progressSpacing = 8;
constexpr int progressSteps = 10000;  // resolution of the bar's 0 to 1.0
constexpr int idRole = Qt::UserRole + 1;
constexpr int confirmationNameWidth = 360;  // pixels a name may take in a confirmation

const char* const libraryAddress = "https://ollama.com/library";

QString nameHint() {
    return QObject::tr(
        "Model names should match exactly as shown on the Ollama library "
        "(e.g., 'llama3.2', 'gemma2:9b', 'codellama:7b').");
}

// The pane titles: larger than a headline, semibold.
QFont titleFont(const QFont& base) {
    return views::titleFont(base, 1.45);
}

QLabel* bodyLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QLabel* titleLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(titleFont(label->font()));
    label->setAccessibleName(text);
    return label;
}

QVBoxLayout* paneLayout(QWidget* pane) {
    auto* layout = new QVBoxLayout(pane);
    layout->setSpacing(paneSpacing);
    return layout;
}

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

// The progress box's background: the secondary colour at opacity 0.1 (from the present
// palette, so that a change of theme follows).
class ProgressBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QColor tint = palette().color(QPalette::PlaceholderText);
        tint.setAlphaF(0.1f);
        QPainter painter(this);
        painter.fillRect(rect(), tint);
    }
};

}  // namespace

ModelManagerView::ModelManagerView(QWidget* parent)
    : QWidget(parent),
      urlOpener_(desktopLinkOpener()),
      splitter_(new QSplitter(Qt::Horizontal, this)),
      list_(new QListWidget(splitter_)),
      stack_(nullptr),
      helpPane_(nullptr),
      addPane_(nullptr),
      detailsPane_(nullptr) {
    splitter_->setMinimumSize(600, 400);
    splitter_->setChildrenCollapsible(false);

    list_->setMinimumSize(200, 400);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setUniformItemSizes(true);
    list_->setWordWrap(false);
    list_->setTextElideMode(Qt::ElideMiddle);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setFont(views::headlineFont(list_->font()));
    list_->setAccessibleName(tr("Models"));

    auto* right = new QWidget(splitter_);
    right->setMinimumSize(400, 400);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    stack_ = new QStackedWidget(right);
    helpPane_ = buildHelpPane();
    addPane_ = buildAddPane();
    detailsPane_ = buildDetailsPane();
    stack_->addWidget(helpPane_);
    stack_->addWidget(addPane_);
    stack_->addWidget(detailsPane_);
    rightLayout->addWidget(stack_, 1);

    auto* buttonRow = new QHBoxLayout;
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    buttonRow->setContentsMargins(margin, margin, margin, margin);
    buttonRow->addStretch(1);
    doneButton_ = new QPushButton(tr("Done"), right);
    buttonRow->addWidget(doneButton_);
    rightLayout->addLayout(buttonRow);

    splitter_->addWidget(list_);
    splitter_->addWidget(right);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({220, 480});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter_);

    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { listSelectionChanged(); });
    connect(doneButton_, &QPushButton::clicked, this, &ModelManagerView::dismissRequested);

    rebuildList();
    updateInstallState();
    updatePane();
}

ModelManagerView::~ModelManagerView() = default;

QString ModelManagerView::formatSize(std::uint64_t size) {
    constexpr std::uint64_t kib = 1024;
    constexpr std::uint64_t mib = kib * 1024;
    constexpr std::uint64_t gib = mib * 1024;
    if (size < kib) return QString::number(size) + QStringLiteral(" bytes");
    if (size < mib) return QString::number(size / kib) + QStringLiteral(" kb");
    if (size < gib) return QString::number(size / mib) + QStringLiteral(" mb");
    return QString::number(size / gib) + QStringLiteral(" gb");
}

float ModelManagerView::progressFraction(qint64 progress, qint64 complete) {
    if (complete == 0) return 0.0f;
    return static_cast<float>(progress) / static_cast<float>(complete);
}

QUrl ModelManagerView::libraryUrl() {
    return QUrl(QString::fromLatin1(libraryAddress));
}

// --- Building -------------------------------------------------------------------------

QWidget* ModelManagerView::buildBrowseLine(QWidget* parent, QLabel** link) {
    auto* line = new QWidget(parent);
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    auto* text = new QLabel(tr("Browse available models at"), line);
    text->setTextFormat(Qt::PlainText);
    const QUrl url = libraryUrl();
    const QString label = url.toString(QUrl::RemoveScheme).mid(2);  // without "//"
    auto* anchor = new QLabel(line);
    anchor->setTextFormat(Qt::RichText);
    anchor->setOpenExternalLinks(false);
    anchor->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    anchor->setToolTip(url.toString());
    anchor->setAccessibleName(label);
    connect(anchor, &QLabel::linkActivated, this,
            [this](const QString& target) { openLink(target); });
    row->addWidget(text);
    row->addWidget(anchor);
    row->addStretch(1);
    *link = anchor;
    updateLink(anchor);
    return line;
}

QLabel* ModelManagerView::makeCaptionHint(QWidget* parent) {
    QLabel* hint = bodyLabel(nameHint(), parent);
    hint->setFont(views::captionFont(hint->font()));
    hint->setForegroundRole(QPalette::PlaceholderText);
    return hint;
}

QWidget* ModelManagerView::buildHelpPane() {
    auto* pane = new QWidget(stack_);
    QVBoxLayout* layout = paneLayout(pane);
    layout->addWidget(titleLabel(tr("Manage Models"), pane));
    layout->addWidget(bodyLabel(tr("This panel displays all models currently installed with Ollama "
                                   "on your system. You can:"),
                                pane));
    layout->addWidget(bodyLabel(
        tr("• View details for each installed model including size, family, and parameters"),
        pane));
    layout->addWidget(bodyLabel(
        tr("• Install new models by selecting 'Add New Model' and entering the model name"), pane));
    layout->addWidget(bodyLabel(tr("• Remove models you no longer need"), pane));
    layout->addWidget(buildBrowseLine(pane, &helpLink_));
    layout->addWidget(makeCaptionHint(pane));
    layout->addStretch(1);
    return pane;
}

QWidget* ModelManagerView::buildAddPane() {
    auto* pane = new QWidget(stack_);
    QVBoxLayout* layout = paneLayout(pane);
    layout->addWidget(titleLabel(tr("Add Model"), pane));
    layout->addWidget(
        bodyLabel(tr("Enter the name of the model you would like to install."), pane));
    layout->addWidget(buildBrowseLine(pane, &addLink_));
    layout->addWidget(makeCaptionHint(pane));

    auto* form = new QHBoxLayout;
    nameField_ = new QLineEdit(pane);
    nameField_->setPlaceholderText(tr("Enter model name"));
    nameField_->setAccessibleName(tr("Model name"));
    addButton_ = new QPushButton(tr("Add Model"), pane);
    form->addWidget(nameField_, 1);
    form->addSpacing(paneSpacing / 2);
    form->addWidget(addButton_);
    layout->addLayout(form);
    layout->addStretch(1);

    progressBox_ = new ProgressBox(pane);
    auto* box = new QVBoxLayout(progressBox_);
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    box->setContentsMargins(margin, progressSpacing, margin, progressSpacing);
    box->setSpacing(progressSpacing);
    statusLabel_ = new QLabel(progressBox_);
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setFont(views::captionFont(statusLabel_->font()));
    statusLabel_->setAlignment(Qt::AlignHCenter);
    statusLabel_->setWordWrap(true);
    progressBar_ = new QProgressBar(progressBox_);
    progressBar_->setRange(0, progressSteps);
    progressBar_->setTextVisible(false);
    progressBar_->setAccessibleName(tr("Installation progress"));
    box->addWidget(statusLabel_);
    box->addWidget(progressBar_);
    layout->addWidget(progressBox_);

    connect(addButton_, &QPushButton::clicked, this, [this] { addClicked(); });
    return pane;
}

QWidget* ModelManagerView::buildDetailsPane() {
    auto* pane = new QWidget(stack_);
    QVBoxLayout* layout = paneLayout(pane);

    auto* heading = new QHBoxLayout;
    heading->addWidget(titleLabel(tr("Model Details"), pane));
    heading->addStretch(1);
    deleteButton_ = new QPushButton(tr("Delete Model"), pane);
    heading->addWidget(deleteButton_);
    layout->addLayout(heading);

    auto* rows = new QVBoxLayout;
    rows->setSpacing(detailSpacing);
    const QStringList labels{tr("Name:"),  tr("Digest:"),    tr("Size:"),       tr("Family"),
                             tr("Format"), tr("Parameters"), tr("Quantization")};
    for (const QString& text : labels) {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(text, pane);
        label->setTextFormat(Qt::PlainText);
        QFont font = views::captionFont(label->font());
        font.setWeight(QFont::Medium);
        label->setFont(font);
        label->setFixedWidth(labelWidth);
        auto* value = new ValueLabel(pane);
        label->setBuddy(value);
        row->addWidget(label);
        row->addWidget(value, 1);
        rows->addLayout(row);
        detailLabels_ << label;
        detailValues_ << value;
    }
    layout->addLayout(rows);
    layout->addStretch(1);

    connect(deleteButton_, &QPushButton::clicked, this, [this] { askDelete(); });
    return pane;
}

// --- State ----------------------------------------------------------------------------

QLabel* ModelManagerView::browseLink(Pane pane) const {
    switch (pane) {
        case Pane::Help:
            return helpLink_;
        case Pane::Add:
            return addLink_;
        case Pane::Details:
            break;
    }
    return nullptr;
}

// The link in the palette's link colour: rich text takes its colour when it is set, and
// from the application's palette, so it is set again whenever the panel's palette changes.
void ModelManagerView::updateLink(QLabel* anchor) {
    const QUrl url = libraryUrl();
    const QString label = url.toString(QUrl::RemoveScheme).mid(2);  // without "//"
    anchor->setText(QStringLiteral("<a href=\"%1\" style=\"color: %2\">%3</a>")
                        .arg(url.toString(QUrl::FullyEncoded),
                             palette().color(QPalette::Link).name(), label.toHtmlEscaped()));
}

void ModelManagerView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        for (QLabel* anchor : {helpLink_, addLink_})
            if (anchor) updateLink(anchor);
    }
}

void ModelManagerView::setUrlOpener(LinkOpener opener) {
    urlOpener_ = std::move(opener);
}

void ModelManagerView::openLink(const QString& link) {
    if (urlOpener_) urlOpener_(QUrl(link));
}

const ChatModel* ModelManagerView::selectedModel() const {
    if (!selection_ || *selection_ == addEntry) return nullptr;
    const auto it = std::find_if(models_.cbegin(), models_.cend(),
                                 [this](const ChatModel& m) { return m.id == *selection_; });
    return it == models_.cend() ? nullptr : &*it;
}

ModelManagerView::Pane ModelManagerView::currentPane() const {
    if (selection_ == addEntry) return Pane::Add;
    return selectedModel() ? Pane::Details : Pane::Help;
}

void ModelManagerView::setModels(const QList<ChatModel>& models) {
    if (models == models_) return;
    models_ = models;
    rebuildList();
    updatePane();
}

void ModelManagerView::rebuildList() {
    const int scroll = list_->verticalScrollBar()->value();
    syncing_ = true;
    list_->clear();
    const QSize rowSize(0, rowHeight);
    for (const ChatModel& m : models_) {
        const QString shown = views::displayName(m.model);
        auto* item = new QListWidgetItem(shown, list_);
        item->setData(idRole, m.id);
        item->setSizeHint(rowSize);
        item->setToolTip(views::plainToolTip(shown));
    }
    auto* add = new QListWidgetItem(tr("+ Add New Model"), list_);
    add->setData(idRole, addEntry);
    add->setSizeHint(rowSize);
    syncing_ = false;
    showSelection();
    list_->verticalScrollBar()->setValue(scroll);
}

void ModelManagerView::showSelection() {
    syncing_ = true;
    int row = -1;
    if (selection_ == addEntry) {
        row = list_->count() - 1;
    } else if (selection_) {
        for (int i = 0; i < models_.size(); ++i)
            if (models_[i].id == *selection_) {
                row = i;
                break;
            }
    }
    if (row >= 0)
        list_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    else
        list_->selectionModel()->clearSelection();
    syncing_ = false;
}

void ModelManagerView::listSelectionChanged() {
    if (syncing_) return;
    const QList<QListWidgetItem*> items = list_->selectedItems();
    selection_.reset();
    if (!items.isEmpty()) selection_ = items.first()->data(idRole).toString();
    updatePane();
}

void ModelManagerView::setSelection(const std::optional<QString>& selection) {
    selection_ = selection;
    showSelection();
    updatePane();
}

void ModelManagerView::updatePane() {
    switch (currentPane()) {
        case Pane::Help:
            stack_->setCurrentWidget(helpPane_);
            break;
        case Pane::Add:
            stack_->setCurrentWidget(addPane_);
            break;
        case Pane::Details: {
            const ChatModel& m = *selectedModel();
            const QStringList values{m.model,  m.digest,    formatSize(m.size), m.family,
                                     m.format, m.paramSize, m.quantLevel};
            for (int i = 0; i < values.size(); ++i)
                static_cast<ValueLabel*>(detailValues_[i])->setValue(values[i]);
            stack_->setCurrentWidget(detailsPane_);
            break;
        }
    }
}

void ModelManagerView::setInstallState(bool isInstalling, const QString& status, qint64 progress,
                                       qint64 complete) {
    installing_ = isInstalling;
    status_ = status;
    progress_ = progress;
    complete_ = complete;
    updateInstallState();
}

void ModelManagerView::updateInstallState() {
    nameField_->setEnabled(!installing_);
    addButton_->setEnabled(!installing_);
    progressBox_->setVisible(installing_);
    statusLabel_->setText(status_);
    const float fraction = std::clamp(progressFraction(progress_, complete_), 0.0f, 1.0f);
    // A fraction that is not a number (never expected) draws as an empty bar.
    progressBar_->setValue(std::isnan(fraction) ? 0 : qRound(fraction * progressSteps));
}

void ModelManagerView::addClicked() {
    const QString name = nameField_->text();
    emit addModelRequested(name);
    nameField_->clear();
}

void ModelManagerView::reset() {
    pendingDelete_.reset();  // closing the confirmation now removes nothing
    if (confirmation_) confirmation_->close();
    nameField_->clear();
    setSelection(std::nullopt);
}

// --- Alerts ---------------------------------------------------------------------------

QMessageBox* ModelManagerView::deleteConfirmation() const {
    return confirmation_;
}

QMessageBox* ModelManagerView::alert() const {
    return alert_;
}

void ModelManagerView::askDelete() {
    const ChatModel* model = selectedModel();
    if (!model || confirmation_) return;
    pendingDelete_ = model->id;

    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Delete Model"));
    box->setTextFormat(Qt::PlainText);
    box->setText(QStringLiteral("Are you sure you want to delete '") +
                 views::displayName(model->id, box->fontMetrics(), confirmationNameWidth) +
                 QStringLiteral("'? This action cannot be undone."));
    QPushButton* cancel = box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    QPushButton* remove = box->addButton(tr("Delete"), QMessageBox::DestructiveRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QDialog::finished, this, [this, box, remove] {
        confirmation_ = nullptr;
        const std::optional<QString> id = std::exchange(pendingDelete_, std::nullopt);
        if (box->clickedButton() == remove && id) {
            emit deleteModelRequested(*id);
            setSelection(std::nullopt);
        }
    });
    confirmation_ = box;
    box->open();  // window-modal over the panel's window
}

void ModelManagerView::showAlert(const QString& title, const QString& message) {
    // The texts may quote a model's name: shown so that it cannot pass for another.
    if (alert_) {
        alert_->setWindowTitle(views::displayMessage(title));
        alert_->setText(views::displayMessage(message));
        return;
    }
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(views::displayMessage(title));
    box->setTextFormat(Qt::PlainText);
    box->setText(views::displayMessage(message));
    QPushButton* ok = box->addButton(tr("OK"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    connect(box, &QDialog::finished, this, [this] {
        alert_ = nullptr;
        emit alertClosed();
    });
    alert_ = box;
    box->open();
}

void ModelManagerView::closeAlert() {
    if (alert_) alert_->close();
}

}  // namespace parlote
