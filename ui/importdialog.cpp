#include "importdialog.h"

#include "appstate.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWizardPage>

namespace {

// The importing page lets the wizard move on only once the import has ended.
class ImportRunPage final : public QWizardPage
{
public:
    explicit ImportRunPage(const bool *finished, QWidget *parent)
        : QWizardPage(parent), m_finished(finished)
    { }
    bool isComplete() const override { return *m_finished; }
    void announceComplete() { emit completeChanged(); }

private:
    const bool *m_finished; // the wizard's flag
};

} // namespace

ImportDialog::ImportDialog(AppState *appState, QWidget *parent)
    : QWizard(parent), m_appState(appState)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Import Notes"));
    setMinimumWidth(450);
    // Once the import has run there is nothing left to cancel.
    setOption(QWizard::NoCancelButtonOnLastPage);

    auto *formatPage = new QWizardPage(this);
    formatPage->setTitle(tr("Select Format"));
    formatPage->setSubTitle(tr("Choose the format of the file you want to import."));
    m_joplinButton = new QRadioButton(tr("Joplin Export (.jex)"), formatPage);
    m_noteStationButton = new QRadioButton(tr("Synology NoteStation (.nsx)"), formatPage);
    m_joplinButton->setChecked(true);
    auto *formatLayout = new QVBoxLayout(formatPage);
    formatLayout->addWidget(m_joplinButton);
    formatLayout->addWidget(m_noteStationButton);
    formatLayout->addStretch();

    auto *filePage = new QWizardPage(this);
    filePage->setTitle(tr("Select File"));
    filePage->setSubTitle(tr("Choose the file to import."));
    m_fileLabel = new QLabel(tr("No file selected"), filePage);
    m_fileLabel->setWordWrap(true);
    auto *browseButton = new QPushButton(tr("Browse..."), filePage);
    connect(browseButton, &QPushButton::clicked, this, &ImportDialog::browse);
    auto *fileLayout = new QVBoxLayout(filePage);
    fileLayout->addWidget(m_fileLabel);
    fileLayout->addWidget(browseButton, 0, Qt::AlignLeft);
    fileLayout->addStretch();

    auto *importingPage = new ImportRunPage(&m_finished, this);
    importingPage->setTitle(tr("Importing..."));
    importingPage->setSubTitle(tr("Please wait while your notes are imported."));
    importingPage->setCommitPage(true);
    importingPage->setButtonText(QWizard::CommitButton, tr("&Next >"));
    m_progressBar = new QProgressBar(importingPage);
    m_progressBar->setRange(0, 0);
    m_statusLabel = new QLabel(tr("Starting import..."), importingPage);
    m_statusLabel->setWordWrap(true);
    auto *importingLayout = new QVBoxLayout(importingPage);
    importingLayout->addWidget(m_progressBar);
    importingLayout->addWidget(m_statusLabel);
    importingLayout->addStretch();

    auto *summaryPage = new QWizardPage(this);
    summaryPage->setTitle(tr("Import Complete"));
    summaryPage->setFinalPage(true);
    m_summaryLabel = new QLabel(summaryPage);
    m_summaryLabel->setWordWrap(true);
    m_summaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *summaryLayout = new QVBoxLayout(summaryPage);
    summaryLayout->addWidget(m_summaryLabel);
    summaryLayout->addStretch();

    setPage(FormatPage, formatPage);
    setPage(FilePage, filePage);
    setPage(ImportingPage, importingPage);
    setPage(SummaryPage, summaryPage);

    connect(this, &QWizard::currentIdChanged, this, [this](int id) {
        if (id != ImportingPage || m_started)
            return;
        m_started = true;
        // Later, so the page is painted before the import holds the thread.
        QTimer::singleShot(100, this, &ImportDialog::runImport);
    });
}

ImportFormat ImportDialog::format() const
{
    return m_noteStationButton->isChecked() ? ImportFormat::NoteStation : ImportFormat::Joplin;
}

void ImportDialog::setFilePath(const QString &path)
{
    m_filePath = path;
    m_fileLabel->setText(path.isEmpty() ? tr("No file selected") : path);
}

QString ImportDialog::fileFilter() const
{
    return format() == ImportFormat::NoteStation ? tr("NoteStation Export (*.nsx);;All Files (*)")
                                                 : tr("Joplin Export (*.jex);;All Files (*)");
}

void ImportDialog::setImporter(ImportFormat format, Importer importer)
{
    m_importers.insert(int(format), std::move(importer));
}

QString ImportDialog::summaryText() const
{
    return m_summaryLabel->text();
}

QString ImportDialog::statusText() const
{
    return m_statusLabel->text();
}

QString ImportDialog::summaryFor(const ImportResult &result)
{
    QString text = tr("Imported: %1 notes").arg(result.imported);
    if (result.attachmentCount > 0)
        text += tr("\nAttachments: %1").arg(result.attachmentCount);
    if (result.skipped > 0)
        text += tr("\nSkipped: %1").arg(result.skipped);
    if (result.errors > 0)
        text += tr("\nErrors: %1").arg(result.errors);
    if (!result.errorMessage.isEmpty())
        text += QLatin1String("\n\n") + result.errorMessage;
    return text;
}

void ImportDialog::browse()
{
    const QString path
        = QFileDialog::getOpenFileName(this, tr("Select Import File"), QString(), fileFilter());
    if (!path.isEmpty())
        setFilePath(path);
}

void ImportDialog::runImport()
{
    if (m_filePath.isEmpty()) {
        m_summaryLabel->setText(tr("No file was selected."));
        m_statusLabel->setText(tr("No file was selected."));
        m_progressBar->setRange(0, 1);
        m_progressBar->setValue(0);
        m_finished = true;
        static_cast<ImportRunPage *>(page(ImportingPage))->announceComplete();
        return;
    }

    const QString fileName = QFileInfo(m_filePath).fileName();
    m_statusLabel->setText(tr("Starting import of %1...").arg(fileName));

    const ImportFormat chosen = format();
    const Importer importer
        = m_importers.contains(int(chosen)) ? m_importers.value(int(chosen)) : importerFor(chosen);
    ImportResult result;
    if (!importer) {
        qWarning().noquote() << "ImportDialog: no importer for" << fileName;
        result.errors = 1;
        result.errorMessage = tr("This kind of file can't be imported.");
    } else if (!QFileInfo(m_filePath).isFile() || !QFileInfo(m_filePath).isReadable()) {
        qWarning().noquote() << "ImportDialog: can't read" << m_filePath;
        result.errors = 1;
        result.errorMessage = tr("The file %1 can't be read.").arg(fileName);
    } else {
        const ImportTarget target { m_appState->writer(), m_appState->notes(),
            m_appState->notebooks(), m_appState->attachments() };
        result = importer(target, m_filePath, [this](int current, int total, const QString &text) {
            if (total <= 0) {
                m_progressBar->setRange(0, 0);
            } else {
                m_progressBar->setRange(0, total);
                m_progressBar->setValue(qBound(0, current, total));
            }
            m_statusLabel->setText(text);
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        });
    }
    finishImport(result);
}

void ImportDialog::finishImport(const ImportResult &result)
{
    m_progressBar->setRange(0, 1);
    m_progressBar->setValue(1);
    m_summaryLabel->setText(summaryFor(result));
    m_finished = true;
    static_cast<ImportRunPage *>(page(ImportingPage))->announceComplete();
    emit importFinished(result);
    if (currentId() == ImportingPage)
        next();
}
