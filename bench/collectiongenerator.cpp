#include "collectiongenerator.h"

#include "database.h"
#include "deltaformat.h"
#include "notebookrepository.h"
#include "noterepository.h"
#include "paths.h"
#include "preferencesrepository.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QSqlDatabase>
#include <QStringList>
#include <QUuid>

#include <algorithm>
#include <vector>

namespace CollectionGenerator {

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

void addLine(QJsonArray &ops, const QString &text, const QJsonObject &block = {})
{
    if (!text.isEmpty())
        ops.append(QJsonObject { { QStringLiteral("insert"), text } });
    QJsonObject newline { { QStringLiteral("insert"), QStringLiteral("\n") } };
    if (!block.isEmpty())
        newline.insert(QStringLiteral("attributes"), block);
    ops.append(newline);
}

QJsonObject listBlock(const QString &kind)
{
    return { { QStringLiteral("list"), kind } };
}

void addTable(QJsonArray &ops, QRandomGenerator &random)
{
    Delta::Table table;
    for (int r = 0; r < 4; ++r) {
        QList<Delta::TableCell> row;
        for (const QString &text :
            { sentence(random, 1), sentence(random, 2), QString::number(random.bounded(1000)) }) {
            Delta::TableCell cell;
            cell.kind = Delta::TableCell::Kind::Plain;
            cell.text = text;
            row.append(cell);
        }
        table.rows.append(row);
    }
    ops.append(QJsonObject { { QStringLiteral("insert"),
        QJsonObject { { QString(Delta::TableKind), Delta::writeTable(table) } } } });
    addLine(ops, QString());
}

QList<Notebook> makeNotebooks(const QDateTime &now)
{
    // The look-at modes rely on the order: a shared one at 2, a long name at 5.
    static const QStringList Names { QStringLiteral("Work"), QStringLiteral("Personal"),
        QStringLiteral("Recipes"), QStringLiteral("Travel"), QStringLiteral("Reading list"),
        QStringLiteral("Home renovation and garden projects"), QStringLiteral("Finances"),
        QStringLiteral("Side projects") };
    QList<Notebook> notebooks;
    for (const QString &name : Names) {
        Notebook notebook;
        notebook.id = newId();
        notebook.name = name;
        notebook.isShared = name == QLatin1String("Recipes");
        notebook.createdAt = notebook.updatedAt = now.addDays(-400);
        notebook.syncStatus = SyncStatus::Synced;
        notebooks.append(notebook);
    }
    return notebooks;
}

// The `index`th note of a collection; `mayTrash` lets a tenth of them land in the trash.
Note makeNote(QRandomGenerator &random, const QList<Notebook> &notebooks, const QDateTime &now,
    int index, bool mayTrash)
{
    Note note;
    note.id = newId();
    if (random.bounded(3) != 0)
        note.notebookId = notebooks.at(random.bounded(int(notebooks.size()))).id;
    note.body = makeBody(random);
    // A handful in the last hours so relative dates vary, the rest up to two years back and
    // denser near now.
    const double r = random.generateDouble();
    const qint64 age = index < 5 ? qint64(index) * 1800 + 30 : qint64(r * r * r * 2 * 365 * 86400);
    note.createdAt = note.updatedAt = note.modifiedAt = now.addSecs(-age);
    const int status = random.bounded(20);
    note.syncStatus = status == 0 ? SyncStatus::Conflict
        : status < 4              ? SyncStatus::Pending
                                  : SyncStatus::Synced;
    if (random.bounded(40) == 0) {
        note.ownerId = QStringLiteral("user-") + QString::number(random.bounded(5));
        note.permission = random.bounded(2) ? QStringLiteral("edit") : QStringLiteral("read");
    } else if (random.bounded(12) == 0) {
        note.isShared = true;
    }
    if (mayTrash && random.bounded(10) == 0)
        note.deletedAt = note.updatedAt.addSecs(60);
    return note;
}

} // namespace

namespace {

// Words follow a natural language's frequencies (Zipf: the k-th most frequent word about 1/k as
// often as the first), so a common word is in most notes and a rare one in a few: "meeting" is
// the most frequent, "dentist" (rank 2500) and "tickets" (rank 4000) are rare. The rest of
// the vocabulary is made of syllables.
constexpr int kVocabularySize = 20000;
constexpr int kDentistRank = 2500;
constexpr int kTicketsRank = 4000;

struct Vocabulary
{
    QStringList words;
    std::vector<double> cumulative; // ascending, last = 1
};

const Vocabulary &vocabulary()
{
    static const Vocabulary vocabulary = [] {
        static const char *const Named[] = { "meeting", "project", "budget", "garden", "release",
            "recipe", "travel", "invoice", "draft", "review", "family", "weekend", "design",
            "server", "chapter", "ideas", "shopping", "backup", "weekly", "plan", "client", "book",
            "summer", "call", "lecture", "goals", "health", "music", "repair", "coffee" };
        static const char *const Syllables[] = { "ka", "lo", "mi", "ten", "ar", "vu", "so", "pre",
            "dan", "el", "ri", "mo", "gal", "ney", "tor", "bi", "ush", "fen", "ca", "lin" };
        Vocabulary v;
        for (const char *word : Named)
            v.words.append(QString::fromLatin1(word));
        QSet<QString> seen(v.words.cbegin(), v.words.cend());
        for (int n = 0; v.words.size() < kVocabularySize; ++n) {
            // n spelled in base 20 with syllables for digits, at least two of them.
            QString word;
            int rest = n;
            do {
                word += QString::fromLatin1(Syllables[rest % 20]);
                rest /= 20;
            } while (rest > 0 || word.size() < 4);
            if (!seen.contains(word)) {
                seen.insert(word);
                v.words.append(word);
            }
        }
        v.words[kDentistRank - 1] = QStringLiteral("dentist");
        v.words[kTicketsRank - 1] = QStringLiteral("tickets");
        double sum = 0;
        for (int rank = 1; rank <= kVocabularySize; ++rank)
            sum += 1.0 / rank;
        double running = 0;
        for (int rank = 1; rank <= kVocabularySize; ++rank) {
            running += 1.0 / rank / sum;
            v.cumulative.push_back(running);
        }
        v.cumulative.back() = 1.0;
        return v;
    }();
    return vocabulary;
}

} // namespace

