// Expected texts read best as plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "appstate.h"
#include "database.h"
#include "deltaformat.h"
#include "modalanswers.h"
#include "noteeditor.h"
#include "noterepository.h"
#include "snapshotrepository.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"
#include "versionhistorydialog.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <memory>

class TestVersionHistory : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layoutAndEmptyList();
    void newestVersionFirst();
    void saveSnapshotNowKeepsOnePerVersion();
    void savedSnapshotStaysSelectedAndPreviewed();
    void ctrlSSavesSnapshot();
    void selectionPreviewsReadOnly();
    void restore_data();
    void restore();
    void listeningViewReloadsRestoredBody();
    void failedRestoreIsNotReportedAsSuccess();

private:
    Note addNote(const QString &text, int version);
    Snapshot addSnapshot(int version, const QString &text, const QDateTime &createdAt);
    QStringList rowTexts(QListWidget *list) const;

    std::unique_ptr<TestDataDir> m_dir;
    std::unique_ptr<AppState> m_state;
    Note m_note;
};

void TestVersionHistory::init()
{
    m_dir = std::make_unique<TestDataDir>();
    QVERIFY(m_dir->isValid());
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(m_state->initialize());
    m_note = addNote("current words", 3);
}

void TestVersionHistory::cleanup()
{
    m_state.reset();
    m_dir.reset();
}

Note TestVersionHistory::addNote(const QString &text, int version)
{
    Note note = TestDatabase::makeNote(
        bodyOf(text), QString(), QDateTime::currentDateTimeUtc().addDays(-1));
    note.version = version;
    note.syncStatus = SyncStatus::Synced;
    if (!m_state->notes()->insert(note))
        return Note();
    return note;
}

Snapshot TestVersionHistory::addSnapshot(
    int version, const QString &text, const QDateTime &createdAt)
{
    Snapshot snapshot;
    snapshot.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    snapshot.noteId = m_note.id;
    snapshot.version = version;
    snapshot.body = bodyOf(text);
    snapshot.createdAt = createdAt;
    if (!m_state->snapshots()->insert(snapshot))
        return Snapshot();
    return snapshot;
}

QStringList TestVersionHistory::rowTexts(QListWidget *list) const
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts;
}

void TestVersionHistory::layoutAndEmptyList()
{
    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    QCOMPARE(dialog.windowTitle(), QString("Version History"));
    QCOMPARE(dialog.saveSnapshotButton()->text(), QString("Save Snapshot Now"));
    QCOMPARE(dialog.restoreButton()->text(), QString("Restore Selected"));
    QVERIFY(dialog.previewEditor()->isReadOnly());
    QCOMPARE(rowTexts(dialog.snapshotList()),
        QStringList { "No snapshots yet. Press Ctrl+S to save one." });

    // The hint is not a snapshot: it cannot be picked, and restoring from it does nothing.
    dialog.snapshotList()->setCurrentRow(0);
    QVERIFY(!dialog.restoreButton()->isEnabled());
    MessageBoxAnswerer answerer({ QMessageBox::Yes, QMessageBox::Ok });
    dialog.restoreSelected();
    QVERIFY(answerer.titles().isEmpty());
    QCOMPARE(m_state->notes()->noteById(m_note.id)->version, 3);
}

void TestVersionHistory::newestVersionFirst()
{
    const QDateTime when(QDate(2024, 3, 9), QTime(14, 5), Qt::UTC);
    const Snapshot three = addSnapshot(3, "three", when);
    const Snapshot seven = addSnapshot(7, "seven", when.addDays(1));
    const Snapshot five = addSnapshot(5, "five", when.addDays(2));
    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    const auto label = [](int version, const QDateTime &at) {
        return QString("v%1 \u2014 %2")
            .arg(version)
            .arg(at.toLocalTime().toString("MMM d, yyyy h:mm AP"));
    };
    QCOMPARE(rowTexts(dialog.snapshotList()),
        (QStringList {
            label(7, seven.createdAt), label(5, five.createdAt), label(3, three.createdAt) }));
    QCOMPARE(dialog.snapshotList()->item(0)->data(Qt::UserRole).toString(), seven.id);
    QCOMPARE(dialog.snapshotList()->item(2)->data(Qt::UserRole).toString(), three.id);
    QVERIFY(!dialog.restoreButton()->isEnabled());
}

