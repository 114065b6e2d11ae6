#include "version.h"

#include <QStringList>

namespace BrevUpdate {

namespace {

// Nine digits always fit an int; longer parts are not release numbers.
constexpr qsizetype MaxPartDigits = 9;

bool isDigits(const QString &part)
{
    if (part.isEmpty() || part.size() > MaxPartDigits)
        return false;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

Version Version::parse(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.isEmpty() || parts.size() > 3)
        return {};
    int numbers[3] = { 0, 0, 0 };
    for (qsizetype i = 0; i < parts.size(); ++i) {
        // QString::toInt alone would accept signs and surrounding spaces.
        if (!isDigits(parts.at(i)))
            return {};
        numbers[i] = parts.at(i).toInt(nullptr, 10);
    }
    return { numbers[0], numbers[1], numbers[2] };
}

bool Version::isCanonical(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.isEmpty() || parts.size() > 3)
        return false;
    for (const QString &part : parts) {
        if (!isDigits(part) || (part.size() > 1 && part.startsWith(QLatin1Char('0'))))
            return false;
    }
    return true;
}

int Version::compare(const Version &other) const
{
    if (major != other.major)
        return major < other.major ? -1 : 1;
    if (minor != other.minor)
        return minor < other.minor ? -1 : 1;
    if (patch != other.patch)
        return patch < other.patch ? -1 : 1;
    return 0;
}

QString Version::toString() const
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

} // namespace BrevUpdate
