#include "testbodies.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString toText(const QJsonArray &ops)
{
    return QString::fromUtf8(QJsonDocument(ops).toJson(QJsonDocument::Compact));
}

QJsonObject insert(const QString &text)
{
    return QJsonObject { { QStringLiteral("insert"), text } };
}

} // namespace

QString bodyOf(const QString &text)
{
    return toText(QJsonArray { insert(text + QLatin1Char('\n')) });
}

QString bodyOfLines(const QStringList &lines)
{
    QJsonArray ops;
    for (const QString &line : lines) {
        QString list;
        if (line.startsWith(QLatin1String("[ ] ")))
            list = QStringLiteral("unchecked");
        else if (line.startsWith(QLatin1String("[x] ")))
            list = QStringLiteral("checked");
        ops.append(insert(list.isEmpty() ? line : line.mid(4)));
        QJsonObject feed = insert(QStringLiteral("\n"));
        if (!list.isEmpty())
            feed.insert(
                QStringLiteral("attributes"), QJsonObject { { QStringLiteral("list"), list } });
        ops.append(feed);
    }
    return toText(ops);
}
