#include "ExchangeCommands.h"

#include <QAction>
#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStandardPaths>
#include <QWidget>
#include <atomic>

#include "ChatStore.h"
#include "ConversationExport.h"
#include "ConversationImport.h"
#include "ImageStore.h"
#include "InterfaceThread.h"
#include "MainView.h"
#include "PdfExport.h"
#include "ShortcutsWindow.h"
#include "TaskRunner.h"
#include "ZoruveVede.h"

namespace parlote {

namespace {

const QString kFilters = QStringLiteral("Markdown (*.md);;JSON (*.json);;PDF (*.pdf)");

/// A conversation read from its file for exporting, or why it could not be.
struct ExportRead {
    TitledConversation conversation;
    QString error;
};

ExportRead readForExport(const ChatStore& store, const QUuid& id, const QString& title) {
    TranscriptRead read = store.readConversationFile(id);
    if (!read.problem.isEmpty())
        return {{}, QStringLiteral("its file could not be read (%1)").arg(read.problem)};
    return {{id, title, {std::move(read.messages), std::move(read.variants), read.settings}}, {}};
}

/// The Markdown or JSON form (a PDF is laid out on the interface thread: pdfBytes).
QByteArray textBytes(const TitledConversation& conversation, ExportFormat format) {
    if (format == ExportFormat::json) return conversationToJsonFile(conversation);
    return conversationToMarkdown(conversation).toUtf8();
}

QByteArray pdfBytes(const TitledConversation& conversation, QString* error) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeConversationPdf(conversation, &buffer, ImageStore::shared(), error)) return {};
    return buffer.data();
}

/// Replaces the file at `path` with `bytes` atomically; the error, empty on success.
QString saveFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    // Every write and the flush are checked: commit() alone misses a failed last flush.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    return file.commit() ? QString() : file.errorString();
}

/// How many skipped files the report lists before "and n more".
constexpr int kListedSkips = 12;

}  // namespace

ExchangeCommands::ExchangeCommands(MainView* view, QWidget* window)
    : QObject(view), view_(view), window_(window) {
    using Group = ShortcutsWindow::Group;
    export_ = new QAction(QIcon::fromTheme(QStringLiteral("document-export")),
                          tr("&Export Conversation…"), this);
    export_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    ShortcutsWindow::setGroup(export_, Group::Application);
    connect(export_, &QAction::triggered, this, &ExchangeCommands::chooseExportFile);

    exportAll_ = new QAction(tr("Export &All Conversations…"), this);
    ShortcutsWindow::setGroup(exportAll_, Group::Application);
    connect(exportAll_, &QAction::triggered, this, &ExchangeCommands::chooseExportFolder);

    import_ = new QAction(QIcon::fromTheme(QStringLiteral("document-import")),
                          tr("&Import Conversations…"), this);
    import_->setShortcut(QKeySequence::Open);
    ShortcutsWindow::setGroup(import_, Group::Application);
    connect(import_, &QAction::triggered, this, &ExchangeCommands::chooseImportFiles);

    ZoruveVede& model = view_->viewModel();
    connect(&model, &ZoruveVede::selectedConversationChanged, this,
            &ExchangeCommands::updateActions);
    connect(&model, &ZoruveVede::conversationsChanged, this, &ExchangeCommands::updateActions);
    updateActions();
}

ExchangeCommands::~ExchangeCommands() = default;

QMessageBox* ExchangeCommands::importReportBox() const {
    return reportBox_;
}

void ExchangeCommands::updateActions() {
    const ZoruveVede& model = view_->viewModel();
    export_->setEnabled(model.selectedConversation().isConversation());
    exportAll_->setEnabled(!model.conversations().isEmpty());
}

QString ExchangeCommands::titleOf(const SidebarID& id) const {
    for (const Conversation& entry : view_->viewModel().conversations())
        if (entry.id() == id) return entry.title();
    return ZoruveVede::newConversationTitle;
}