QString sentence(QRandomGenerator &random, int words)
{
    const Vocabulary &v = vocabulary();
    QStringList parts;
    for (int i = 0; i < words; ++i) {
        const double draw = random.generateDouble();
        const auto at = std::upper_bound(v.cumulative.cbegin(), v.cumulative.cend(), draw);
        parts.append(v.words.at(qMin(int(at - v.cumulative.cbegin()), kVocabularySize - 1)));
    }
    QString text = parts.join(QLatin1Char(' '));
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

QString makeBody(QRandomGenerator &random)
{
    QJsonArray ops;
    // A few notes have no title line, as a note begun and left.
    if (random.bounded(25) == 0)
        addLine(ops, QString());
    else
        addLine(ops, sentence(random, 2 + random.bounded(4)), { { QStringLiteral("header"), 1 } });
    const int sections = random.bounded(10) == 0 ? 8 + random.bounded(12) : 1 + random.bounded(3);
    for (int s = 0; s < sections; ++s) {
        if (s > 0)
            addLine(ops, sentence(random, 2), { { QStringLiteral("header"), 2 } });
        ops.append(QJsonObject {
            { QStringLiteral("insert"), sentence(random, 2) + QLatin1Char(' ') },
            { QStringLiteral("attributes"), QJsonObject { { QStringLiteral("bold"), true } } } });
        addLine(ops, sentence(random, 8 + random.bounded(30)) + QLatin1Char('.'));
        const int kind = random.bounded(7);
        const int items = kind < 5 ? 2 + random.bounded(5) : 0;
        for (int i = 0; i < items; ++i) {
            const QString text = sentence(random, 2 + random.bounded(5));
            switch (kind) {
            case 0:
                addLine(ops, text, listBlock(QStringLiteral("bullet")));
                break;
            case 1:
                addLine(ops, text, listBlock(QStringLiteral("ordered")));
                break;
            case 2:
            case 3:
                addLine(ops, text,
                    listBlock(random.bounded(3) == 0 ? QStringLiteral("checked")
                                                     : QStringLiteral("unchecked")));
                break;
            default:
                addLine(ops,
                    (random.bounded(4) == 0 ? QStringLiteral("- [x] ") : QStringLiteral("- [ ] "))
                        + text);
                break;
            }
        }
        if (random.bounded(5) == 0)
            addLine(ops, QStringLiteral("TODO: ") + sentence(random, 3 + random.bounded(4)));
        if (random.bounded(12) == 0)
            addTable(ops, random);
        if (random.bounded(15) == 0) {
            ops.append(QJsonObject { { QStringLiteral("insert"),
                QJsonObject { { QString(Delta::DividerKind), QStringLiteral("hr") } } } });
            addLine(ops, QString());
        }
    }
    return Delta::toText(ops);
}

QStringList makeBodies(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    QStringList bodies;
    bodies.reserve(count);
    for (int i = 0; i < count; ++i)
        bodies.append(makeBody(random));
    return bodies;
}

Collection makeCollection(int noteCount, quint32 seed)
{
    QRandomGenerator random(seed);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    Collection collection;
    collection.notebooks = makeNotebooks(now);
    collection.notes.reserve(noteCount);
    for (int i = 0; i < noteCount; ++i)
        collection.notes.append(makeNote(random, collection.notebooks, now, i, false));
    std::stable_sort(collection.notes.begin(), collection.notes.end(),
        [](const Note &a, const Note &b) { return a.updatedAt > b.updatedAt; });
    return collection;
}

bool fillDataDirectory(const QString &dataDir, int noteCount, quint32 seed)
{
    qputenv("NOTES_DATA_DIR", dataDir.toUtf8());
    Database database;
    if (!database.open(databasePath()) || !database.migrate())
        return false;
    NotebookRepository notebooks(&database);
    NoteRepository notes(&database);
    PreferencesRepository preferences(&database);

    QRandomGenerator random(seed);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<Notebook> generated = makeNotebooks(now);

    QSqlDatabase connection = database.connection();
    if (!connection.transaction())
        return false;
    // Someone with a large collection has long seen the welcome notes.
    bool written = preferences.setBool(QStringLiteral("has_seen_welcome"), true);
    for (const Notebook &notebook : generated)
        written = written && notebooks.insert(notebook);
    // Notes are made one at a time so a large collection never sits in memory whole.
    for (int i = 0; written && i < noteCount; ++i)
        written = notes.insert(makeNote(random, generated, now, i, true));
    if (!written) {
        connection.rollback();
        return false;
    }
    return connection.commit();
}

} // namespace CollectionGenerator
