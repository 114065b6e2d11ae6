#pragma once

#include "importers.h"

#include <QHash>
#include <QWizard>

class AppState;
class QLabel;
class QProgressBar;
class QRadioButton;

// The import wizard: format, file, the import itself (run in the GUI thread while the page
// keeps painting), and a summary. Modeless; deletes itself when closed.
class ImportDialog final : public QWizard
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ImportDialog)

public:
    enum PageId { FormatPage = 0, FilePage = 1, ImportingPage = 2, SummaryPage = 3 };

    explicit ImportDialog(AppState *appState, QWidget *parent = nullptr);

    ImportFormat format() const;
    QString filePath() const { return m_filePath; }
    void setFilePath(const QString &path);
    // "Joplin Export (*.jex);;All Files (*)" or the NoteStation one, for the chosen format.
    QString fileFilter() const;
    // Replaces the importer of a format (by default the program's own, see importerFor).
    void setImporter(ImportFormat format, Importer importer);

    QString summaryText() const;
    QString statusText() const;
    bool isImportFinished() const { return m_finished; }

    static QString summaryFor(const ImportResult &result);

signals:
    void importFinished(const ImportResult &result);

private:
    void browse();
    void runImport();
    void finishImport(const ImportResult &result);

    AppState *m_appState; // not owned
    QRadioButton *m_joplinButton = nullptr;
    QRadioButton *m_noteStationButton = nullptr;
    QLabel *m_fileLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_summaryLabel = nullptr;
    QString m_filePath;
    QHash<int, Importer> m_importers;
    bool m_started = false;
    bool m_finished = false;
};
