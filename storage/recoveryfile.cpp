#include "recoveryfile.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr int FormatVersion = 1;
// The file is read whole; anything far beyond what unsaved notes need is not this file.
constexpr qint64 MaxFileBytes = 256 * 1024 * 1024;

} // namespace

RecoveryFile::RecoveryFile(const QString &path) : m_path(path)
{ }

QString RecoveryFile::pathIn(const QString &dataDirectory)
{
    return dataDirectory + QStringLiteral("/unsaved_notes.json");
}

bool RecoveryFile::exists() const
{
    return QFile::exists(m_path);
}

QList<RecoveryFile::Entry> RecoveryFile::entries() const
{
    return read().value_or(QList<Entry>());
}

std::optional<QList<RecoveryFile::Entry>> RecoveryFile::read() const
{
    QFile file(m_path);
    if (!file.exists())
        return QList<Entry>();
    if (file.size() > MaxFileBytes || !file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "RecoveryFile: can't read" << m_path;
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    const QJsonObject root = document.object();
    if (error.error != QJsonParseError::NoError || !document.isObject()
        || root.value(QStringLiteral("version")).toInt() != FormatVersion
        || !root.value(QStringLiteral("notes")).isArray()) {
        qWarning().noquote() << "RecoveryFile: not a file of unsaved notes:" << m_path;
        return std::nullopt;
    }
    QList<Entry> result;
    for (const QJsonValue &value : root.value(QStringLiteral("notes")).toArray()) {
        const QJsonObject object = value.toObject();
        Entry entry;
        entry.noteId = object.value(QStringLiteral("noteId")).toString();
        entry.notebookId = object.value(QStringLiteral("notebookId")).toString();
        entry.body = object.value(QStringLiteral("body")).toString();
        entry.baseVersion = object.value(QStringLiteral("baseVersion")).toInt();
        entry.keptAt = QDateTime::fromString(
            object.value(QStringLiteral("keptAt")).toString(), Qt::ISODateWithMs);
        // A text without its note id can still come back as a new note; one without text is
        // nothing to offer.
        if (entry.body.isEmpty()) {
            qWarning().noquote() << "RecoveryFile: skipped an entry without text in" << m_path;
            continue;
        }
        result.append(entry);
    }
    return result;
}

bool RecoveryFile::write(const QList<Entry> &entries)
{
    if (entries.isEmpty()) {
        if (!QFile::exists(m_path) || QFile::remove(m_path))
            return true;
        qWarning().noquote() << "RecoveryFile: can't remove" << m_path;
        return false;
    }
    QJsonArray notes;
    for (const Entry &entry : entries) {
        notes.append(QJsonObject {
            { QStringLiteral("noteId"), entry.noteId },
            { QStringLiteral("notebookId"), entry.notebookId },
            { QStringLiteral("body"), entry.body },
            { QStringLiteral("baseVersion"), entry.baseVersion },
            { QStringLiteral("keptAt"), entry.keptAt.toUTC().toString(Qt::ISODateWithMs) },
        });
    }
    const QJsonObject root {
        { QStringLiteral("version"), FormatVersion },
        { QStringLiteral("notes"), notes },
    };
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning().noquote() << "RecoveryFile: can't write" << m_path << file.errorString();
        return false;
    }
    const QByteArray data = QJsonDocument(root).toJson(QJsonDocument::Compact);
    if (file.write(data) != data.size() || !file.commit()) {
        qWarning().noquote() << "RecoveryFile: can't write" << m_path << file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

bool RecoveryFile::keep(const Entry &entry)
{
    std::optional<QList<Entry>> current = read();
    if (!current) {
        // A damaged file, or one from a newer version: it may hold texts this run cannot read,
        // so it is moved aside under a dated name rather than replaced.
        const QString aside = m_path + QStringLiteral(".unreadable-")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmsszzz"));
        if (!QFile::rename(m_path, aside)) {
            qWarning().noquote() << "RecoveryFile: unsaved text of note" << entry.noteId
                                 << "not kept; can't move aside" << m_path;
            return false;
        }
        qWarning().noquote() << "RecoveryFile: unreadable file moved aside as" << aside;
        current = QList<Entry>();
    }
    QList<Entry> updated;
    for (const Entry &existing : *current) {
        if (entry.noteId.isEmpty() || existing.noteId != entry.noteId)
            updated.append(existing);
    }
    updated.append(entry);
    if (!updated.last().keptAt.isValid())
        updated.last().keptAt = QDateTime::currentDateTimeUtc();
    return write(updated);
}

bool RecoveryFile::remove(const QString &noteId)
{
    if (!exists())
        return true;
    std::optional<QList<Entry>> current = read();
    if (!current)
        return false;
    QList<Entry> updated;
    for (const Entry &existing : *current) {
        if (existing.noteId != noteId)
            updated.append(existing);
    }
    if (updated.size() == current->size())
        return true;
    return write(updated);
}
