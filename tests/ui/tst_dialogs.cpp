// Expected texts read best as plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "appstate.h"
#include "attachmentrepository.h"
#include "backupcommands.h"
#include "deltaformat.h"
#include "exportdialog.h"
#include "importdialog.h"
#include "modalanswers.h"
#include "movetonotebookdialog.h"
#include "notebookdialog.h"
#include "notebookrepository.h"
#include "notecommands.h"
#include "noterepository.h"
#include "notewriter.h"
#include "testaccount.h"
#include "testarchive.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QUuid>

#include <functional>
#include <memory>

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QPushButton *okButton(QWidget *dialog)
{
    return dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
}

} // namespace

class TestDialogs final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void notebookDialog_data();
    void notebookDialog();
    void notebookDialogCancelGivesEmpty();
    void moveDialogFirstRowIsNoNotebook_data();
    void moveDialogFirstRowIsNoNotebook();
    void moveDialogChoosesAnotherNotebook();
    void moveDialogDoubleClick_data();
    void moveDialogDoubleClick();
    void exportDialogFormats_data();
    void exportDialogFormats();

    void importWizardPages();
    void importFileFilterFollowsFormat_data();
    void importFileFilterFollowsFormat();
    void importWithoutFileSaysSo();
    void importRealArchiveThroughWizard_data();
    void importRealArchiveThroughWizard();
    void importRunsImporterWithProgress();
    void importSummary_data();
    void importSummary();

    void createNotebook();
    void createNotebookRejectsBlankName();
    void renameNotebook_data();
    void renameNotebook();
    void deleteNotebookMovesItsNotes();
    void askDeleteNotebook_data();
    void askDeleteNotebook();
    void askNewNotebookThroughDialog();
    void moveNoteChecksTarget();
    void askMoveNoteThroughDialog_data();
    void askMoveNoteThroughDialog();
    void clipboardForms();
    void noteContextMenuEntries();
    void noteContextMenuMovesAndTrashes();
    void notebookContextMenuEntries_data();
    void notebookContextMenuEntries();
    void askExportWritesChosenFormat();
    void askExportFailureShowsWarning();
    void exportBundleHoldsAttachments();
    void printWithoutNoteSaysSo();
    void printPreviewTitleAndPages();
    void backupAndRestoreCommands();

private:
    Note addNote(const QString &text, const QString &notebookId = QString());
    QString addNotebook(const QString &name);

    std::unique_ptr<TestDataDir> m_dir;
    std::unique_ptr<AppState> m_state;
};

static Notebook notebook(const QString &name)
{
    Notebook n;
    n.id = newId();
    n.name = name;
    return n;
}

void TestDialogs::init()
{
    m_dir = std::make_unique<TestDataDir>();
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(m_state->initialize());
}

void TestDialogs::cleanup()
{
    m_state.reset();
    m_dir.reset();
}

Note TestDialogs::addNote(const QString &text, const QString &notebookId)
{
    const Note note = TestDatabase::makeNote(bodyOf(text), notebookId);
    if (!m_state->notes()->insert(note))
        qWarning("note insert failed");
    return note;
}

QString TestDialogs::addNotebook(const QString &name)
{
    const Notebook notebook = TestDatabase::makeNotebook(name);
    if (!m_state->notebooks()->insert(notebook))
        qWarning("notebook insert failed");
    return notebook.id;
}

void TestDialogs::notebookDialog_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("initial");
    QTest::addColumn<bool>("initiallyEnabled");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enabledAfterTyping");
    QTest::addColumn<QString>("expected");

    QTest::addRow("new notebook") << "New Notebook"
                                  << "" << false << "Work" << true << "Work";
    QTest::addRow("surrounding spaces trimmed") << "New Notebook"
                                                << "" << false << "  Travel  " << true << "Travel";
    QTest::addRow("only spaces keeps OK disabled") << "New Notebook"
                                                   << "" << false << "    " << false << "";
    QTest::addRow("rename replaces the selected name")
        << "Rename Notebook"
        << "Old name" << true << "New name" << true << "New name";
}

void TestDialogs::notebookDialog()
{
    QFETCH(QString, title);
    QFETCH(QString, initial);
    QFETCH(bool, initiallyEnabled);
    QFETCH(QString, typed);
    QFETCH(bool, enabledAfterTyping);
    QFETCH(QString, expected);

    NotebookDialog dialog(title, initial, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), title);
    QVERIFY(dialog.minimumWidth() >= 350);
    QCOMPARE(dialog.nameEdit()->placeholderText(), QStringLiteral("Notebook name"));
    QCOMPARE(dialog.nameEdit()->selectedText(), initial);
    QCOMPARE(okButton(&dialog)->isEnabled(), initiallyEnabled);

    QTest::keyClicks(dialog.nameEdit(), typed);
    QCOMPARE(okButton(&dialog)->isEnabled(), enabledAfterTyping);
    if (!enabledAfterTyping)
        return;
    QTest::mouseClick(okButton(&dialog), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.name(), expected);
}

void TestDialogs::notebookDialogCancelGivesEmpty()
{
    ModalScript script({ [](QWidget *modal) {
        auto *dialog = qobject_cast<NotebookDialog *>(modal);
        if (!dialog)
            return false;
        QTest::keyClicks(dialog->nameEdit(), "Typed but cancelled");
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
        return true;
    } });
    QCOMPARE(NotebookDialog::getName("Rename Notebook", "Keep", nullptr), QString());
    QCOMPARE(script.done(), 1);
}

