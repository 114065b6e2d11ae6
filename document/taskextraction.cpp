#include "taskextraction.h"

#include "deltaformat.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QString ListKey = QStringLiteral("list");
const QString Checked = QStringLiteral("checked");
const QString Unchecked = QStringLiteral("unchecked");

// The whole trimmed line is one line, so "." may match anything left in it (U+2028, "\r").
constexpr auto LineOptions = QRegularExpression::DotMatchesEverythingOption;

const QRegularExpression &doneBoxPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^-\\s*\\[x\\]\\s*(.+)"),
        LineOptions | QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

const QRegularExpression &openBoxPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^-\\s*\\[\\s*\\]\\s*(.+)"), LineOptions);
    return pattern;
}

const QRegularExpression &todoPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^TODO:\\s*(.+)"), LineOptions | QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

// Fills source, text and completed; false when the line is no task.
bool examineLine(const QString &lineText, const QJsonObject &blockAttributes, Task &task)
{
    const QString list = Delta::stringValue(blockAttributes.value(ListKey));
    if (list == Checked || list == Unchecked) {
        task.source = Task::Source::CheckboxList;
        task.text = lineText.trimmed();
        task.completed = list == Checked;
        return !task.text.isEmpty();
    }

    const QString trimmed = lineText.trimmed();
    if (!trimmed.startsWith(QLatin1Char('-')) && !trimmed.startsWith(QLatin1Char('t'))
        && !trimmed.startsWith(QLatin1Char('T')))
        return false; // most lines: skip the three regular expressions

    QRegularExpressionMatch match = doneBoxPattern().match(trimmed);
    if (match.hasMatch()) {
        task.source = Task::Source::MarkdownCheckbox;
        task.completed = true;
    } else if ((match = openBoxPattern().match(trimmed)).hasMatch()) {
        task.source = Task::Source::MarkdownCheckbox;
        task.completed = false;
    } else if ((match = todoPattern().match(trimmed)).hasMatch()) {
        task.source = Task::Source::TodoLine;
        task.completed = false;
    } else {
        return false;
    }
    task.text = match.captured(1).trimmed();
    return !task.text.isEmpty();
}

} // namespace

QString taskId(const QString &noteId, int lineIndex, const QString &text)
{
    const QByteArray digest
        = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex().left(8);
    return QStringLiteral("%1_%2_%3")
        .arg(noteId, QString::number(lineIndex), QString::fromLatin1(digest));
}

QList<Task> extractTasks(const QString &noteId, const QString &body, const QDateTime &noteUpdatedAt)
{
    QList<Task> tasks;
    const QDateTime extractedAt = QDateTime::currentDateTimeUtc();
    int lineIndex = 0;
    int charCount = 0;
    QString lineText;

    for (const Delta::Operation &op : Delta::parseOperations(body)) {
        if (op.isEmbed()) {
            ++charCount;
            continue;
        }
        if (!op.isText())
            continue;
        const QString &text = op.text;
        qsizetype start = 0;
        while (start <= text.size()) {
            const qsizetype feed = text.indexOf(QLatin1Char('\n'), start);
            if (feed < 0) {
                lineText.append(QStringView(text).mid(start));
                charCount += int(text.size() - start);
                break;
            }
            lineText.append(QStringView(text).mid(start, feed - start));
            charCount += int(feed - start);

            Task task;
            if (examineLine(lineText, op.attributes, task)) {
                task.noteId = noteId;
                task.lineIndex = lineIndex;
                task.charOffset = charCount - int(lineText.size());
                task.id = taskId(noteId, lineIndex, task.text);
                task.extractedAt = extractedAt;
                task.noteUpdatedAt = noteUpdatedAt;
                tasks.append(task);
            }
            lineText.clear();
            ++lineIndex;
            ++charCount; // the line feed itself
            start = feed + 1;
        }
    }
    return tasks;
}

QString setCheckboxLine(const QString &body, int lineIndex, bool checked)
{
    if (lineIndex < 0)
        return QString();
    std::optional<QJsonArray> parsed = Delta::parseArray(body);
    if (!parsed)
        return QString();
    QJsonArray ops = *parsed;

    int feeds = 0;
    for (qsizetype i = 0; i < ops.size(); ++i) {
        const QJsonValue element = ops.at(i);
        if (!element.isObject())
            continue;
        QJsonObject op = element.toObject();
        const QJsonValue insert = op.value(QStringLiteral("insert"));
        if (!insert.isString())
            continue;
        const QString text = insert.toString();
        const int here = int(text.count(QLatin1Char('\n')));
        if (feeds + here <= lineIndex) {
            feeds += here;
            continue;
        }
        // The wanted line feed is in this operation.
        if (text != QLatin1String("\n"))
            return QString();
        const QJsonValue attributesValue = op.value(QStringLiteral("attributes"));
        QJsonObject attributes = attributesValue.toObject();
        const QString list = Delta::stringValue(attributes.value(ListKey));
        if (!attributesValue.isObject() || (list != Checked && list != Unchecked))
            return QString();
        attributes.insert(ListKey, checked ? Checked : Unchecked);
        op.insert(QStringLiteral("attributes"), attributes);
        ops.replace(i, op);
        return Delta::toText(ops);
    }
    return QString();
}
