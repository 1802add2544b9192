#pragma once

// The File menu's commands that take conversations out of Parlote and bring them in:
// "Export Conversation…" (the open one, as Markdown, JSON or PDF, chosen by the save
// dialog's file type), "Export All Conversations…" (one file per conversation in a
// folder, named from its title, never over an existing file) and "Import
// Conversations…" (JSON exports and data-folder conversation files; a report says what
// came in and why any file did not).
//
// Files are read and written on background tasks; a PDF is laid out on the interface
// thread, one conversation per step. Exporting everything shows a progress dialog that
// can cancel it. Interface thread.

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

#include "ChatRecords.h"
#include "ExportNames.h"

class QAction;
class QMessageBox;
class QWidget;

namespace parlote {

class MainView;

/// What an import did, for its report.
struct ImportReport {
    int imported = 0;
    /// Each file (or conversation) not imported: its name and why.
    QList<std::pair<QString, QString>> skipped;
};

/// What exporting every conversation did.
struct ExportAllReport {
    int written = 0;
    bool cancelled = false;
    /// Each conversation not written: its title and why.
    QList<std::pair<QString, QString>> failed;
};

class ExchangeCommands : public QObject {
    Q_OBJECT
public:
    /// Commands over `view`'s conversations; dialogs open over `window`.
    ExchangeCommands(MainView* view, QWidget* window);
    ~ExchangeCommands() override;

    QAction* exportAction() const { return export_; }
    QAction* exportAllAction() const { return exportAll_; }
    QAction* importAction() const { return import_; }

    /// Writes conversation `id` to `path` (replacing it) in `format`; `done` gets the
    /// error, empty on success. Without `done`, an error is shown in a message box.
    void exportConversation(const SidebarID& id, const QString& path, ExportFormat format,
                            std::function<void(const QString& error)> done = {});
    /// Writes every conversation of the list into `folder`, with a progress dialog; `done`
    /// gets what was written. Without `done`, a message box says it.
    void exportAll(const QString& folder, ExportFormat format,
                   std::function<void(const ExportAllReport&)> done = {});
    /// Imports the files at `paths`; `done` gets the report. Without `done`, the report
    /// is shown (showImportReport).
    void importFiles(const QStringList& paths, std::function<void(const ImportReport&)> done = {});

    /// The report's text: how many came in, then one line per file skipped.
    static QString importReportText(const ImportReport& report);
    /// Shows the report in a window-modal message box over the window.
    void showImportReport(const ImportReport& report);
    /// The report box while it is open (tests and screenshots).
    QMessageBox* importReportBox() const;

private:
    void chooseExportFile();
    void chooseExportFolder();
    void chooseImportFiles();
    void updateActions();
    QString titleOf(const SidebarID& id) const;
    void showMessage(const QString& title, const QString& text, bool warning);

    MainView* view_;
    QWidget* window_;
    QAction* export_ = nullptr;
    QAction* exportAll_ = nullptr;
    QAction* import_ = nullptr;
    QPointer<QMessageBox> reportBox_;
    // Held only here: background steps keep a weak reference and do nothing once it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace parlote