void TestDialogs::moveDialogFirstRowIsNoNotebook_data()
{
    QTest::addColumn<bool>("inNotebook");
    QTest::addColumn<QString>("firstRow");
    QTest::addColumn<bool>("firstEnabled");
    QTest::addRow("note in the only notebook") << true << "No notebook" << true;
    QTest::addRow("note without notebook") << false << "No notebook (current)" << false;
}

// With one notebook the dialog is no dead end: the note can always leave its notebook.
void TestDialogs::moveDialogFirstRowIsNoNotebook()
{
    QFETCH(bool, inNotebook);
    QFETCH(QString, firstRow);
    QFETCH(bool, firstEnabled);
    const Notebook only = notebook("Inbox");
    MoveToNotebookDialog dialog({ only }, inNotebook ? only.id : QString(), nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Move to Notebook"));
    QCOMPARE(dialog.list()->count(), 2);
    QCOMPARE(dialog.list()->item(0)->text(), firstRow);
    QCOMPARE(dialog.list()->item(1)->text(), inNotebook ? "Inbox (current)" : "Inbox");
    QCOMPARE(bool(dialog.list()->item(0)->flags() & Qt::ItemIsEnabled), firstEnabled);
    QVERIFY(!okButton(&dialog)->isEnabled());

    QTest::mouseClick(dialog.list()->viewport(), Qt::LeftButton, {},
        dialog.list()->visualItemRect(dialog.list()->item(0)).center());
    QCOMPARE(okButton(&dialog)->isEnabled(), firstEnabled);
    QCOMPARE(dialog.selectedNotebookId(),
        firstEnabled ? std::optional<QString>(QString()) : std::nullopt);
}

void TestDialogs::moveDialogChoosesAnotherNotebook()
{
    const Notebook a = notebook("Alpha");
    const Notebook b = notebook("Beta");
    const Notebook c = notebook("Gamma");
    MoveToNotebookDialog dialog({ a, b, c }, b.id, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.list()->item(1)->text(), QStringLiteral("Alpha"));
    QCOMPARE(dialog.list()->item(2)->text(), QStringLiteral("Beta (current)"));
    QVERIFY(!okButton(&dialog)->isEnabled());
    const QRect rect = dialog.list()->visualItemRect(dialog.list()->item(3));
    QTest::mouseClick(dialog.list()->viewport(), Qt::LeftButton, {}, rect.center());
    QVERIFY(okButton(&dialog)->isEnabled());
    QTest::mouseClick(okButton(&dialog), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedNotebookId(), std::optional<QString>(c.id));
}

void TestDialogs::moveDialogDoubleClick_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("accepted");
    QTest::addRow("another notebook accepts") << 1 << true;
    QTest::addRow("current notebook does nothing") << 2 << false;
}

