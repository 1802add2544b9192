#include "ModelManagerView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <utility>

#include "DisplayName.h"
#include "ModelAddPane.h"
#include "ModelDetailsPane.h"
#include "ModelPaneParts.h"
#include "ViewFonts.h"

namespace parlote {

const QString ModelManagerView::addEntry = QStringLiteral("+");

namespace {

constexpr int idRole = Qt::UserRole + 1;
constexpr int confirmationNameWidth = 360;  // pixels a name may take in a confirmation

const char* const libraryAddress = "https://ollama.com/library";

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
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(std::chrono::seconds(30));
    connect(refreshTimer_, &QTimer::timeout, this, [this] {
        updatePane();  // "unloads in N min" as of now
        emit statusRefreshRequested();
    });
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
    list_->setAccessibleDescription(
        tr("The installed models; the last entry adds a model. Select one to see it"));

    auto* right = new QWidget(splitter_);
    right->setMinimumSize(400, 400);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    stack_ = new QStackedWidget(right);
    helpPane_ = buildHelpPane();
    addPane_ = new ModelAddPane(stack_);
    detailsPane_ = new ModelDetailsPane(stack_);
    stack_->addWidget(helpPane_);
    stack_->addWidget(addPane_);
    stack_->addWidget(detailsPane_);
    rightLayout->addWidget(stack_, 1);

    auto* buttonRow = new QHBoxLayout;
    const int margin = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    buttonRow->setContentsMargins(margin, margin, margin, margin);
    buttonRow->addStretch(1);
    doneButton_ = new QPushButton(tr("Done"), right);
    doneButton_->setAccessibleDescription(tr("Closes the model manager"));
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
    connect(addPane_->addButton(), &QPushButton::clicked, this, [this] { addClicked(); });
    connect(addPane_, &ModelAddPane::cancelRequested, this,
            &ModelManagerView::cancelInstallRequested);
    connect(detailsPane_->deleteButton(), &QPushButton::clicked, this, [this] { askDelete(); });
    connect(detailsPane_->unloadButton(), &QPushButton::clicked, this, [this] {
        if (const ChatModel* model = selectedModel()) emit unloadModelRequested(model->id);
    });
    for (QLabel* anchor : {helpLink_, addPane_->browseLink()}) {
        connect(anchor, &QLabel::linkActivated, this,
                [this](const QString& target) { openLink(target); });
        updateLink(anchor);
    }

