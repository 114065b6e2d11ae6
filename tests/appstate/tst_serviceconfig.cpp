#include "serviceconfig.h"

#include <QTest>

class tst_ServiceConfig : public QObject
{
    Q_OBJECT

private slots:
    void environmentOverridesDefaults();
    void updateClientConfig_data();
    void updateClientConfig();
    void feedbackPageUrl_data();
    void feedbackPageUrl();
};

void tst_ServiceConfig::environmentOverridesDefaults()
{
    qputenv("SYNC_API_URL", "http://127.0.0.1:9/api");
    qputenv("AUTH_BASE_URL", "");
    const ServiceConfig config = ServiceConfig::fromEnvironment();
    qunsetenv("SYNC_API_URL");
    qunsetenv("AUTH_BASE_URL");
    QCOMPARE(config.syncApiUrl, QStringLiteral("http://127.0.0.1:9/api"));
    // An empty variable counts as unset.
    QCOMPARE(config.authBaseUrl, QString::fromLatin1(ServiceDefaults::AuthBaseUrl));
}

void tst_ServiceConfig::updateClientConfig_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QString>("manifestBase");
    QTest::addRow("unset") << QByteArray() << "https://downloads.brevaro.app/notes/stable/";
    QTest::addRow("empty") << QByteArray("") << "https://downloads.brevaro.app/notes/stable/";
    QTest::addRow("own server below a folder") << QByteArray("http://127.0.0.1:8080/downloads")
                                               << "http://127.0.0.1:8080/downloads/notes/stable/";
    QTest::addRow("trailing slash") << QByteArray("http://127.0.0.1:8080/downloads/")
                                    << "http://127.0.0.1:8080/downloads/notes/stable/";
}

void tst_ServiceConfig::updateClientConfig()
{
    QFETCH(QByteArray, variable);
    QFETCH(QString, manifestBase);
    if (variable.isNull())
        qunsetenv("UPDATE_BASE_URL");
    else
        qputenv("UPDATE_BASE_URL", variable);
    ServiceConfig config = ServiceConfig::fromEnvironment();
    qunsetenv("UPDATE_BASE_URL");
    config.appVersion = "1.1.0";
    const BrevUpdate::UpdateConfig update = ::updateClientConfig(config);
    QCOMPARE(update.manifestBaseUrl, manifestBase);
    QCOMPARE(update.appId, "notes");
    QCOMPARE(update.channel, "stable");
    QCOMPARE(update.currentVersion, "1.1.0");
}

void tst_ServiceConfig::feedbackPageUrl_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("expected");
    QTest::addRow("path without slash") << "https://brevaro.app/feedback"
                                        << "https://brevaro.app/feedback/?tags=notes";
    QTest::addRow("path with slash") << "https://brevaro.app/feedback/"
                                     << "https://brevaro.app/feedback/?tags=notes";
    QTest::addRow("bare host") << "https://brevaro.app"
                               << "https://brevaro.app/?tags=notes";
    QTest::addRow("query replaced") << "https://brevaro.app/f?x=1"
                                    << "https://brevaro.app/f/?tags=notes";
}

void tst_ServiceConfig::feedbackPageUrl()
{
    QFETCH(QString, base);
    QFETCH(QString, expected);
    QCOMPARE(::feedbackPageUrl(base).toString(), expected);
}

QTEST_GUILESS_MAIN(tst_ServiceConfig)
#include "tst_serviceconfig.moc"