void TestDialogs::moveDialogDoubleClick()
{
    QFETCH(int, row);
    QFETCH(bool, accepted);
    const Notebook a = notebook("Alpha");
    const Notebook b = notebook("Beta");
    MoveToNotebookDialog dialog({ a, b }, b.id, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy acceptedSpy(&dialog, &QDialog::accepted);
    const QRect rect = dialog.list()->visualItemRect(dialog.list()->item(row));
    QTest::mouseClick(dialog.list()->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(dialog.list()->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(acceptedSpy.count(), accepted ? 1 : 0);
    QCOMPARE(dialog.selectedNotebookId(), accepted ? std::optional<QString>(a.id) : std::nullopt);
}

// Radio buttons and check boxes react to clicks on their indicator and label, not on the empty
// space a layout stretches them over.
void clickIndicator(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

void TestDialogs::exportDialogFormats_data()
{
    QTest::addColumn<QString>("click");
    QTest::addColumn<bool>("attachments");
    QTest::addColumn<int>("format");
    QTest::addRow("untouched is markdown without attachments") << "" << false << 0;
    QTest::addRow("html") << "html" << false << 1;
    QTest::addRow("pdf with attachments") << "pdf" << true << 2;
    QTest::addRow("back to markdown") << "markdown" << false << 0;
}

void TestDialogs::exportDialogFormats()
{
    QFETCH(QString, click);
    QFETCH(bool, attachments);
    QFETCH(int, format);
    ExportDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Export Note"));
    QVERIFY(dialog.markdownButton()->isChecked());
    QVERIFY(!dialog.attachmentsBox()->isChecked());
    if (click == "markdown") {
        clickIndicator(dialog.pdfButton());
        clickIndicator(dialog.markdownButton());
    } else if (click == "html") {
        clickIndicator(dialog.htmlButton());
    } else if (click == "pdf") {
        clickIndicator(dialog.pdfButton());
    }
    if (attachments)
        clickIndicator(dialog.attachmentsBox());
    QTest::mouseClick(okButton(&dialog), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.format(), format);
    QCOMPARE(dialog.includeAttachments(), attachments);
}

void TestDialogs::importWizardPages()
{
    QPointer<ImportDialog> wizard = new ImportDialog(m_state.get());
    wizard->show();
    QCOMPARE(wizard->windowTitle(), QStringLiteral("Import Notes"));
    QVERIFY(wizard->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(wizard->page(ImportDialog::FormatPage)->title(), QStringLiteral("Select Format"));
    QCOMPARE(wizard->page(ImportDialog::FilePage)->title(), QStringLiteral("Select File"));
    QCOMPARE(wizard->page(ImportDialog::ImportingPage)->title(), QStringLiteral("Importing..."));
    QVERIFY(wizard->page(ImportDialog::ImportingPage)->isCommitPage());
    QCOMPARE(wizard->page(ImportDialog::SummaryPage)->title(), QStringLiteral("Import Complete"));
    QCOMPARE(wizard->format(), ImportFormat::Joplin);
    wizard->next();
    QCOMPARE(wizard->currentId(), int(ImportDialog::FilePage));
    QVERIFY(wizard->findChild<QLabel *>() != nullptr);
    bool sawNoFile = false;
    for (QLabel *label : wizard->page(ImportDialog::FilePage)->findChildren<QLabel *>())
        sawNoFile |= label->text() == "No file selected";
    QVERIFY(sawNoFile);
    wizard->close();
    QTRY_VERIFY(wizard.isNull());
}

void TestDialogs::importFileFilterFollowsFormat_data()
{
    QTest::addColumn<bool>("noteStation");
    QTest::addColumn<QString>("filter");
    QTest::addRow("joplin") << false << "Joplin Export (*.jex)";
    QTest::addRow("notestation") << true << "NoteStation Export (*.nsx)";
}

void TestDialogs::importFileFilterFollowsFormat()
{
    QFETCH(bool, noteStation);
    QFETCH(QString, filter);
    auto *wizard = new ImportDialog(m_state.get());
    wizard->show();
    if (noteStation) {
        auto buttons = wizard->page(ImportDialog::FormatPage)->findChildren<QRadioButton *>();
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons.at(1)->text(), QStringLiteral("Synology NoteStation (.nsx)"));
        clickIndicator(buttons.at(1));
    }
    wizard->next();
    QCOMPARE(wizard->fileFilter(), filter + ";;All Files (*)");

    const QString chosen = m_dir->filePath(noteStation ? "export.nsx" : "export.jex");
    QFile(chosen).open(QIODevice::WriteOnly);
    QString title;
    QStringList filters;
    ModalScript script({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog)
            return false;
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        // The directory loads in the background; a selection made before it is there can be
        // dropped when it arrives.
        QTest::qWaitFor([&] {
            dialog->selectFile(chosen);
            return dialog->selectedFiles().value(0) == chosen;
        });
        // done() rather than accept(): accept() re-checks the file against a directory model that
        // may still be loading on a busy machine, and its "not found" box would wait for ever.
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
        return true;
    } });
    auto *browse = wizard->page(ImportDialog::FilePage)->findChild<QPushButton *>();
    QCOMPARE(browse->text(), QStringLiteral("Browse..."));
    browse->click();
    QCOMPARE(title, QStringLiteral("Select Import File"));
    QCOMPARE(filters.value(0), filter);
    QCOMPARE(wizard->filePath(), chosen);
    wizard->close();
}

void TestDialogs::importWithoutFileSaysSo()
{
    auto *wizard = new ImportDialog(m_state.get());
    wizard->show();
    wizard->next();
    wizard->next();
    QCOMPARE(wizard->currentId(), int(ImportDialog::ImportingPage));
    QVERIFY(!wizard->currentPage()->isComplete());
    QTRY_VERIFY(wizard->isImportFinished());
    QCOMPARE(wizard->summaryText(), QStringLiteral("No file was selected."));
    // Stays on the importing page until the user moves on.
    QCOMPARE(wizard->currentId(), int(ImportDialog::ImportingPage));
    QVERIFY(wizard->currentPage()->isComplete());
    wizard->next();
    QCOMPARE(wizard->currentId(), int(ImportDialog::SummaryPage));
    wizard->close();
}

void TestDialogs::importRealArchiveThroughWizard_data()
{
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<bool>("chooseNoteStation");
    QTest::addColumn<QString>("summaryStart");
    QTest::addRow("joplin sample") << false << false << "Imported: 34 notes\nAttachments: 9";
    QTest::addRow("damaged archive") << true << false << "Imported: 0 notes\nErrors: 1";
    QTest::addRow("wrong format chosen") << false << true << "Imported: 0 notes\nErrors: 1";
}

// The user's path: File > Import, choose the file, watch the progress, read the summary; the
// lists refresh once, and a failed import leaves the collection as it was.
void TestDialogs::importRealArchiveThroughWizard()
{
    QFETCH(bool, damaged);
    QFETCH(bool, chooseNoteStation);
    QFETCH(QString, summaryStart);
    QFile sample(testSamplePath("joplin-small.jex"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    QByteArray bytes = sample.readAll();
    if (damaged)
        bytes.truncate(bytes.size() * 2 / 3);
    const QString path = m_dir->filePath("export.jex");
    QVERIFY(writeTestFile(path, bytes));
    const int notesBefore = m_state->notes()->allNotes().size();
    const int notebooksBefore = m_state->notebooks()->allNotebooks().size();

    auto *wizard = new ImportDialog(m_state.get());
    QSignalSpy refreshed(m_state.get(), &AppState::notesChanged);
    QStringList statuses;
    QList<int> maxima;
    QProgressBar *bar = wizard->findChild<QProgressBar *>();
    connect(bar, &QProgressBar::valueChanged, wizard, [&] {
        statuses << wizard->statusText();
        maxima << bar->maximum();
    });
    wizard->show();
    if (chooseNoteStation)
        wizard->page(ImportDialog::FormatPage)->findChildren<QRadioButton *>().at(1)->click();
    wizard->next();
    wizard->setFilePath(path);
    wizard->next();
    QTRY_COMPARE_WITH_TIMEOUT(wizard->currentId(), int(ImportDialog::SummaryPage), 20000);
    QVERIFY2(wizard->summaryText().startsWith(summaryStart), qPrintable(wizard->summaryText()));
    if (damaged || chooseNoteStation) {
        QVERIFY(wizard->summaryText().size() > summaryStart.size() + 2);
        QCOMPARE(m_state->notes()->allNotes().size(), notesBefore);
        QCOMPARE(m_state->notebooks()->allNotebooks().size(), notebooksBefore);
        QCOMPARE(refreshed.count(), 0);
    } else {
        QCOMPARE(m_state->notes()->allNotes().size(), notesBefore + 34);
        QCOMPARE(m_state->notebooks()->allNotebooks().size(), notebooksBefore + 7);
        QCOMPARE(refreshed.count(), 1);
        // Real progress: the bar counted the notes and the label named the one being imported.
        QVERIFY(maxima.contains(34));
        QVERIFY(std::any_of(statuses.begin(), statuses.end(),
            [](const QString &text) { return text.startsWith("Importing: "); }));
    }
    wizard->close();
}

void TestDialogs::importRunsImporterWithProgress()
{
    const QString path = m_dir->filePath("backup.jex");
    QFile(path).open(QIODevice::WriteOnly);
    auto *wizard = new ImportDialog(m_state.get());
    QStringList statusSeen;
    QList<int> barValues;
    QString importedPath;
    wizard->setImporter(ImportFormat::Joplin,
        [&](const ImportTarget &target, const QString &file, const ImportProgress &progress) {
            importedPath = file;
            QProgressBar *bar = wizard->findChild<QProgressBar *>();
            progress(0, 0, "Reading archive");
            statusSeen << wizard->statusText();
            barValues << bar->maximum();
            progress(2, 4, "Note 2 of 4");
            statusSeen << wizard->statusText();
            barValues << bar->value() << bar->maximum();
            target.notes->insert(Note {});
            ImportResult result;
            result.imported = 3;
            return result;
        });
    QSignalSpy finished(wizard, &ImportDialog::importFinished);
    wizard->show();
    wizard->next();
    wizard->setFilePath(path);
    wizard->next();
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(importedPath, path);
    QCOMPARE(statusSeen, (QStringList { "Reading archive", "Note 2 of 4" }));
    QCOMPARE(barValues, (QList<int> { 0, 2, 4 }));
    QCOMPARE(wizard->currentId(), int(ImportDialog::SummaryPage));
    QCOMPARE(wizard->summaryText(), QStringLiteral("Imported: 3 notes"));
    wizard->close();
}

void TestDialogs::importSummary_data()
{
    QTest::addColumn<int>("imported");
    QTest::addColumn<int>("attachments");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("errors");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");
    QTest::addRow("only imported") << 3 << 0 << 0 << 0 << ""
                                   << "Imported: 3 notes";
    QTest::addRow("everything") << 5 << 2 << 1 << 4 << "Some notes were damaged."
                                << "Imported: 5 notes\nAttachments: 2\nSkipped: 1\nErrors: 4"
                                   "\n\nSome notes were damaged.";
    QTest::addRow("skipped only") << 0 << 0 << 7 << 0 << ""
                                  << "Imported: 0 notes\nSkipped: 7";
}

void TestDialogs::importSummary()
{
    QFETCH(int, imported);
    QFETCH(int, attachments);
    QFETCH(int, skipped);
    QFETCH(int, errors);
    QFETCH(QString, message);
    QFETCH(QString, expected);
    ImportResult result;
    result.imported = imported;
    result.attachmentCount = attachments;
    result.skipped = skipped;
    result.errors = errors;
    result.errorMessage = message;
    QCOMPARE(ImportDialog::summaryFor(result), expected);
}

void TestDialogs::createNotebook()
{
    const std::optional<Notebook> created = m_state->writer()->createNotebook("  Recipes ");
    QVERIFY(created);
    const QString id = created->id;
    QVERIFY(!id.startsWith('{'));
    QCOMPARE(id.size(), 36);
    const std::optional<Notebook> stored = m_state->notebooks()->notebookById(id);
    QVERIFY(stored);
    QCOMPARE(stored->name, QStringLiteral("Recipes"));
    QCOMPARE(stored->version, 1);
    QCOMPARE(stored->syncStatus, SyncStatus::Pending);
    QVERIFY(stored->createdAt.isValid());
    QCOMPARE(stored->createdAt, stored->updatedAt);
}

void TestDialogs::createNotebookRejectsBlankName()
{
    QVERIFY(!m_state->writer()->createNotebook("   "));
    QVERIFY(m_state->notebooks()->allNotebooks().isEmpty());
}

void TestDialogs::renameNotebook_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("renamed");
    QTest::addColumn<QString>("stored");
    QTest::addRow("new name") << "Home" << true << "Home";
    QTest::addRow("trimmed") << "  Home  " << true << "Home";
    QTest::addRow("same name") << "Work" << false << "Work";
    QTest::addRow("blank") << "  " << false << "Work";
}

void TestDialogs::renameNotebook()
{
    QFETCH(QString, name);
    QFETCH(bool, renamed);
    QFETCH(QString, stored);
    const QString id = addNotebook("Work");
    const Notebook before = *m_state->notebooks()->notebookById(id);
    QCOMPARE(m_state->writer()->renameNotebook(id, name), renamed);
    const Notebook after = *m_state->notebooks()->notebookById(id);
    QCOMPARE(after.name, stored);
    QCOMPARE(after.version, before.version + (renamed ? 1 : 0));
    if (renamed) {
        QCOMPARE(after.syncStatus, SyncStatus::Pending);
        QVERIFY(after.updatedAt >= before.updatedAt);
    }
    QVERIFY(!m_state->writer()->renameNotebook(newId(), "Missing"));
}

void TestDialogs::deleteNotebookMovesItsNotes()
{
    const QString doomed = addNotebook("Old projects");
    const QString kept = addNotebook("Keep");
    const Note a = addNote("first", doomed);
    const Note b = addNote("second", doomed);
    const Note trashed = addNote("trashed", doomed);
    QVERIFY(m_state->notes()->softDelete(trashed.id));
    const Note other = addNote("other", kept);
    m_state->setCurrentNotebookId(doomed);

    QVERIFY(m_state->writer()->deleteNotebook(doomed));
    for (const QString &id : { a.id, b.id, trashed.id })
        QCOMPARE(m_state->notes()->noteById(id)->notebookId, QString());
    QCOMPARE(m_state->notes()->noteById(other.id)->notebookId, kept);
    QVERIFY(m_state->notes()->noteById(trashed.id)->deletedAt.has_value());
    QVERIFY(!m_state->notes()->noteById(a.id)->deletedAt.has_value());
    QVERIFY(m_state->notebooks()->notebookById(doomed)->deletedAt.has_value());
    QCOMPARE(m_state->notebooks()->allNotebooks().size(), 1);
    QVERIFY(!m_state->writer()->deleteNotebook(newId()));
}

void TestDialogs::askDeleteNotebook_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addRow("yes deletes") << true;
    QTest::addRow("no keeps everything") << false;
}

void TestDialogs::askDeleteNotebook()
{
    QFETCH(bool, yes);
    const QString id = addNotebook("Errands");
    const Note note = addNote("milk", id);
    m_state->setCurrentNotebookId(id);
    QString title;
    QString text;
    ModalScript script({ answerBox(yes ? QMessageBox::Yes : QMessageBox::No, &title, &text) });
    QCOMPARE(NoteCommands::askDeleteNotebook(m_state.get(), id, nullptr), yes);
    QCOMPARE(title, QStringLiteral("Delete Notebook"));
    QCOMPARE(text, QStringLiteral("Delete \"Errands\"? Its notes will move to All Notes."));
    QCOMPARE(m_state->notebooks()->allNotebooks().isEmpty(), yes);
    QCOMPARE(m_state->notes()->noteById(note.id)->notebookId, yes ? QString() : id);
    QCOMPARE(m_state->currentNotebookId(), yes ? QString() : id);
}

void TestDialogs::askNewNotebookThroughDialog()
{
    QString title;
    ModalScript script({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<NotebookDialog *>(modal);
        if (!dialog)
            return false;
        title = dialog->windowTitle();
        QTest::keyClicks(dialog->nameEdit(), " Garden ");
        QTest::keyClick(dialog->nameEdit(), Qt::Key_Return);
        return true;
    } });
    const QString id = NoteCommands::askNewNotebook(m_state.get(), nullptr);
    QCOMPARE(title, QStringLiteral("New Notebook"));
    QVERIFY(!id.isEmpty());
    QCOMPARE(m_state->notebooks()->notebookById(id)->name, QStringLiteral("Garden"));
    QCOMPARE(m_state->currentNotebookId(), id);
}

void TestDialogs::moveNoteChecksTarget()
{
    const QString work = addNotebook("Work");
    const Note note = addNote("plan");
    QVERIFY(!m_state->writer()->moveNote(note.id, newId())); // no such notebook
    QVERIFY(!m_state->writer()->moveNote(newId(), work)); // no such note
    QVERIFY(m_state->writer()->moveNote(note.id, work));
    QCOMPARE(m_state->notes()->noteById(note.id)->notebookId, work);
    QVERIFY(!m_state->writer()->moveNote(note.id, work)); // already there
    QVERIFY(m_state->writer()->moveNote(note.id, QString()));
    QCOMPARE(m_state->notes()->noteById(note.id)->notebookId, QString());
}

void TestDialogs::askMoveNoteThroughDialog_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("toWork");
    QTest::addRow("into another notebook") << 2 << true;
    QTest::addRow("out of its notebook") << 0 << false;
}

