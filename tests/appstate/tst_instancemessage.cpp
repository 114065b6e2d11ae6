#include "instancemessage.h"

#include <QTest>

class tst_InstanceMessage : public QObject
{
    Q_OBJECT

private slots:
    void messageFollowsCommandLine_data();
    void messageFollowsCommandLine();
};

void tst_InstanceMessage::messageFollowsCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("newNote");
    QTest::addColumn<QString>("noteId");

    const QString app = QStringLiteral("brevaro-notes");
    QTest::addRow("no options") << QStringList { app } << "focus" << false << QString();
    QTest::addRow("new note") << QStringList { app, "--new-note" } << "new-note" << true
                              << QString();
    QTest::addRow("note with id") << QStringList { app, "--note", "abc" } << "note:abc" << false
                                  << "abc";
    QTest::addRow("new note wins over note")
        << QStringList { app, "--note", "abc", "--new-note" } << "new-note" << true << "abc";
    QTest::addRow("note as last argument is ignored")
        << QStringList { app, "--note" } << "focus" << false << QString();
    QTest::addRow("only the first note counts") << QStringList { app, "--note", "first", "--note",
        "second" } << "note:first" << false << "first";
    QTest::addRow("trailing note after a complete one")
        << QStringList { app, "--note", "first", "--note" } << "note:first" << false << "first";
    QTest::addRow("options are case-sensitive")
        << QStringList { app, "--NEW-NOTE", "--Note", "x" } << "focus" << false << QString();
    QTest::addRow("program name is not an option")
        << QStringList { "--note", "x" } << "focus" << false << QString();
    QTest::addRow("id that looks like an option")
        << QStringList { app, "--note", "--note" } << "note:--note" << false << "--note";
    QTest::addRow("non-ASCII id") << QStringList { app, "--note", "notiz-ä" } << "note:notiz-ä"
                                  << false << "notiz-ä";
}

void tst_InstanceMessage::messageFollowsCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QFETCH(bool, newNote);
    QFETCH(QString, noteId);

    QCOMPARE(buildInstanceMessage(arguments), message);
    const InstanceRequest request = parseInstanceRequest(arguments);
    QCOMPARE(request.newNote, newNote);
    QCOMPARE(request.noteId, noteId);
}

QTEST_GUILESS_MAIN(tst_InstanceMessage)
#include "tst_instancemessage.moc"
