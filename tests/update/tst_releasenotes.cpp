#include "manifest.h"
#include "releasenotesfetcher.h"
#include "releasenotesview.h"
#include "updatefixture.h"
#include "whatsnewdialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace UpdateFixture;
using BrevUpdate::ReleaseNotesFetcher;
using BrevUpdate::WhatsNewDialog;

using Routes = QMap<QString, ScriptedReply>;
Q_DECLARE_METATYPE(Routes)

namespace {

const QString GermanPath = QStringLiteral("/notes/1.1.0/release-notes.de.md");

void serve(RecordingHttpServer &server, const Routes &routes)
{
    for (auto it = routes.begin(); it != routes.end(); ++it)
        server.setReply("GET", it.key(), it.value());
}

QStringList requestedPaths(const RecordingHttpServer &server)
{
    QStringList paths;
    for (const RecordedRequest &request : server.requests())
        paths << request.path;
    return paths;
}

WhatsNewDialog *openWhatsNew()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<WhatsNewDialog *>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

} // namespace

class tst_ReleaseNotes : public QObject
{
    Q_OBJECT

private slots:
    void fetchPrefersTranslation_data();
    void fetchPrefersTranslation();
    void releaseNotesFlows_data();
    void releaseNotesFlows();
    void notesNeverReachLocalFiles();
};

void tst_ReleaseNotes::fetchPrefersTranslation_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<Routes>("routes");
    QTest::addColumn<QString>("notes"); // empty: unavailable
    QTest::addColumn<QStringList>("requested");

    const QString german = GermanPath;
    const QString english = NotesPath;
    QTest::addRow("German translation served")
        << "de_DE" << Routes { { german, markdown("  # Neu\n") }, { english, markdown("# New") } }
        << "# Neu" << QStringList { german };
    QTest::addRow("German translation missing")
        << "de_DE" << Routes { { english, markdown("# New") } } << "# New"
        << QStringList { german, english };
    QTest::addRow("German translation blank")
        << "de_DE" << Routes { { german, markdown(" \n\t\n") }, { english, markdown("# New") } }
        << "# New" << QStringList { german, english };
    QTest::addRow("English asks once") << "en_US" << Routes { { english, markdown("# New") } }
                                       << "# New" << QStringList { english };
    QTest::addRow("C locale asks once")
        << "C" << Routes { { english, markdown("# New") } } << "# New" << QStringList { english };
    QTest::addRow("only whitespace") << "en_US" << Routes { { english, markdown("\n   \n") } }
                                     << QString() << QStringList { english };
    QTest::addRow("no notes for this version")
        << "fr_FR" << Routes {} << QString()
        << QStringList { "/notes/1.1.0/release-notes.fr.md", english };
    QTest::addRow("HTML page served as notes")
        << "en_US"
        << Routes { { english,
               ScriptedReply::raw(200, "<!doctype html><p>Login</p>", "text/plain") } }
        << QString() << QStringList { english };
    QTest::addRow("HTML content type")
        << "en_US"
        << Routes { { english, ScriptedReply::raw(200, "# New", "text/html; charset=utf-8") } }
        << QString() << QStringList { english };
    QTest::addRow("binary, not UTF-8")
        << "en_US" << Routes { { english, markdown("\xff\xfe\x00\x01 x") } } << QString()
        << QStringList { english };
    QTest::addRow("notes over 1 MB")
        << "en_US" << Routes { { english, markdown(QByteArray(1100000, 'x')) } } << QString()
        << QStringList { english };
}

void tst_ReleaseNotes::fetchPrefersTranslation()
{
    QFETCH(QString, locale);
    QFETCH(Routes, routes);
    QFETCH(QString, notes);
    QFETCH(QStringList, requested);

    RecordingHttpServer server;
    QVERIFY(server.listen());
    serve(server, routes);
    ReleaseNotesFetcher fetcher(config(server));
    fetcher.setLocaleName(locale);
    QSignalSpy ready(&fetcher, &ReleaseNotesFetcher::notesReady);
    QSignalSpy unavailable(&fetcher, &ReleaseNotesFetcher::notesUnavailable);

    fetcher.fetch();
    QTRY_COMPARE(ready.size() + unavailable.size(), 1);
    QTest::qWait(20);
    QCOMPARE(ready.size() + unavailable.size(), 1);
    QCOMPARE(requestedPaths(server), requested);
    QCOMPARE(server.requests().first().header("user-agent"), "BrevUpdateQt/0.1 (notes)");
    if (notes.isEmpty())
        QCOMPARE(unavailable.size(), 1);
    else
        QCOMPARE(ready.first().first().toString(), notes);
}

