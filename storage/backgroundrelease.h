#pragma once

#include <QList>
#include <QThreadPool>

#include <utility>

// Freeing the last copy of a large list (a collection's entries, a search's ranked list) takes
// tens of milliseconds: a pool thread pays for it instead of the frame that shows the new
// list. Reference counts are atomic, so copies still held elsewhere stay valid.
template<typename T>
void releaseInBackground(QList<T> &&items)
{
    if (items.size() < 2000) {
        items.clear();
        return;
    }
    QThreadPool::globalInstance()->start([items = std::move(items)]() mutable { items.clear(); });
}
