#include "syncwire.h"

#include "attachmentrepository.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimeZone>

#include <cmath>

namespace SyncWire {

namespace {

// Year 1 to 9999: what ISO text and the stored times can carry.
constexpr double MinMillis = -62135596800000.0;
constexpr double MaxMillis = 253402300799999.0;

QDateTime fromMillis(double ms)
{
    if (!std::isfinite(ms) || ms < MinMillis || ms > MaxMillis)
        return {};
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), QTimeZone::utc());
}

QString stringField(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

bool boolField(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isBool() && value.toBool();
}

// A non-negative whole number, else the default.
int versionField(const QJsonObject &object, int defaultValue, QString *problem)
{
    const QJsonValue value = object.value(QLatin1String("version"));
    if (value.isUndefined() || value.isNull())
        return defaultValue;
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > 2147483647.0 || std::floor(number) != number) {
        if (problem)
            *problem = QStringLiteral("unusable version");
        return defaultValue;
    }
    return static_cast<int>(number);
}

} // namespace

QDateTime parseTime(const QJsonValue &value)
{
    if (value.isDouble())
        return fromMillis(value.toDouble());
    if (!value.isString())
        return {};
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return {};
    static const QRegularExpression digits(QStringLiteral("^-?\\d{1,16}$"));
    if (digits.match(text).hasMatch())
        return fromMillis(text.toDouble());
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        time = QDateTime::fromString(text, Qt::ISODate);
    if (!time.isValid())
        return {};
    // A time without an offset is the server's, and the server speaks UTC.
    if (time.timeSpec() == Qt::LocalTime)
        time = QDateTime(time.date(), time.time(), QTimeZone::utc());
    return time.toUTC();
}

qint64 parseMillis(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double ms = value.toDouble();
    if (!std::isfinite(ms) || ms < 0 || ms > MaxMillis)
        return 0;
    return static_cast<qint64>(ms);
}

bool isDeltaBody(const QString &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return false;
    const QJsonArray ops = document.array();
    if (ops.isEmpty())
        return false;
    for (const QJsonValue &op : ops) {
        if (!op.isObject() || !op.toObject().contains(QLatin1String("insert")))
            return false;
    }
    return true;
}

QString plainTextBody(const QString &text)
{
    QString content = text;
    if (!content.endsWith(QLatin1Char('\n')))
        content += QLatin1Char('\n');
    const QJsonArray ops { QJsonObject { { QStringLiteral("insert"), content } } };
    return QString::fromUtf8(QJsonDocument(ops).toJson(QJsonDocument::Compact));
}

