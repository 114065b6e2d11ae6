#pragma once

#include "updateconfig.h"

#include <QString>

#include <functional>

class QWidget;

namespace BrevUpdate {

class Client;

// How an interactive flow reports progress; the main window passes its status bar. Any of the
// three may be empty.
struct UpdateCallbacks
{
    std::function<void(const QString &text)> message;
    std::function<void()> finished;
    std::function<void(const QString &text, int milliseconds)> timedMessage;
};

// Help > Check for Updates: reports through `callbacks` and opens the update dialog over
// `parent` (when it still exists) for a newer build.
void runUpdateCheck(const UpdateConfig &config, const QString &displayName, QWidget *parent,
    const UpdateCallbacks &callbacks);

// The check made once after start: a newer build opens the update dialog over `parent`; a
// failure is only logged. Returns the client, which deletes itself after its answer.
Client *runSilentUpdateCheck(
    const UpdateConfig &config, const QString &displayName, QWidget *parent);

// The running version's release notes over `parent`; nothing at all when there are none.
void showWhatsNew(const UpdateConfig &config, const QString &displayName, QWidget *parent);

// Help > What's New: the running version's notes, or else those of a newer release with its
// download button, or else a short message through `callbacks`.
void showReleaseNotes(const UpdateConfig &config, const QString &displayName, QWidget *parent,
    const UpdateCallbacks &callbacks);

} // namespace BrevUpdate
