#pragma once

#include <QList>
#include <QString>

// Product copy for the first run and the developer's sample notes. Seeding them into the
// database is the application state's job; this is only the text.
struct SampleNoteSource
{
    int daysAgo = 0;
    QString markdown; // starts with a "## " heading line
};

struct WelcomeNoteSource
{
    qint64 offsetMs = 0;
    QString deltaJson; // compact delta document, first line a level-1 heading
};

// The seven sample notes, newest first.
QList<SampleNoteSource> sampleNoteSources();
// The three welcome notes in insertion order ("Trip Packing List", "Getting Started",
// "Welcome to Brevaro Notes").
QList<WelcomeNoteSource> welcomeNoteSources();