void TestDialogs::askMoveNoteThroughDialog()
{
    QFETCH(int, row);
    QFETCH(bool, toWork);
    const QString home = addNotebook("Home");
    const QString work = addNotebook("Work");
    const Note note = addNote("plan", home);
    QStringList rows;
    ModalScript script({ [&](QWidget *modal) {
        auto *dialog = qobject_cast<MoveToNotebookDialog *>(modal);
        if (!dialog)
            return false;
        for (int i = 0; i < dialog->list()->count(); ++i)
            rows << dialog->list()->item(i)->text();
        dialog->list()->setCurrentRow(row);
        okButton(dialog)->click();
        return true;
    } });
    QVERIFY(NoteCommands::askMoveNote(m_state.get(), note.id, nullptr));
    QCOMPARE(rows, (QStringList { "No notebook", "Home (current)", "Work" }));
    QCOMPARE(m_state->notes()->noteById(note.id)->notebookId, toWork ? work : QString());
}

void TestDialogs::clipboardForms()
{
    const QString body = Delta::toText(QJsonArray { QJsonObject { { "insert", "Title" } },
        QJsonObject { { "insert", "\n" }, { "attributes", QJsonObject { { "header", 1 } } } },
        QJsonObject { { "insert", "bold" }, { "attributes", QJsonObject { { "bold", true } } } },
        QJsonObject { { "insert", "\n" } } });

    std::unique_ptr<QMimeData> markdown(NoteCommands::noteMimeData(body, ExportFormat::Markdown));
    QCOMPARE(markdown->text(), QStringLiteral("# Title\n\n**bold**\n"));
    QVERIFY(!markdown->hasHtml());

    std::unique_ptr<QMimeData> html(NoteCommands::noteMimeData(body, ExportFormat::Html));
    QCOMPARE(html->html(),
        QStringLiteral(
            "<html><body>\n<h1>Title</h1>\n<p><strong>bold</strong></p>\n</body></html>"));
    QCOMPARE(html->text(), markdown->text());

    std::unique_ptr<QMimeData> plain(NoteCommands::noteMimeData(body, ExportFormat::PlainText));
    QCOMPARE(plain->text(), QStringLiteral("Title\nbold\n"));

    NoteCommands::copyNote(body, ExportFormat::Html);
    QCOMPARE(QGuiApplication::clipboard()->mimeData()->html(), html->html());
    NoteCommands::copyPlainText("editor text");
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("editor text"));
}

