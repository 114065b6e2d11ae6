#include "paths.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

namespace {

const QString kDatabasePrefix = QStringLiteral("brevaro_notes_");
const QString kDatabaseSuffix = QStringLiteral(".db");

QString newIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// A lost identifier (an emptied or missing client_id next to an existing database) would
// otherwise open a new, empty database and hide every note. Adopt the newest database instead.
QString identifierOfExistingDatabase(const QString &directory)
{
    static const QRegularExpression idPattern(
        QStringLiteral("\\A[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\z"));
    const QFileInfoList candidates = QDir(directory).entryInfoList(
        { kDatabasePrefix + QLatin1Char('*') + kDatabaseSuffix }, QDir::Files, QDir::Time);
    for (const QFileInfo &info : candidates) {
        const QString name = info.fileName();
        const QString id = name.mid(
            kDatabasePrefix.size(), name.size() - kDatabasePrefix.size() - kDatabaseSuffix.size());
        if (idPattern.match(id).hasMatch())
            return id;
    }
    return QString();
}

// The identifier becomes part of a file name: anything that could leave the data directory or
// make an odd name is treated as no identifier at all.
bool isUsableIdentifier(const QString &id)
{
    if (id.isEmpty() || id.size() > 128 || id.contains(QLatin1String("..")))
        return false;
    for (const QChar c : id) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')
            || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

bool writeIdentifier(const QString &path, const QString &id)
{
    // QSaveFile: a crash while writing must not leave an empty client_id behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    file.write(id.toUtf8());
    return file.commit();
}

} // namespace

QString dataDirectory()
{
    const QByteArray fromEnvironment = qgetenv("NOTES_DATA_DIR");
    if (!fromEnvironment.isEmpty()) {
        const QString path = QString::fromUtf8(fromEnvironment);
        QDir().mkpath(path);
        return path;
    }
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Brevaro/Notes");
    if (!QFileInfo::exists(path))
        QDir().mkpath(path);
    return path;
}

QString attachmentsDirectory()
{
    return attachmentsDirectory(dataDirectory());
}

QString attachmentsDirectory(const QString &dataDir)
{
    const QString path = dataDir + QStringLiteral("/attachments");
    if (!QFileInfo::exists(path))
        QDir().mkpath(path);
    return path;
}

QString clientId()
{
    return clientId(dataDirectory());
}

QString clientId(const QString &directory)
{
    const QString path = directory + QStringLiteral("/client_id");

    QFile file(path);
    if (file.exists() && file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString id = QString::fromUtf8(file.readAll()).trimmed();
        if (isUsableIdentifier(id))
            return id;
        if (!id.isEmpty())
            qWarning().noquote() << "client_id holds no usable identifier; making a new one";
    }
    file.close();

    // An identifier that could not be saved is still reused for the rest of this run, so that
    // every path asked for during one run names the same database.
    static QHash<QString, QString> unsaved;
    if (const auto it = unsaved.constFind(directory); it != unsaved.constEnd())
        return it.value();

    QString id = identifierOfExistingDatabase(directory);
    if (!id.isEmpty())
        qWarning().noquote() << "client_id missing or empty; using the existing database" << id;
    else
        id = newIdentifier();
    if (!writeIdentifier(path, id)) {
        qWarning().noquote() << "Could not write client identifier to" << path;
        unsaved.insert(directory, id);
    }
    return id;
}

QString databasePath()
{
    return databasePath(dataDirectory());
}

QString databasePath(const QString &dataDir)
{
    QDir().mkpath(dataDir);
    return dataDir + QLatin1Char('/') + kDatabasePrefix + clientId(dataDir) + kDatabaseSuffix;
}
