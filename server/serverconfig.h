#pragma once

#include <QHostAddress>
#include <QString>

// Everything a server instance needs to start; filled from the command line and environment.
struct ServerConfig
{
    QString dataDir;
    QHostAddress listenAddress = QHostAddress::LocalHost;
    quint16 port = 8080;

    // "sqlite" (one file in dataDir) or "postgres" (the pg* fields below).
    QString databaseKind = QStringLiteral("sqlite");
    QString pgHost = QStringLiteral("127.0.0.1");
    int pgPort = 5432;
    QString pgDatabase = QStringLiteral("brevaro_notes");
    QString pgUser;
    QString pgPassword;

    QString realmSlug = QStringLiteral("brevaro");
    // When non-empty, the login page accepts only this client id.
    QString clientId;
    // Folder whose files are served below "/downloads/"; defaults to dataDir/downloads.
    QString downloadsDir;

    qint64 maxJsonBytes = 16LL * 1024 * 1024;
    qint64 maxAttachmentBytes = 100LL * 1024 * 1024;
    int maxGroupSeats = 10;
    int accessTokenSeconds = 15 * 60;

    // Tests and benchmarks lower the Argon2id cost; verification reads the cost from each hash.
    bool cheapPasswordHashing = false;
};