void TestDialogs::noteContextMenuEntries()
{
    const QString a = addNotebook("Alpha");
    addNotebook("Beta");
    const Note note = addNote("mine", a);
    QWidget parent;

    std::unique_ptr<QMenu> plainMenu(
        NoteCommands::noteContextMenu(m_state.get(), note.id, &parent));
    QStringList texts;
    for (QAction *action : plainMenu->actions())
        texts << (action->isSeparator() ? "-" : action->text());
    // No note-window factory and no sharing here.
    QCOMPARE(texts, (QStringList { "Move to Notebook", "-", "Move to Trash" }));
    QMenu *moveMenu = plainMenu->actions().first()->menu();
    QStringList targets;
    for (QAction *action : moveMenu->actions())
        targets << (action->isSeparator() ? "-" : action->text());
    QCOMPARE(targets, (QStringList { "No notebook", "-", "Alpha", "Beta" }));
    QVERIFY(!moveMenu->actions().at(0)->isChecked());
    QVERIFY(moveMenu->actions().at(2)->isChecked());

    m_state->setNoteWindowFactory([](AppState *, const QString &) { return new QWidget; });
    NoteCommands::NoteMenuHooks hooks;
    QString sharedId;
    hooks.share = [&](const QString &id) { sharedId = id; };
    std::unique_ptr<QMenu> full(
        NoteCommands::noteContextMenu(m_state.get(), note.id, &parent, hooks));
    texts.clear();
    for (QAction *action : full->actions())
        texts << (action->isSeparator() ? "-" : action->text());
    QCOMPARE(texts,
        (QStringList {
            "Open in New Window", "Move to Notebook", "-", "Share…", "-", "Move to Trash" }));
    full->actions().at(3)->trigger();
    QCOMPARE(sharedId, note.id);

    Note shared = addNote("shared with me");
    shared.ownerId = "someone-else";
    QVERIFY(m_state->notes()->update(shared));
    std::unique_ptr<QMenu> others(
        NoteCommands::noteContextMenu(m_state.get(), shared.id, &parent, hooks));
    for (QAction *action : others->actions())
        QVERIFY(!action->text().startsWith("Share") && !action->text().startsWith("Manage"));
}

