#pragma once

#include <QList>

#include <algorithm>

// The middle of repeated timings (the upper one of the two for an even count), so one slow
// run does not move the figure; -1 when nothing was measured.
template<typename T>
T median(QList<T> values)
{
    if (values.isEmpty())
        return T(-1);
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}
