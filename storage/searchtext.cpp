#include "searchtext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

QString plainTextOf(const QString &noteBody)
{
    if (noteBody.isEmpty())
        return QString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(noteBody.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return noteBody;
    QString text;
    const QJsonArray ops = doc.array();
    for (const QJsonValue &op : ops) {
        const QJsonValue insert = op.toObject().value(QLatin1String("insert"));
        if (insert.isString())
            text += insert.toString();
    }
    return text;
}

bool isUnspacedScript(char32_t codePoint)
{
    switch (QChar::script(codePoint)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Thai:
    case QChar::Script_Lao:
    case QChar::Script_Khmer:
    case QChar::Script_Myanmar:
    case QChar::Script_Tibetan:
        return true;
    default:
        return false;
    }
}

} // namespace

SearchableText searchableText(const QString &noteBody)
{
    const QString plain = plainTextOf(noteBody);
    const qsizetype feed = plain.indexOf(QLatin1Char('\n'));
    SearchableText text;
    text.title = separateUnspacedScripts((feed < 0 ? plain : plain.left(feed)).trimmed());
    if (feed >= 0)
        text.body = separateUnspacedScripts(plain.mid(feed + 1));
    return text;
}

QString separateUnspacedScripts(const QString &text)
{
    QString out;
    bool changed = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t codePoint = text.at(i).unicode();
        qsizetype length = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()
            && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            length = 2;
        }
        if (isUnspacedScript(codePoint)) {
            if (!changed) {
                // Most text never gets here and is returned without a copy.
                out.reserve(text.size() * 2);
                out = text.left(i);
                changed = true;
            }
            out += QLatin1Char(' ');
            out += QStringView(text).mid(i, length);
            out += QLatin1Char(' ');
        } else if (changed) {
            out += QStringView(text).mid(i, length);
        }
        i += length - 1;
    }
    return changed ? out : text;
}