void TestDialogs::noteContextMenuMovesAndTrashes()
{
    addNotebook("Alpha");
    const QString beta = addNotebook("Beta");
    const Note note = addNote("mine");
    QWidget parent;
    std::unique_ptr<QMenu> menu(NoteCommands::noteContextMenu(m_state.get(), note.id, &parent));
    QMenu *moveMenu = menu->actions().first()->menu();
    moveMenu->actions().at(3)->trigger();
    QCOMPARE(m_state->notes()->noteById(note.id)->notebookId, beta);
    moveMenu->actions().at(0)->trigger();
    QCOMPARE(m_state->notes()->noteById(note.id)->notebookId, QString());

    menu->actions().last()->trigger();
    QVERIFY(m_state->notes()->noteById(note.id)->deletedAt.has_value());
}

void TestDialogs::notebookContextMenuEntries_data()
{
    QTest::addColumn<bool>("sharing");
    QTest::addColumn<QStringList>("entries");
    QTest::addRow("without sharing")
        << false << QStringList { "Rename Notebook…", "-", "Delete Notebook" };
    QTest::addRow("with sharing") << true
                                  << QStringList { "Rename Notebook…", "Share Notebook…", "-",
                                         "Delete Notebook" };
}

void TestDialogs::notebookContextMenuEntries()
{
    QFETCH(bool, sharing);
    QFETCH(QStringList, entries);
    const QString id = addNotebook("Trips");
    NoteCommands::NotebookMenuHooks hooks;
    int changes = 0;
    hooks.changed = [&] { ++changes; };
    if (sharing)
        hooks.share = [](const QString &) {};
    QWidget parent;
    std::unique_ptr<QMenu> menu(
        NoteCommands::notebookContextMenu(m_state.get(), id, &parent, hooks));
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << (action->isSeparator() ? "-" : action->text());
    QCOMPARE(texts, entries);

    ModalScript script({ [](QWidget *modal) {
        auto *dialog = qobject_cast<NotebookDialog *>(modal);
        if (!dialog)
            return false;
        if (dialog->nameEdit()->text() != "Trips" || dialog->windowTitle() != "Rename Notebook")
            return false;
        QTest::keyClicks(dialog->nameEdit(), "Journeys");
        okButton(dialog)->click();
        return true;
    } });
    menu->actions().first()->trigger();
    QCOMPARE(m_state->notebooks()->notebookById(id)->name, QStringLiteral("Journeys"));
    QCOMPARE(changes, 1);
}

