#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of this start: a new note, one note, or nothing in particular.
struct InstanceRequest
{
    bool newNote = false;
    QString noteId; // the argument after the first "--note" that has one
};

InstanceRequest parseInstanceRequest(const QStringList &arguments);

// The message a second copy hands to the first: "new-note", "note:<id>" or "focus".
QString buildInstanceMessage(const QStringList &arguments);
