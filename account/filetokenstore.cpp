#include "filetokenstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QtDebug>

namespace BrevAccount {

namespace {

constexpr QFileDevice::Permissions OwnerFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions OwnerDirectory
    = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions OthersMask = QFileDevice::ReadGroup | QFileDevice::WriteGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther
    | QFileDevice::ExeOther;
// Two tokens fit in a few kilobytes; anything much larger is not ours.
constexpr qint64 MaxFileSize = 256 * 1024;

} // namespace

FileTokenStore::FileTokenStore(const QString &directory) : m_directory(directory)
{ }

QString FileTokenStore::filePath() const
{
    return QDir(m_directory).filePath(QStringLiteral("tokens.json"));
}

bool FileTokenStore::ensureDirectory() const
{
    QDir dir(m_directory);
    if (!dir.exists() && !dir.mkpath(QStringLiteral("."))) {
        qWarning().noquote() << "FileTokenStore: cannot create" << m_directory;
        return false;
    }
    const QFileInfo info(m_directory);
    if (!info.isDir() || info.isSymLink()) {
        qWarning().noquote() << "FileTokenStore:" << m_directory << "is not a plain directory";
        return false;
    }
    if ((info.permissions() & OthersMask) && !QFile::setPermissions(m_directory, OwnerDirectory)) {
        qWarning().noquote() << "FileTokenStore: cannot restrict" << m_directory;
        return false;
    }
    return true;
}

QJsonObject FileTokenStore::readAll() const
{
    QFile file(filePath());
    if (!file.exists())
        return {};
    if (file.permissions() & OthersMask) {
        qWarning().noquote() << "FileTokenStore: token file was readable by others; restricting"
                             << file.fileName();
        file.setPermissions(OwnerFile);
    }
    if (file.size() > MaxFileSize || !file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "FileTokenStore: cannot read" << file.fileName();
        return {};
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(MaxFileSize), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qWarning().noquote() << "FileTokenStore: token file is damaged, treating it as empty";
        return {};
    }
    return document.object();
}

bool FileTokenStore::writeAll(const QJsonObject &values) const
{
    if (!ensureDirectory())
        return false;
    QSaveFile file(filePath());
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << "FileTokenStore: cannot write" << file.fileName()
                             << file.errorString();
        return false;
    }
    // Restrict the temporary file before anything secret is written into it; the rename
    // carries these permissions over to the final file.
    if (!file.setPermissions(OwnerFile)) {
        file.cancelWriting();
        qWarning().noquote() << "FileTokenStore: cannot restrict" << file.fileName();
        return false;
    }
    file.write(QJsonDocument(values).toJson(QJsonDocument::Compact));
    if (!file.commit()) {
        qWarning().noquote() << "FileTokenStore: cannot write" << filePath() << file.errorString();
        return false;
    }
    return true;
}

std::optional<QString> FileTokenStore::load(const QString &key)
{
    const QJsonValue value = readAll().value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

bool FileTokenStore::save(const QString &key, const QString &value)
{
    QJsonObject values = readAll();
    values.insert(key, value);
    return writeAll(values);
}

bool FileTokenStore::remove(const QString &key)
{
    QJsonObject values = readAll();
    if (!values.contains(key))
        return true;
    values.remove(key);
    if (values.isEmpty() && QFile::exists(filePath()))
        return QFile::remove(filePath());
    return writeAll(values);
}

} // namespace BrevAccount