void TestDialogs::askExportWritesChosenFormat()
{
    const Note note = addNote("Quarterly report");
    QString target;
    QString exportLabel;
    struct FileDialogSeen
    {
        QString title, suggested, filter, accept, directory;
    };
    QList<FileDialogSeen> seen;
    const auto chooseHtml = [&](QWidget *modal) {
        auto *dialog = qobject_cast<ExportDialog *>(modal);
        if (!dialog)
            return false;
        exportLabel = okButton(dialog)->text();
        dialog->htmlButton()->click();
        okButton(dialog)->click();
        return true;
    };
    const auto saveAsTarget = [&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog)
            return false;
        seen.append({ dialog->windowTitle(), dialog->findChild<QLineEdit *>("fileNameEdit")->text(),
            dialog->selectedNameFilter(), dialog->labelText(QFileDialog::Accept),
            dialog->directory().absolutePath() });
        // Typed, as a user would: a selection made while the folder is still being read is
        // replaced by the suggestion when the listing arrives.
        dialog->findChild<QLineEdit *>("fileNameEdit")->setText(target);
        // done() rather than accept(): accept() re-checks the file against a directory model that
        // may still be loading on a busy machine, and its "not found" box would wait for ever.
        static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
        return true;
    };
    QString status;
    int timeout = 0;
    const auto statusSink = [&](const QString &text, int ms) {
        status = text;
        timeout = ms;
    };
    for (int run = 0; run < 2; ++run) {
        target = m_dir->filePath(QString("exported-%1.html").arg(run));
        ModalScript script({ chooseHtml, saveAsTarget });
        const std::optional<ExportResult> result
            = NoteCommands::askExportNote(m_state.get(), note.id, nullptr, statusSink);
        QVERIFY(result && result->ok);
    }
    QCOMPARE(exportLabel, QStringLiteral("Export"));
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].title, QStringLiteral("Export Note"));
    QCOMPARE(seen[0].suggested, QStringLiteral("Quarterly report.html"));
    QCOMPARE(seen[0].filter, QStringLiteral("HTML (*.html)"));
    QCOMPARE(seen[0].accept, QStringLiteral("Export"));
    // First the documents folder (or home), never the working directory; then the last folder.
    QVERIFY(QDir(seen[0].directory).exists());
    QVERIFY(seen[0].directory != QDir::currentPath() || seen[0].directory == QDir::homePath());
    QCOMPARE(seen[1].directory, QDir(m_dir->path()).absolutePath());
    QCOMPARE(status, "Exported to " + QDir::toNativeSeparators(target));
    QCOMPARE(timeout, 3000);
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("<html><body>\n<p>Quarterly report</p>\n</body></html>"));
}

void TestDialogs::askExportFailureShowsWarning()
{
    const Note note = addNote("Doomed");
    const QString target = m_dir->filePath("no/such/dir/out.md");
    QString title;
    QString text;
    ModalScript script({ [](QWidget *modal) {
                            auto *dialog = qobject_cast<ExportDialog *>(modal);
                            if (!dialog)
                                return false;
                            okButton(dialog)->click();
                            return true;
                        },
        [&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            if (!dialog)
                return false;
            // Typing the path sidesteps the dialog's own check of the directory.
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText(target);
            static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
            return true;
        },
        answerBox(QMessageBox::Ok, &title, &text) });
    int statusCalls = 0;
    const std::optional<ExportResult> result = NoteCommands::askExportNote(
        m_state.get(), note.id, nullptr, [&](const QString &, int) { ++statusCalls; });
    if (!result)
        QSKIP("the file dialog refused the path before the export ran");
    QVERIFY(!result->ok);
    QCOMPARE(title, QStringLiteral("Export Failed"));
    QVERIFY(text.startsWith("Failed to write file: "));
    QCOMPARE(statusCalls, 0);
}

