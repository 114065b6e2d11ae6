#include "samplenotes.h"

#include "appstate.h"
#include "notewriter.h"
#include "preferencesrepository.h"
#include "samplecontent.h"
#include "simplemarkdown.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QUuid>

namespace {
const QString WelcomeSeenKey = QStringLiteral("has_seen_welcome");
} // namespace

Note newSampleNote()
{
    Note note;
    note.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    note.isSample = true;
    return note;
}

int insertSampleNotes(AppState *appState)
{
    if (!appState || !appState->writer())
        return 0;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<Note> notes;
    const auto sources = sampleNoteSources();
    for (const SampleNoteSource &source : sources) {
        Note note = newSampleNote();
        note.body = simpleMarkdownToDelta(source.markdown);
        const int hours = QRandomGenerator::global()->bounded(12);
        const QDateTime when = now.addDays(-source.daysAgo).addSecs(-qint64(hours) * 3600);
        note.createdAt = when;
        note.updatedAt = when;
        note.modifiedAt = when;
        note.syncStatus = SyncStatus::Pending;
        notes.append(note);
    }
    return appState->writer()->insertNotes(notes) ? int(notes.size()) : 0;
}

void seedWelcomeNotes(AppState *appState)
{
    if (!appState || !appState->preferences() || !appState->writer())
        return;
    if (appState->preferences()->boolValue(WelcomeSeenKey, false))
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<Note> notes;
    const auto sources = welcomeNoteSources();
    for (const WelcomeNoteSource &source : sources) {
        Note note = newSampleNote();
        note.body = source.deltaJson;
        const QDateTime when = now.addMSecs(source.offsetMs);
        note.createdAt = when;
        note.updatedAt = when;
        note.modifiedAt = when;
        note.syncStatus = SyncStatus::Synced;
        notes.append(note);
    }
    // Marked as seen only once they are in: a failed first run tries again next time.
    if (appState->writer()->insertNotes(notes))
        appState->preferences()->setBool(WelcomeSeenKey, true);
}