void TestVersionHistory::saveSnapshotNowKeepsOnePerVersion()
{
    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    QTest::mouseClick(dialog.saveSnapshotButton(), Qt::LeftButton);
    const QList<Snapshot> first = m_state->snapshots()->snapshotsForNote(m_note.id);
    QCOMPARE(first.size(), 1);
    QTest::qWait(5); // the second press must carry a later time than the first
    QTest::mouseClick(dialog.saveSnapshotButton(), Qt::LeftButton);

    const QList<Snapshot> snapshots = m_state->snapshots()->snapshotsForNote(m_note.id);
    QCOMPARE(snapshots.size(), 1);
    QCOMPARE(snapshots.first().version, 3);
    QCOMPARE(snapshots.first().body, m_note.body);
    QVERIFY(snapshots.first().createdAt > first.first().createdAt);
    QCOMPARE(dialog.snapshotList()->count(), 1);
    QCOMPARE(dialog.snapshotList()->item(0)->data(Qt::UserRole).toString(), snapshots.first().id);
}

void TestVersionHistory::savedSnapshotStaysSelectedAndPreviewed()
{
    addSnapshot(1, "first draft", QDateTime::currentDateTimeUtc().addSecs(-600));
    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    dialog.show();
    dialog.snapshotList()->setCurrentRow(0);
    QCOMPARE(dialog.previewEditor()->toPlainText(), QString("first draft"));

    QTest::mouseClick(dialog.saveSnapshotButton(), Qt::LeftButton);
    QCOMPARE(dialog.snapshotList()->count(), 2);
    QCOMPARE(dialog.snapshotList()->currentRow(), 0);
    QVERIFY(dialog.snapshotList()->currentItem()->isSelected());
    QCOMPARE(dialog.snapshotList()->currentItem()->data(Qt::UserRole).toString(),
        m_state->snapshots()->snapshotsForNote(m_note.id).first().id);
    QCOMPARE(dialog.previewEditor()->toPlainText(), QString("current words"));
    QVERIFY(dialog.restoreButton()->isEnabled());

    // With nothing selected the preview's hint speaks of snapshots, not of notes.
    dialog.snapshotList()->setCurrentRow(-1);
    QCOMPARE(
        dialog.previewEditor()->placeholderText(), QString("Select a snapshot to preview it."));
}

void TestVersionHistory::ctrlSSavesSnapshot()
{
    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    // Through the window, as a real key press arrives, so the shortcut map sees it.
    QTest::keyClick(dialog.windowHandle(), Qt::Key_S, Qt::ControlModifier);
    // A button's shortcut clicks it with a short animation.
    QTRY_COMPARE(m_state->snapshots()->snapshotsForNote(m_note.id).size(), 1);
}

void TestVersionHistory::selectionPreviewsReadOnly()
{
    addSnapshot(1, "first draft", QDateTime::currentDateTimeUtc().addSecs(-600));
    addSnapshot(2, "second draft", QDateTime::currentDateTimeUtc().addSecs(-300));
    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    dialog.snapshotList()->setCurrentRow(1);
    QVERIFY(dialog.restoreButton()->isEnabled());
    QCOMPARE(dialog.previewEditor()->toPlainText(), QString("first draft"));
    QVERIFY(dialog.previewEditor()->isReadOnly());
    dialog.snapshotList()->setCurrentRow(0);
    QCOMPARE(dialog.previewEditor()->toPlainText(), QString("second draft"));
    QVERIFY(dialog.previewEditor()->isReadOnly());
    dialog.snapshotList()->setCurrentRow(-1);
    QVERIFY(!dialog.restoreButton()->isEnabled());
    QCOMPARE(dialog.previewEditor()->toPlainText(), QString());
}

void TestVersionHistory::restore_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addRow("confirmed") << QMessageBox::Yes;
    QTest::addRow("declined") << QMessageBox::No;
}

