#include "logging.h"

#include <QTest>

class tst_Logging : public QObject
{
    Q_OBJECT

private slots:
    void linesArePlainText_data();
    void linesArePlainText();
};

void tst_Logging::linesArePlainText_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("category");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");

    QTest::addRow("info in the default category")
        << int(QtInfoMsg) << QByteArray("default") << "Opening database at: /data/x.db"
        << "2026-12-07 21:40:01.123 info: Opening database at: /data/x.db";
    QTest::addRow("warning in a named category")
        << int(QtWarningMsg) << QByteArray("brevupdate.client") << "update check failed: 404"
        << "2026-12-07 21:40:01.123 warning: brevupdate.client: update check failed: 404";
    QTest::addRow("critical without category")
        << int(QtCriticalMsg) << QByteArray() << "Failed to open database: disk I/O error"
        << "2026-12-07 21:40:01.123 critical: Failed to "
           "open database: disk I/O error";
    QTest::addRow("debug") << int(QtDebugMsg) << QByteArray("default") << "x"
                           << "2026-12-07 21:40:01.123 debug: x";
}

void tst_Logging::linesArePlainText()
{
    QFETCH(int, type);
    QFETCH(QByteArray, category);
    QFETCH(QString, message);
    QFETCH(QString, line);

    const QDateTime when(QDate(2026, 12, 7), QTime(21, 40, 1, 123));
    QCOMPARE(Logging::formatLine(QtMsgType(type),
                 category.isNull() ? nullptr : category.constData(), message, when),
        line);
}

QTEST_GUILESS_MAIN(tst_Logging)
#include "tst_logging.moc"
