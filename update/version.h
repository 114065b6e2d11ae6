#pragma once

#include <QString>

namespace BrevUpdate {

// A "major.minor.patch" release number. Anything that does not parse (a pre-release suffix, a
// sign, an empty part, four parts) reads as 0.0.0, so a missing or damaged stored version always
// counts as older than any release.
struct Version
{
    int major = 0;
    int minor = 0;
    int patch = 0;

    static Version parse(const QString &text);
    // One to three parts of plain digits without leading zeros: what a release manifest must
    // carry, so that "01.2" or "1.2.3-beta" never poses as a release.
    static bool isCanonical(const QString &text);

    int compare(const Version &other) const;
    QString toString() const;
};

inline bool operator<(const Version &a, const Version &b)
{
    return a.compare(b) < 0;
}
inline bool operator==(const Version &a, const Version &b)
{
    return a.compare(b) == 0;
}

} // namespace BrevUpdate
