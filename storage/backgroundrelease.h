#pragma once

#include <QCoreApplication>
#include <QList>
#include <QThreadPool>
#include <QTimer>

#include <utility>

// Freeing the last copy of a large list (a collection's entries, a search's ranked list) takes
// tens of milliseconds: a pool thread pays for it instead of the frame that shows the new
// list. It starts only after the paint already posted, because its frees take the allocator's
// lock that the paint's allocations need. Reference counts are atomic, so copies still held
// elsewhere stay valid.
template<typename T>
void releaseInBackground(QList<T> &&items)
{
    if (items.size() < 2000) {
        items.clear();
        return;
    }
    auto release = [items = std::move(items)]() mutable {
        QThreadPool::globalInstance()->start(
            [items = std::move(items)]() mutable { items.clear(); });
    };
    // A timer, unlike a queued call, runs after the paint events already posted.
    if (QCoreApplication *app = QCoreApplication::instance())
        QTimer::singleShot(1, app, release);
    else
        release();
}