// Help > What's New (`menu`) and the start-up showing after an upgrade.
void tst_ReleaseNotes::releaseNotesFlows_data()
{
    QTest::addColumn<bool>("menu");
    QTest::addColumn<Routes>("routes");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("title"); // empty: no dialog
    QTest::addColumn<QString>("download"); // the download button's text, or empty

    const QString key = BrevUpdate::currentPlatformKey();
    const QString loading = "message: Loading release notes…";
    const QString none = "timed 5000: No release notes available for Brevaro Notes 1.1.0";
    const ScriptedReply current = markdown("# Tables\n\nTables can be sorted.");
    const ScriptedReply newerNotes = markdown("# Tags\n\nNotes can be tagged.");
    const QJsonObject notesUrl { { "release_notes_url", "NOTES_URL" } };

    QTest::addRow("menu: notes of this version")
        << true << Routes { { NotesPath, current } } << QStringList { loading, "finished" }
        << "What's New in Brevaro Notes 1.1.0" << QString();
    QTest::addRow("menu: notes of a newer release")
        << true
        << Routes { { ManifestPath, json(manifest({ { key, artifact("1.2.0", notesUrl) } })) },
               { "/notes/1.2.0/release-notes.md", newerNotes } }
        << QStringList { loading, "finished" } << "What's New in Brevaro Notes 1.2.0"
        << "Download 1.2.0";
    QTest::addRow("menu: newer release without notes")
        << true << Routes { { ManifestPath, json(manifest({ { key, artifact("1.2.0") } })) } }
        << QStringList { loading, "finished", none } << QString() << QString();
    QTest::addRow("menu: up to date")
        << true << Routes {} << QStringList { loading, "finished", none } << QString() << QString();
    QTest::addRow("after upgrade: notes shown")
        << false << Routes { { NotesPath, current } } << QStringList {}
        << "What's New in Brevaro Notes 1.1.0" << QString();
    QTest::addRow("after upgrade: no notes, nothing shown")
        << false
        << Routes { { ManifestPath, json(manifest({ { key, artifact("1.2.0", notesUrl) } })) } }
        << QStringList {} << QString() << QString();
}

void tst_ReleaseNotes::releaseNotesFlows()
{
    QFETCH(bool, menu);
    QFETCH(Routes, routes);
    QFETCH(QStringList, log);
    QFETCH(QString, title);
    QFETCH(QString, download);
    if (BrevUpdate::currentPlatformKey().isEmpty())
        QSKIP("no builds are published for this platform");

    RecordingHttpServer server;
    QVERIFY(server.listen());
    for (auto it = routes.begin(); it != routes.end(); ++it) {
        ScriptedReply reply = it.value();
        reply.body.replace("NOTES_URL", server.url("/notes/1.2.0/release-notes.md").toEncoded());
        server.setReply("GET", it.key(), reply);
    }
    QWidget window;
    CallbackLog calls;
    if (menu)
        BrevUpdate::showReleaseNotes(config(server), "Brevaro Notes", &window, calls.callbacks());
    else
        BrevUpdate::showWhatsNew(config(server), "Brevaro Notes", &window);

    if (title.isEmpty()) {
        if (menu)
            QTRY_COMPARE(calls.lines, log);
        else
            QTRY_VERIFY(server.count(NotesPath) == 1);
        QTest::qWait(100);
        QVERIFY(!openWhatsNew());
        QCOMPARE(calls.lines, log);
        // The start-up showing never asks for the manifest.
        if (!menu)
            QCOMPARE(server.count(ManifestPath), 0);
        return;
    }
    WhatsNewDialog *dialog = nullptr;
    QTRY_VERIFY((dialog = openWhatsNew()));
    std::unique_ptr<WhatsNewDialog> closer(dialog);
    QCOMPARE(calls.lines, log);
    QCOMPARE(dialog->parentWidget(), &window);
    QCOMPARE(dialog->windowTitle(), title);
    QCOMPARE(
        dialog->findChild<QLabel *>("runningVersion")->text(), "You are running version 1.1.0");
    QVERIFY(dialog->notesView()->toPlainText().contains(download.isEmpty() ? "Tables" : "Tags"));
    QCOMPARE(dialog->downloadButton() ? dialog->downloadButton()->text() : QString(), download);
}

void tst_ReleaseNotes::notesNeverReachLocalFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("secret.png");
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(path));
    const QUrl url = QUrl::fromLocalFile(path);
    WhatsNewDialog dialog(
        "![x](" + url.toString() + ")\n\nText", "1.1.0", "1.1.0", "Brevaro Notes");
    QVERIFY(dialog.notesView()->toPlainText().contains("Text"));
    // Asking the document for the picture is what painting it does.
    QVERIFY(!dialog.notesView()->document()->resource(QTextDocument::ImageResource, url).isValid());
}

QTEST_MAIN(tst_ReleaseNotes)
#include "tst_releasenotes.moc"
