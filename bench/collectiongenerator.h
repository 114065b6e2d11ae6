#pragma once

// Realistic generated note collections for the benchmarks and the screens' look-at modes:
// notebooks; notes with headings, bold runs, bullet, numbered and checkbox lists, Markdown
// boxes and "TODO:" lines, now and then a table or a divider; most bodies short, one in ten long.
// Everything is deterministic for a given seed except the ids.
#include "note.h"
#include "notebook.h"

#include <QList>
#include <QRandomGenerator>
#include <QString>

namespace CollectionGenerator {

inline constexpr quint32 DefaultSeed = 20240611;

struct Collection
{
    QList<Notebook> notebooks;
    QList<Note> notes; // newest first
};

// `words` random words, the first capitalised.
QString sentence(QRandomGenerator &random, int words);

// One delta body.
QString makeBody(QRandomGenerator &random);
// `count` bodies, in memory.
QStringList makeBodies(int count, quint32 seed = DefaultSeed);

// Notebooks and `noteCount` live notes (none trashed), in memory, for feeding widgets directly.
Collection makeCollection(int noteCount, quint32 seed = DefaultSeed);

// Writes notebooks and `noteCount` notes, a tenth of them trashed and a few shared each way,
// through the repositories in one transaction into a database under `dataDir`. Points
// NOTES_DATA_DIR at `dataDir`, so what the benchmark opens next reads this collection. False
// when the database cannot be written (nothing is half-written then).
bool fillDataDirectory(const QString &dataDir, int noteCount, quint32 seed = DefaultSeed);

} // namespace CollectionGenerator
