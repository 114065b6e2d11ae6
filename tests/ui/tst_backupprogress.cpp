// The progress dialog of File > Backup and File > Restore: it appears once the work has run for
// half a second and not for a quick one, and Cancel on a backup leaves no file behind.
#include "appstate.h"
#include "backupcommands.h"
#include "modalanswers.h"
#include "noterepository.h"
#include "notewriter.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatadir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Notes whether a progress dialog was shown at any time while it lives.
class ProgressDialogWatch final : public QObject
{
public:
    ProgressDialogWatch() { qApp->installEventFilter(this); }
    bool shown() const { return m_shown; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QProgressDialog *>(watched))
            m_shown = true;
        return false;
    }

private:
    bool m_shown = false;
};

struct Collection
{
    Collection()
    {
        state->setTokenStore(std::make_unique<MemoryTokenStore>());
        ok = state->initialize();
    }

    // Every note (trashed ones included), id → body.
    QMap<QString, QString> bodies() const
    {
        QMap<QString, QString> found;
        const QList<Note> notes = state->notes()->allNotes() + state->notes()->trashedNotes();
        for (const Note &note : notes)
            found.insert(note.id, note.body);
        return found;
    }

    TestDataDir dir;
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    bool ok = false;
};

} // namespace

class TestBackupProgress : public QObject
{
    Q_OBJECT

private slots:
    void progressDialogFollowsTheWork_data();
    void progressDialogFollowsTheWork();
};

void TestBackupProgress::progressDialogFollowsTheWork_data()
{
    QTest::addColumn<bool>("restore");
    QTest::addColumn<bool>("hold");
    QTest::addColumn<bool>("cancel");

    QTest::addRow("quick backup") << false << false << false;
    QTest::addRow("long backup") << false << true << false;
    QTest::addRow("long backup cancelled") << false << true << true;
    QTest::addRow("quick restore") << true << false << false;
    QTest::addRow("long restore") << true << true << false;
}

void TestBackupProgress::progressDialogFollowsTheWork()
{
    QFETCH(bool, restore);
    QFETCH(bool, hold);
    QFETCH(bool, cancel);

    // Holding the work where it lets events through stands for a long backup or restore: the
    // dialog has to appear by itself after half a second, with no further progress reported.
    bool cancelled = false;
    const BackupCommands::WorkStep step = [&](QProgressDialog *dialog) {
        if (!hold || cancelled)
            return;
        QTRY_VERIFY(dialog->isVisible());
        if (cancel) {
            auto *cancel = dialog->findChild<QAbstractButton *>();
            QVERIFY(cancel);
            cancel->click();
            cancelled = true;
        }
    };

    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString archive = out.filePath(QStringLiteral("backup.zip"));
    // An older backup of the same name survives a cancelled one untouched.
    const QByteArray older("an older backup");
    QMap<QString, QString> backedUp;
    {
        Collection source;
        QVERIFY(source.ok);
        for (int i = 0; i < 40; ++i)
            QVERIFY(source.state->writer()->createNote(
                QString(), bodyOf(QStringLiteral("Note %1").arg(i))));
        QVERIFY(source.state->writer()->trashNote(source.state->notes()->allNoteIds().first()));
        backedUp = source.bodies();

        QFile file(archive);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(older);
        file.close();

        ProgressDialogWatch watch;
        const QString status = BackupCommands::backupTo(
            source.state.get(), nullptr, archive, restore ? BackupCommands::WorkStep() : step);
        QVERIFY(!QTest::currentTestFailed());
        if (!restore) {
            QCOMPARE(watch.shown(), hold);
            QVERIFY(!QApplication::activeModalWidget());
            if (cancel) {
                QCOMPARE(status, QString());
                QVERIFY(file.open(QIODevice::ReadOnly));
                QCOMPARE(file.readAll(), older);
                QCOMPARE(QDir(out.path()).entryList(QDir::Files),
                    QStringList { QStringLiteral("backup.zip") });
                return;
            }
        }
        QCOMPARE(status, QStringLiteral("Backup saved: %1 notes").arg(backedUp.size()));
    }
    if (!restore)
        return;

    Collection target;
    QVERIFY(target.ok);
    const QMap<QString, QString> before = target.bodies();
    ProgressDialogWatch watch;
    QString title;
    ModalScript answers({ answerBox(QMessageBox::Ok, &title) });
    const ImportResult result
        = BackupCommands::restoreFrom(target.state.get(), nullptr, archive, step);
    QVERIFY(!QTest::currentTestFailed());
    QCOMPARE(watch.shown(), hold);
    QCOMPARE(title, QStringLiteral("Restore Complete"));
    QCOMPARE(result.errors, 0);
    // Notes already there (the welcome notes) are kept as they are.
    QMap<QString, QString> expected = backedUp;
    expected.insert(before);
    QCOMPARE(target.bodies(), expected);
}

QTEST_MAIN(TestBackupProgress)
#include "tst_backupprogress.moc"