    rebuildList();
    updateInstallState();
    updatePane();
}

ModelManagerView::~ModelManagerView() = default;

QString ModelManagerView::formatSize(std::uint64_t size, const QLocale& locale) {
    const qint64 bytes = size > std::uint64_t(std::numeric_limits<qint64>::max())
                             ? std::numeric_limits<qint64>::max()
                             : qint64(size);
    return locale.formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

float ModelManagerView::progressFraction(qint64 progress, qint64 complete) {
    if (complete == 0) return 0.0f;
    return static_cast<float>(progress) / static_cast<float>(complete);
}

QUrl ModelManagerView::libraryUrl() {
    return QUrl(QString::fromLatin1(libraryAddress));
}

// --- Building -------------------------------------------------------------------------

QWidget* ModelManagerView::buildHelpPane() {
    using namespace views_detail;
    auto* pane = new QWidget(stack_);
    QVBoxLayout* layout = paneLayout(pane);
    layout->addWidget(titleLabel(tr("Manage Models"), pane));
    layout->addWidget(bodyLabel(tr("This panel displays all models currently installed with Ollama "
                                   "on your system. You can:"),
                                pane));
    layout->addWidget(bodyLabel(
        tr("• View details for each installed model including size, family, parameters, what "
           "it can do and whether it is loaded in memory"),
        pane));
    layout->addWidget(bodyLabel(
        tr("• Install new models by selecting 'Add New Model' and entering the model name"), pane));
    layout->addWidget(bodyLabel(tr("• Remove models you no longer need"), pane));
    layout->addWidget(browseLine(pane, &helpLink_));
    layout->addWidget(nameHintLabel(pane));
    layout->addStretch(1);
    return pane;
}

// --- State ----------------------------------------------------------------------------

QLabel* ModelManagerView::browseLink(Pane pane) const {
    switch (pane) {
        case Pane::Help:
            return helpLink_;
        case Pane::Add:
            return addPane_->browseLink();
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
        for (QLabel* anchor : {helpLink_, addPane_->browseLink()})
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

void ModelManagerView::setModelStates(const QHash<QString, ModelState>& states, bool runningKnown) {
    if (states == states_ && runningKnown == runningKnown_) return;
    states_ = states;
    runningKnown_ = runningKnown;
    updatePane();
}

void ModelManagerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshTimer_->start();
    emit statusRefreshRequested();
}

void ModelManagerView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    refreshTimer_->stop();
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
    add->setData(Qt::AccessibleTextRole, tr("Add New Model"));
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
        case Pane::Details:
            detailsPane_->showModel(*selectedModel());
            detailsPane_->showState(states_.value(selectedModel()->id), runningKnown_,
                                    QDateTime::currentDateTimeUtc());
            stack_->setCurrentWidget(detailsPane_);
            break;
    }
}

void ModelManagerView::setInstallState(const ModelInstallState& state) {
    installState_ = state;
    updateInstallState();
}

void ModelManagerView::followInstallation(ZoruveVede* model) {
    if (followed_) disconnect(followed_, nullptr, this, nullptr);
    followed_ = model;
    if (!model) return;
    auto show = [this] {
        if (followed_) setInstallState(ModelInstallState::of(*followed_));
    };
    for (auto signal : {&ZoruveVede::isInstallingChanged, &ZoruveVede::installationStatusChanged,
                        &ZoruveVede::downloadBytesChanged, &ZoruveVede::installOutcomeChanged})
        connect(model, signal, this, show);
    connect(this, &ModelManagerView::cancelInstallRequested, model, &ZoruveVede::cancelModelInstall,
            Qt::UniqueConnection);
    show();
}

void ModelManagerView::updateInstallState() {
    addPane_->showInstallState(installState_);
}

void ModelManagerView::addClicked() {
    // The name stays in the field: if the download fails, it can be corrected.
    if (isInstalling()) return;
    emit addModelRequested(addPane_->nameField()->text());
}

void ModelManagerView::reset() {
    pendingDelete_.reset();  // closing the confirmation now removes nothing
    if (confirmation_) confirmation_->close();
    addPane_->nameField()->clear();
    addPane_->forgetOutcome();
    setSelection(std::nullopt);
}

// --- Parts ----------------------------------------------------------------------------

QLineEdit* ModelManagerView::nameField() const {
    return addPane_->nameField();
}
QPushButton* ModelManagerView::addButton() const {
    return addPane_->addButton();
}
QPushButton* ModelManagerView::deleteButton() const {
    return detailsPane_->deleteButton();
}
QPushButton* ModelManagerView::unloadButton() const {
    return detailsPane_->unloadButton();
}
const QList<QLabel*>& ModelManagerView::stateLabels() const {
    return detailsPane_->stateLabels();
}
const QList<QLabel*>& ModelManagerView::stateValues() const {
    return detailsPane_->stateValues();
}
QWidget* ModelManagerView::progressBox() const {
    return addPane_->progressBox();
}
QLabel* ModelManagerView::statusLabel() const {
    return addPane_->statusLabel();
}
QProgressBar* ModelManagerView::progressBar() const {
    return addPane_->progressBar();
}
const QList<QLabel*>& ModelManagerView::detailLabels() const {
    return detailsPane_->labels();
}
const QList<QLabel*>& ModelManagerView::detailValues() const {
    return detailsPane_->values();
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

void ModelManagerView::showAlert(const QString& title, const QString& message,
                                 ZoruveVede::AlertKind kind) {
    // Good news (a model installed) is not shown as a warning.
    const QMessageBox::Icon icon = kind == ZoruveVede::AlertKind::Information
                                       ? QMessageBox::Information
                                       : QMessageBox::Warning;
    // The texts may quote a model's name: shown so that it cannot pass for another.
    if (alert_) {
        alert_->setIcon(icon);
        alert_->setWindowTitle(views::displayMessage(title));
        alert_->setText(views::displayMessage(message));
        return;
    }
    auto* box = new QMessageBox(this);
    box->setIcon(icon);
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
