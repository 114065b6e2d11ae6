#pragma once

#include <QString>

// A "major.minor.patch" release number. Anything that does not parse reads as 0.0.0, so a
// missing or damaged stored version always counts as older than any release.
struct VersionNumber
{
    int major = 0;
    int minor = 0;
    int patch = 0;

    static VersionNumber parse(const QString &text);
    int compare(const VersionNumber &other) const;
};

inline bool operator<(const VersionNumber &a, const VersionNumber &b)
{
    return a.compare(b) < 0;
}
inline bool operator==(const VersionNumber &a, const VersionNumber &b)
{
    return a.compare(b) == 0;
}