void TestDialogs::exportBundleHoldsAttachments()
{
    if (QStandardPaths::findExecutable("unzip").isEmpty())
        QSKIP("unzip is not installed");
    const Note note = addNote("Holiday");
    const QString id = newId();
    Attachment attachment;
    attachment.id = id;
    attachment.noteId = note.id;
    attachment.filename = "../../evil name?.txt";
    attachment.mimeType = "text/plain";
    attachment.sizeBytes = 5;
    attachment.createdAt = QDateTime::currentDateTimeUtc();
    QVERIFY(m_state->attachments()->insert(attachment));
    QVERIFY(m_state->attachments()->saveFile(id, "hello"));

    const QString path = m_dir->filePath("Holiday.md");
    const ExportResult withBundle
        = NoteCommands::exportNoteToPath(m_state.get(), note, path, ExportFormat::Markdown, true);
    QVERIFY2(withBundle.ok, qPrintable(withBundle.error));
    QCOMPARE(withBundle.path, m_dir->filePath("Holiday.zip"));
    QVERIFY(QFile::exists(path));

    QProcess unzip;
    unzip.start("unzip", { "-Z1", withBundle.path });
    QVERIFY(unzip.waitForFinished(30000));
    QStringList entries
        = QString::fromUtf8(unzip.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    entries.sort();
    QCOMPARE(entries, (QStringList { "Holiday.md", "attachments/", "attachments/evil name.txt" }));

    const Note bare = addNote("No files");
    const QString barePath = m_dir->filePath("bare.md");
    const ExportResult noBundle = NoteCommands::exportNoteToPath(
        m_state.get(), bare, barePath, ExportFormat::Markdown, true);
    QVERIFY(noBundle.ok);
    QCOMPARE(noBundle.path, barePath);
    QVERIFY(!QFile::exists(m_dir->filePath("bare.zip")));
}

void TestDialogs::printWithoutNoteSaysSo()
{
    QTextDocument document;
    QString status;
    NoteCommands::printPreviewNote(m_state.get(), QString(), &document, nullptr,
        [&](const QString &text, int) { status = text; });
    QCOMPARE(status, QStringLiteral("No note selected"));
    status.clear();
    QVERIFY(!NoteCommands::printNote(m_state.get(), QString(), &document, nullptr,
        [&](const QString &text, int) { status = text; }));
    QCOMPARE(status, QStringLiteral("No note selected"));
}

void TestDialogs::printPreviewTitleAndPages()
{
    const Note note = addNote("Shopping list");
    QTextDocument document;
    document.setPlainText("Shopping list\nmilk\neggs");
    QString title;
    QSize size;
    ModalScript script({ [&](QWidget *modal) {
        auto *preview = qobject_cast<QPrintPreviewDialog *>(modal);
        if (!preview)
            return false;
        title = preview->windowTitle();
        size = preview->size();
        preview->reject();
        return true;
    } });
    NoteCommands::printPreviewNote(m_state.get(), note.id, &document, nullptr, {});
    QCOMPARE(title, QStringLiteral("Print Preview — Shopping list"));
    QCOMPARE(size, QSize(900, 700));
}

void TestDialogs::backupAndRestoreCommands()
{
    addNote("kept");
    const int noteCount = int(m_state->notes()->allNotes().size());
    QTemporaryDir out;
    const QString zipPath = out.filePath("backup.zip");
    QCOMPARE(BackupCommands::backupTo(m_state.get(), nullptr, zipPath),
        QStringLiteral("Backup saved: %1 notes").arg(noteCount));

    QString title;
    QString text;
    {
        ModalScript script({ answerBox(QMessageBox::Ok, &title, &text) });
        BackupCommands::restoreFrom(m_state.get(), nullptr, zipPath);
    }
    QCOMPARE(title, QStringLiteral("Restore Complete"));
    QCOMPARE(text, QStringLiteral("Imported: 0\nSkipped: %1\nErrors: 0").arg(noteCount));

    // A broken archive says why, and the collection stays as it was.
    QFile broken(out.filePath("broken.zip"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("PK not really");
    broken.close();
    {
        ModalScript script({ answerBox(QMessageBox::Ok, &title, &text) });
        BackupCommands::restoreFrom(m_state.get(), nullptr, broken.fileName());
    }
    QCOMPARE(
        text, QStringLiteral("Imported: 0\nSkipped: 0\nErrors: 1\n\nFailed to extract backup"));
    QCOMPARE(int(m_state->notes()->allNotes().size()), noteCount);

    // A destination that cannot be written is a warning, not a status-bar success.
    {
        ModalScript script({ answerBox(QMessageBox::Ok, &title, &text) });
        QCOMPARE(BackupCommands::backupTo(m_state.get(), nullptr, out.filePath("no/such/dir.zip")),
            QString());
    }
    QCOMPARE(title, QStringLiteral("Backup Failed"));
    QVERIFY2(text.startsWith(QStringLiteral("Failed to create ZIP: ")), qPrintable(text));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