void ExchangeCommands::showMessage(const QString& title, const QString& text, bool warning) {
    auto* box = new QMessageBox(warning ? QMessageBox::Warning : QMessageBox::Information, title,
                                text, QMessageBox::Ok, window_);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

// Export of the open conversation.

void ExchangeCommands::chooseExportFile() {
    const SidebarID id = view_->viewModel().selectedConversation();
    if (!id.isConversation()) return;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested =
        QDir(folder).filePath(safeFileTitle(titleOf(id)) + QStringLiteral(".md"));
    QString filter;
    QString path = QFileDialog::getSaveFileName(window_, tr("Export Conversation"), suggested,
                                                kFilters, &filter);
    if (path.isEmpty()) return;
    std::optional<ExportFormat> format = exportFormatOfName(path);
    if (!format) {
        // No known suffix: the chosen file type's is added.
        format = filter.startsWith(QStringLiteral("JSON"))  ? ExportFormat::json
                 : filter.startsWith(QStringLiteral("PDF")) ? ExportFormat::pdf
                                                            : ExportFormat::markdown;
        path += QLatin1Char('.') + exportSuffix(*format);
    }
    exportConversation(id, path, *format);
}

void ExchangeCommands::exportConversation(const SidebarID& id, const QString& path,
                                          ExportFormat format,
                                          std::function<void(const QString&)> done) {
    if (!done) {
        done = [this](const QString& error) {
            if (!error.isEmpty())
                showMessage(tr("Export Failed"),
                            tr("The conversation could not be exported: %1").arg(error), true);
        };
    }
    const ChatStore* store = &view_->viewModel().store();
    std::weak_ptr<int> alive = alive_;
    TaskRunner::shared().start([store, alive, id, title = titleOf(id), path, format, done] {
        ExportRead read = readForExport(*store, id.uuid(), title);
        if (!read.error.isEmpty() || format != ExportFormat::pdf) {
            const QString error = read.error.isEmpty()
                                      ? saveFile(path, textBytes(read.conversation, format))
                                      : read.error;
            InterfaceThread::post(alive, [done, error] { done(error); });
            return;
        }
        InterfaceThread::post(alive, [alive, path, done, read = std::move(read)] {
            QString error;
            QByteArray bytes = pdfBytes(read.conversation, &error);
            if (!error.isEmpty()) return done(error);
            TaskRunner::shared().start([alive, path, done, bytes = std::move(bytes)] {
                const QString error = saveFile(path, bytes);
                InterfaceThread::post(alive, [done, error] { done(error); });
            });
        });
    });
}

// Export of every conversation, one step per conversation.

namespace {

struct ExportAllJob {
    QList<Conversation> entries;
    QString folder;
    ExportFormat format;
    qsizetype next = 0;
    ExportAllReport report;
    QPointer<QProgressDialog> progress;
    std::function<void(const ExportAllReport&)> done;
};

}  // namespace

void ExchangeCommands::chooseExportFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        window_, tr("Export All Conversations To"),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    if (folder.isEmpty()) return;
    const QStringList formats{tr("Markdown (.md)"), tr("JSON (.json)"), tr("PDF (.pdf)")};
    bool chosen = false;
    const QString format = QInputDialog::getItem(window_, tr("Export All Conversations"),
                                                 tr("Format:"), formats, 0, false, &chosen);
    if (!chosen) return;
    const qsizetype index = formats.indexOf(format);
    exportAll(folder, index == 1   ? ExportFormat::json
                      : index == 2 ? ExportFormat::pdf
                                   : ExportFormat::markdown);
}