void TestVersionHistory::restore()
{
    QFETCH(QMessageBox::StandardButton, answer);
    const bool confirmed = answer == QMessageBox::Yes;
    const Snapshot old = addSnapshot(1, "old words", QDateTime::currentDateTimeUtc().addDays(-2));
    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    QSignalSpy updated(m_state.get(), &AppState::noteUpdatedExternally);
    QSignalSpy restored(&dialog, &VersionHistoryDialog::noteRestored);
    dialog.snapshotList()->setCurrentRow(0);

    MessageBoxAnswerer answerer({ answer, QMessageBox::Ok });
    QTest::mouseClick(dialog.restoreButton(), Qt::LeftButton);

    QCOMPARE(answerer.titles().value(0), QString("Restore Snapshot"));
    QCOMPARE(answerer.texts().value(0),
        QString("Replace current content with this snapshot? A snapshot of the current content "
                "will be saved first."));
    const Note note = *m_state->notes()->noteById(m_note.id);
    const QList<Snapshot> snapshots = m_state->snapshots()->snapshotsForNote(m_note.id);
    if (!confirmed) {
        QCOMPARE(answerer.titles().size(), 1);
        QCOMPARE(note.body, m_note.body);
        QCOMPARE(note.version, 3);
        QCOMPARE(snapshots.size(), 1);
        QCOMPARE(updated.count(), 0);
        return;
    }
    QCOMPARE(answerer.titles().value(1), QString("Restored"));
    QCOMPARE(answerer.texts().value(1), QString("Snapshot restored successfully."));
    QCOMPARE(note.body, old.body);
    QCOMPARE(note.version, 4);
    QCOMPARE(note.syncStatus, SyncStatus::Pending);
    QVERIFY(note.updatedAt > m_note.updatedAt);
    QCOMPARE(note.modifiedAt, note.updatedAt);
    // The content it replaced is kept first, at the version it had.
    QCOMPARE(snapshots.size(), 2);
    QCOMPARE(snapshots.first().version, 3);
    QCOMPARE(snapshots.first().body, m_note.body);
    QVERIFY(dialog.snapshotList()->item(0)->text().startsWith("v3 \u2014 "));
    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.first().at(0).toString(), m_note.id);
    QCOMPARE(updated.first().at(1).value<QObject *>(), &dialog);
    QCOMPARE(restored.count(), 1);
}

void TestVersionHistory::listeningViewReloadsRestoredBody()
{
    addSnapshot(2, "restored words", QDateTime::currentDateTimeUtc().addDays(-1));
    // A view that shows the note and reloads it when someone else rewrites it, as windows do.
    NoteEditor view;
    view.setNote(m_note.id, m_note.body);
    connect(m_state.get(), &AppState::noteUpdatedExternally, &view,
        [this, &view](const QString &noteId, QObject *source) {
            if (source == &view || noteId != view.noteId() || !view.isSaved())
                return;
            if (const auto note = m_state->notes()->noteById(noteId))
                view.setNote(noteId, note->body);
        });
    QCOMPARE(view.toPlainText(), QString("current words"));

    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    dialog.snapshotList()->setCurrentRow(0);
    MessageBoxAnswerer answerer({ QMessageBox::Yes, QMessageBox::Ok });
    dialog.restoreSelected();
    QCOMPARE(view.toPlainText(), QString("restored words"));
    QVERIFY(view.isSaved());
}

void TestVersionHistory::failedRestoreIsNotReportedAsSuccess()
{
    addSnapshot(1, "old words", QDateTime::currentDateTimeUtc().addDays(-1));
    VersionHistoryDialog dialog(m_state.get(), m_note.id);
    dialog.snapshotList()->setCurrentRow(0);
    QSqlQuery query(m_state->database()->connection());
    QVERIFY(query.exec("CREATE TEMP TRIGGER refuse_update BEFORE UPDATE ON notes "
                       "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    QSignalSpy updated(m_state.get(), &AppState::noteUpdatedExternally);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^NoteRepository::update failed:"));
    MessageBoxAnswerer answerer({ QMessageBox::Yes, QMessageBox::Ok });
    dialog.restoreSelected();

    QCOMPARE(answerer.titles(), (QStringList { "Restore Snapshot", "Restore Snapshot" }));
    QVERIFY(answerer.texts().value(1) != QString("Snapshot restored successfully."));
    QCOMPARE(updated.count(), 0);
    QCOMPARE(m_state->notes()->noteById(m_note.id)->body, m_note.body);
    QCOMPARE(m_state->notes()->noteById(m_note.id)->version, 3);
}

QTEST_MAIN(TestVersionHistory)
#include "tst_versionhistory.moc"
