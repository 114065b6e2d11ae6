#include "notetext.h"

#include "deltaformat.h"

#include <QLocale>

namespace {

constexpr int PreviewLength = 120;

// nullopt when the body is not a delta document and counts as plain text.
std::optional<Delta::Operations> readOperations(const QString &body)
{
    const std::optional<QJsonArray> array = Delta::parseArray(body);
    if (!array)
        return std::nullopt;
    return Delta::parseOperations(*array);
}

QString plainTextOf(const QString &body)
{
    if (body.isEmpty())
        return QString();
    const std::optional<Delta::Operations> ops = readOperations(body);
    if (!ops)
        return body;
    QString text;
    for (const Delta::Operation &op : *ops) {
        if (op.isText())
            text += op.text;
    }
    return text;
}

} // namespace

QString notePlainText(const QString &body)
{
    return plainTextOf(body);
}

QString titleFromPlainText(const QString &plainText)
{
    const qsizetype feed = plainText.indexOf(QLatin1Char('\n'));
    return (feed < 0 ? plainText : plainText.left(feed)).trimmed();
}

QString previewFromPlainText(const QString &plainText)
{
    const qsizetype feed = plainText.indexOf(QLatin1Char('\n'));
    if (feed < 0)
        return QString();
    QString preview = plainText.mid(feed + 1).trimmed();
    preview.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (preview.size() > PreviewLength) {
        // Never cut between the halves of a surrogate pair: a lone half paints as garbage.
        qsizetype cut = PreviewLength;
        if (preview.at(cut - 1).isHighSurrogate())
            --cut;
        preview.truncate(cut);
        preview += QLatin1String("...");
    }
    return preview;
}

QString noteTitle(const QString &body)
{
    return titleFromPlainText(plainTextOf(body));
}

QString notePreview(const QString &body)
{
    return previewFromPlainText(plainTextOf(body));
}

NoteSummary noteSummary(const QString &body)
{
    const QString plain = plainTextOf(body);
    return { titleFromPlainText(plain), previewFromPlainText(plain) };
}

bool isEmptyNote(const QString &body)
{
    if (body.isEmpty())
        return true;
    const std::optional<Delta::Operations> ops = readOperations(body);
    if (!ops)
        return body.trimmed().isEmpty();
    for (const Delta::Operation &op : *ops) {
        if (op.isEmbed())
            return false;
        if (op.isText() && !op.text.trimmed().isEmpty())
            return false;
    }
    return true;
}

QString formatRelativeDate(const QDateTime &time, const QDateTime &now)
{
    if (!time.isValid())
        return QString();
    const QDateTime local = time.toLocalTime();
    const QDate date = local.date();
    const QDate today = now.toLocalTime().date();
    // QDateTime::toString with a format always speaks English, whatever the locale.
    const auto dateText = [&] {
        return local.toString(
            date.year() == today.year() ? QStringLiteral("MMM d") : QStringLiteral("MMM d, yyyy"));
    };

    const qint64 secs = time.secsTo(now);
    if (secs < 0)
        return dateText();
    if (secs < 60)
        return QStringLiteral("just now");
    if (secs < 3600)
        return QStringLiteral("%1m ago").arg(secs / 60);
    if (secs < 86400)
        return QStringLiteral("%1h ago").arg(secs / 3600);
    const qint64 daysBefore = date.daysTo(today);
    if (daysBefore == 1)
        return QStringLiteral("Yesterday");
    if (daysBefore >= 7)
        return dateText();
    return QLocale().dayName(date.dayOfWeek(), QLocale::LongFormat);
}