void ExchangeCommands::exportAll(const QString& folder, ExportFormat format,
                                 std::function<void(const ExportAllReport&)> done) {
    auto job = std::make_shared<ExportAllJob>();
    job->entries = view_->viewModel().conversations();
    job->folder = folder;
    job->format = format;
    job->done = done ? std::move(done) : [this, folder](const ExportAllReport& report) {
        if (report.cancelled && report.failed.isEmpty()) return;
        const QString where = QDir::toNativeSeparators(folder);
        QString text = report.written == 1
                           ? tr("1 conversation exported to %1.").arg(where)
                           : tr("%1 conversations exported to %2.").arg(report.written).arg(where);
        for (const auto& [title, why] : report.failed)
            text += QStringLiteral("\n\u2022 ") + tr("%1: %2").arg(title, why);
        showMessage(tr("Export Finished"), text, !report.failed.isEmpty());
    };
    auto* progress = new QProgressDialog(tr("Exporting conversations…"), tr("Cancel"), 0,
                                         int(job->entries.size()), window_);
    progress->setWindowTitle(tr("Export All Conversations"));
    progress->setAccessibleName(tr("Export progress"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(500);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setValue(0);
    job->progress = progress;

    const ChatStore* store = &view_->viewModel().store();
    std::weak_ptr<int> alive = alive_;
    // One conversation per step: read and written on a task (a PDF laid out here between).
    auto step = std::make_shared<std::function<void()>>();
    *step = [job, store, alive, weakStep = std::weak_ptr<std::function<void()>>(step)] {
        auto self = weakStep.lock();
        const bool cancelled = !job->progress || job->progress->wasCanceled();
        if (cancelled || job->next >= job->entries.size()) {
            job->report.cancelled = cancelled && job->next < job->entries.size();
            if (job->progress) job->progress->deleteLater();
            job->done(job->report);
            return;
        }
        job->progress->setValue(int(job->next));
        const Conversation entry = job->entries.at(job->next++);
        auto finish = [job, self, title = entry.title()](const QString& error) {
            if (error.isEmpty())
                ++job->report.written;
            else
                job->report.failed.append({title, error});
            (*self)();
        };
        auto write = [job, alive, finish](QString title, QByteArray bytes) {
            TaskRunner::shared().start([job, alive, finish, title, bytes = std::move(bytes)] {
                QString error;
                writeNewExportFile(job->folder, title, exportSuffix(job->format), bytes, &error);
                InterfaceThread::post(alive, [finish, error] { finish(error); });
            });
        };
        TaskRunner::shared().start([job, store, alive, entry, finish, write] {
            ExportRead read = readForExport(*store, entry.id().uuid(), entry.title());
            if (!read.error.isEmpty()) {
                InterfaceThread::post(alive, [finish, error = read.error] { finish(error); });
                return;
            }
            if (job->format != ExportFormat::pdf) {
                QString error;
                writeNewExportFile(job->folder, entry.title(), exportSuffix(job->format),
                                   textBytes(read.conversation, job->format), &error);
                InterfaceThread::post(alive, [finish, error] { finish(error); });
                return;
            }
            InterfaceThread::post(alive, [finish, write, read = std::move(read)] {
                QString error;
                QByteArray bytes = pdfBytes(read.conversation, &error);
                if (!error.isEmpty()) return finish(error);
                write(read.conversation.title, std::move(bytes));
            });
        });
    };
    // The job keeps its step alive until it ends.
    job->done = [step, inner = std::move(job->done)](const ExportAllReport& report) mutable {
        auto keep = std::move(step);
        inner(report);
    };
    (*step)();
}

// Import.

void ExchangeCommands::chooseImportFiles() {
    const QStringList paths = QFileDialog::getOpenFileNames(
        window_, tr("Import Conversations"),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
        tr("Conversations (*.json);;All files (*)"));
    if (!paths.isEmpty()) importFiles(paths);
}

void ExchangeCommands::importFiles(const QStringList& paths,
                                   std::function<void(const ImportReport&)> done) {
    if (!done) done = [this](const ImportReport& report) { showImportReport(report); };
    std::weak_ptr<int> alive = alive_;
    // Reading many large files takes a while: a progress dialog shows after a moment, and
    // its Cancel stops the import before anything is added.
    auto* progress = new QProgressDialog(tr("Reading conversations…"), tr("Cancel"), 0,
                                         int(paths.size()), window_);
    progress->setWindowTitle(tr("Import Conversations"));
    progress->setAccessibleName(tr("Import progress"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(500);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setValue(0);
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    connect(progress, &QProgressDialog::canceled, this, [cancelled] { *cancelled = true; });
    QPointer<QProgressDialog> shown = progress;
    TaskRunner::shared().start([this, alive, paths, done, cancelled, shown] {
        QList<TitledConversation> conversations;
        ImportReport report;
        for (qsizetype i = 0; i < paths.size() && !*cancelled; ++i) {
            const QString& path = paths.at(i);
            ImportRead read = readImportFile(path);
            if (read.conversation)
                conversations.append(std::move(*read.conversation));
            else
                report.skipped.append({QFileInfo(path).fileName(), read.problem});
            InterfaceThread::post(alive, [shown, i] {
                if (shown) shown->setValue(int(i + 1));
            });
        }
        InterfaceThread::post(
            alive, [this, alive, done, cancelled, shown, report = std::move(report),
                    conversations = std::move(conversations)]() mutable {
                if (shown) shown->deleteLater();
                if (*cancelled) return;
                ZoruveVede& model = view_->viewModel();
                model.importConversations(
                    std::move(conversations),
                    [this, alive, done, report](const ZoruveVede::ImportSaved& saved) mutable {
                        if (alive.expired()) return;
                        report.imported = int(saved.added.size());
                        for (const auto& [title, why] : saved.failed)
                            report.skipped.append({title, tr("could not be saved (%1)").arg(why)});
                        if (!saved.added.isEmpty()) {
                            ZoruveVede& model = view_->viewModel();
                            model.setSelectedConversation(saved.added.first());
                            model.selectConversation(saved.added.first());
                        }
                        done(report);
                    });
            });
    });
}

QString ExchangeCommands::importReportText(const ImportReport& report) {
    QString text = report.imported == 0   ? tr("No conversation was imported.")
                   : report.imported == 1 ? tr("1 conversation imported.")
                                          : tr("%1 conversations imported.").arg(report.imported);
    if (report.skipped.isEmpty()) return text;
    text += QStringLiteral("\n\n") + tr("Skipped:");
    for (qsizetype i = 0; i < report.skipped.size() && i < kListedSkips; ++i)
        text += QStringLiteral("\n\u2022 ") +
                tr("%1: %2").arg(report.skipped.at(i).first, report.skipped.at(i).second);
    if (report.skipped.size() > kListedSkips)
        text += QStringLiteral("\n") + tr("and %1 more").arg(report.skipped.size() - kListedSkips);
    return text;
}

void ExchangeCommands::showImportReport(const ImportReport& report) {
    if (reportBox_) reportBox_->close();
    auto* box =
        new QMessageBox(report.skipped.isEmpty() ? QMessageBox::Information : QMessageBox::Warning,
                        tr("Import Conversations"),
                        report.imported == 0 ? tr("Nothing was imported") : tr("Import finished"),
                        QMessageBox::Ok, window_);
    box->setInformativeText(importReportText(report));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    reportBox_ = box;
    box->open();
}

}  // namespace parlote