std::optional<Note> parsePulledNote(const QJsonValue &value, QString *problem, bool *bodyConverted)
{
    if (bodyConverted)
        *bodyConverted = false;
    if (!value.isObject()) {
        *problem = QStringLiteral("change is not an object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    Note note;
    note.id = stringField(object, "id");
    if (note.id.trimmed().isEmpty()) {
        *problem = QStringLiteral("change without an id");
        return std::nullopt;
    }
    const QJsonValue body = object.value(QLatin1String("body"));
    if (!body.isString()) {
        *problem = QStringLiteral("note %1 without a body").arg(note.id);
        return std::nullopt;
    }
    note.body = body.toString();
    if (!isDeltaBody(note.body)) {
        *problem
            = QStringLiteral("note %1: body is not delta JSON, kept as plain text").arg(note.id);
        note.body = plainTextBody(note.body);
        if (bodyConverted)
            *bodyConverted = true;
    }
    note.notebookId = stringField(object, "notebook_id");
    note.version = versionField(object, 0, problem);
    note.createdAt = parseTime(object.value(QLatin1String("created_at")));
    note.updatedAt = parseTime(object.value(QLatin1String("updated_at")));
    note.modifiedAt = parseTime(object.value(QLatin1String("modified_at")));
    if (!note.updatedAt.isValid() || !note.createdAt.isValid() || !note.modifiedAt.isValid()) {
        if (problem->isEmpty())
            *problem = QStringLiteral("note %1: missing or unreadable times").arg(note.id);
        const QDateTime fallback = note.updatedAt.isValid() ? note.updatedAt
            : note.modifiedAt.isValid()                     ? note.modifiedAt
            : note.createdAt.isValid()                      ? note.createdAt
                                                            : QDateTime::currentDateTimeUtc();
        if (!note.updatedAt.isValid())
            note.updatedAt = fallback;
        if (!note.createdAt.isValid())
            note.createdAt = fallback;
        if (!note.modifiedAt.isValid())
            note.modifiedAt = fallback;
    }
    const QJsonValue deleted = object.value(QLatin1String("deleted_at"));
    if (!deleted.isUndefined() && !deleted.isNull()) {
        QDateTime deletedAt = parseTime(deleted);
        if (!deletedAt.isValid()) {
            // Deleted at an unknown time: the trash keeps it restorable.
            if (problem->isEmpty())
                *problem = QStringLiteral("note %1: unreadable deleted_at").arg(note.id);
            deletedAt = QDateTime::currentDateTimeUtc();
        }
        note.deletedAt = deletedAt;
    }
    note.ownerId = stringField(object, "owner_id");
    note.isShared = boolField(object, "is_shared");
    note.permission = stringField(object, "permission");
    note.syncStatus = SyncStatus::Synced;
    note.opVersion = 0;
    note.isSample = false;
    return note;
}

std::optional<Notebook> parseNotebook(const QJsonValue &value, QString *problem)
{
    if (!value.isObject()) {
        *problem = QStringLiteral("notebook is not an object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    Notebook notebook;
    notebook.id = stringField(object, "id");
    // Notebook ids go back into request paths.
    if (!AttachmentRepository::isValidId(notebook.id)) {
        *problem
            = QStringLiteral("notebook id is not a lowercase UUID: %1").arg(notebook.id.left(80));
        return std::nullopt;
    }
    notebook.name = stringField(object, "name").trimmed();
    if (notebook.name.isEmpty()) {
        *problem = QStringLiteral("notebook %1 without a name").arg(notebook.id);
        return std::nullopt;
    }
    notebook.isDefault = boolField(object, "is_default");
    notebook.isShared = boolField(object, "is_shared");
    notebook.version = versionField(object, 0, problem);
    notebook.createdAt = parseTime(object.value(QLatin1String("created_at")));
    notebook.updatedAt = parseTime(object.value(QLatin1String("updated_at")));
    if (!notebook.updatedAt.isValid())
        notebook.updatedAt
            = notebook.createdAt.isValid() ? notebook.createdAt : QDateTime::currentDateTimeUtc();
    if (!notebook.createdAt.isValid())
        notebook.createdAt = notebook.updatedAt;
    notebook.syncStatus = SyncStatus::Synced;
    return notebook;
}

std::optional<Attachment> parseAttachment(const QJsonValue &value, QString *problem)
{
    if (!value.isObject()) {
        *problem = QStringLiteral("attachment is not an object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    Attachment attachment;
    attachment.id = stringField(object, "id");
    // The id becomes a file name.
    if (!AttachmentRepository::isValidId(attachment.id)) {
        *problem = QStringLiteral("refusing attachment id that is not a lowercase UUID: %1")
                       .arg(object.value(QLatin1String("id")).toVariant().toString().left(80));
        return std::nullopt;
    }
    attachment.noteId = stringField(object, "note_id");
    if (attachment.noteId.trimmed().isEmpty()) {
        *problem = QStringLiteral("attachment %1 without a note").arg(attachment.id);
        return std::nullopt;
    }
    attachment.filename = safeFileName(stringField(object, "filename"));
    attachment.mimeType = stringField(object, "mime_type");
    const QJsonValue size = object.value(QLatin1String("size_bytes"));
    attachment.sizeBytes = size.isDouble() ? qMax<qint64>(0, size.toInteger()) : 0;
    attachment.createdAt = parseTime(object.value(QLatin1String("created_at")));
    if (!attachment.createdAt.isValid())
        attachment.createdAt = QDateTime::currentDateTimeUtc();
    attachment.syncStatus = SyncStatus::Synced;
    return attachment;
}

QJsonObject noteChange(const Note &note)
{
    const auto millis = [](const QDateTime &time) {
        return time.isValid() ? QJsonValue(time.toMSecsSinceEpoch()) : QJsonValue();
    };
    QJsonObject data;
    data.insert(QStringLiteral("body"), note.body);
    if (!note.notebookId.isEmpty())
        data.insert(QStringLiteral("notebook_id"), note.notebookId);
    data.insert(QStringLiteral("created_at"), millis(note.createdAt));
    data.insert(QStringLiteral("updated_at"), millis(note.updatedAt));
    data.insert(QStringLiteral("modified_at"), millis(note.modifiedAt));
    if (note.deletedAt)
        data.insert(QStringLiteral("deleted_at"), millis(*note.deletedAt));
    return QJsonObject {
        { QStringLiteral("entity_type"), QStringLiteral("note") },
        { QStringLiteral("entity_id"), note.id },
        { QStringLiteral("action"),
            note.deletedAt ? QStringLiteral("delete") : QStringLiteral("update") },
        { QStringLiteral("version"), note.version },
        { QStringLiteral("data"), data },
    };
}

QString safeFileName(const QString &name)
{
    QString base = name;
    const int cut = qMax(base.lastIndexOf(QLatin1Char('/')), base.lastIndexOf(QLatin1Char('\\')));
    if (cut >= 0)
        base = base.mid(cut + 1);
    for (QChar &c : base) {
        if (c == QLatin1Char('"') || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    }
    base = base.trimmed();
    if (base.isEmpty() || base == QLatin1String(".") || base == QLatin1String(".."))
        return QStringLiteral("attachment");
    return base;
}

} // namespace SyncWire
