#include "fontscale.h"

#include <QtGlobal>

#include <atomic>

namespace FontScale {

namespace {
// Painters may read the scale from anywhere; an atomic keeps that read well-defined.
std::atomic<int> s_percent { Default };
} // namespace

int percent()
{
    return s_percent.load(std::memory_order_relaxed);
}

int setPercent(int percent)
{
    const int clamped = qBound(Minimum, percent, Maximum);
    s_percent.store(clamped, std::memory_order_relaxed);
    return clamped;
}

int scaledPixels(int basePixels)
{
    return qMax(1, basePixels * percent() / 100);
}

} // namespace FontScale
