#include "updateflows.h"

#include "releasenotesfetcher.h"
#include "updateclient.h"
#include "updatedialog.h"
#include "updatelog.h"
#include "whatsnewdialog.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

namespace BrevUpdate {

namespace {

constexpr int MessageMs = 5000;

void say(const UpdateCallbacks &callbacks, const QString &text)
{
    if (callbacks.message)
        callbacks.message(text);
}

void finish(const UpdateCallbacks &callbacks)
{
    if (callbacks.finished)
        callbacks.finished();
}

void finishWith(const UpdateCallbacks &callbacks, const QString &text)
{
    finish(callbacks);
    if (callbacks.timedMessage)
        callbacks.timedMessage(text, MessageMs);
}

// Flows outlive the command that started them, so their clients hang off the application.
Client *newClient(const UpdateConfig &config)
{
    return new Client(config, QCoreApplication::instance());
}

void openUpdateDialog(const Artifact &artifact, const UpdateConfig &config,
    const QString &displayName, QWidget *parent)
{
    auto *dialog = new UpdateDialog(artifact, config.currentVersion, displayName, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void openWhatsNew(const QString &markdown, const QString &notesVersion, const UpdateConfig &config,
    const QString &displayName, QWidget *parent, const QUrl &downloadUrl = QUrl())
{
    auto *dialog = new WhatsNewDialog(
        markdown, notesVersion, config.currentVersion, displayName, parent, downloadUrl);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

// showReleaseNotes, step 3: the notes of a newer release, with its download button.
void showNewerReleaseNotes(const UpdateConfig &config, const QString &displayName,
    QPointer<QWidget> parent, const UpdateCallbacks &callbacks)
{
    const QString none = QCoreApplication::translate(
        "BrevUpdate::ReleaseNotes", "No release notes available for %1 %2")
                             .arg(displayName, config.currentVersion);
    Client *client = newClient(config);
    QObject::connect(client, &Client::updateAvailable, client, [=](const Artifact &artifact) {
        client->deleteLater();
        if (!isWebUrl(artifact.releaseNotesUrl)) {
            finishWith(callbacks, none);
            return;
        }
        auto *fetcher = new ReleaseNotesFetcher(
            artifact.releaseNotesUrl, config.appId, QCoreApplication::instance());
        QObject::connect(
            fetcher, &ReleaseNotesFetcher::notesReady, fetcher, [=](const QString &markdown) {
                fetcher->deleteLater();
                finish(callbacks);
                if (parent)
                    openWhatsNew(
                        markdown, artifact.version, config, displayName, parent, artifact.url);
            });
        QObject::connect(fetcher, &ReleaseNotesFetcher::notesUnavailable, fetcher, [=] {
            fetcher->deleteLater();
            finishWith(callbacks, none);
        });
        fetcher->fetch();
    });
    QObject::connect(client, &Client::upToDate, client, [=] {
        client->deleteLater();
        finishWith(callbacks, none);
    });
    QObject::connect(client, &Client::checkFailed, client, [=](const QString &reason) {
        client->deleteLater();
        qCInfo(lcUpdate) << "update check for release notes failed:" << reason;
        finishWith(callbacks, none);
    });
    client->checkForUpdate();
}

} // namespace

void runUpdateCheck(const UpdateConfig &config, const QString &displayName, QWidget *parent,
    const UpdateCallbacks &callbacks)
{
    const QPointer<QWidget> window(parent);
    Client *client = newClient(config);
    say(callbacks, QCoreApplication::translate("BrevUpdate::UpdateCheck", "Checking for updates…"));
    QObject::connect(client, &Client::updateAvailable, client, [=](const Artifact &artifact) {
        client->deleteLater();
        finish(callbacks);
        if (window)
            openUpdateDialog(artifact, config, displayName, window);
    });
    QObject::connect(client, &Client::upToDate, client, [=] {
        client->deleteLater();
        finishWith(callbacks,
            QCoreApplication::translate("BrevUpdate::UpdateCheck", "%1 is up to date (version %2)")
                .arg(displayName, config.currentVersion));
    });
    QObject::connect(client, &Client::checkFailed, client, [=](const QString &reason) {
        client->deleteLater();
        finishWith(callbacks,
            QCoreApplication::translate("BrevUpdate::UpdateCheck", "Update check failed: %1")
                .arg(reason));
    });
    client->checkForUpdate();
}

Client *runSilentUpdateCheck(
    const UpdateConfig &config, const QString &displayName, QWidget *parent)
{
    const QPointer<QWidget> window(parent);
    Client *client = newClient(config);
    QObject::connect(client, &Client::updateAvailable, client, [=](const Artifact &artifact) {
        client->deleteLater();
        qCInfo(lcUpdate).noquote() << "update available:" << artifact.version;
        if (window)
            openUpdateDialog(artifact, config, displayName, window);
    });
    QObject::connect(client, &Client::upToDate, client, [client] { client->deleteLater(); });
    QObject::connect(client, &Client::checkFailed, client, [client](const QString &reason) {
        client->deleteLater();
        qCWarning(lcUpdate).noquote() << "update check failed:" << reason;
    });
    client->checkForUpdate();
    return client;
}

void showWhatsNew(const UpdateConfig &config, const QString &displayName, QWidget *parent)
{
    const QPointer<QWidget> window(parent);
    auto *fetcher = new ReleaseNotesFetcher(config, QCoreApplication::instance());
    QObject::connect(
        fetcher, &ReleaseNotesFetcher::notesReady, fetcher, [=](const QString &markdown) {
            fetcher->deleteLater();
            if (window)
                openWhatsNew(markdown, config.currentVersion, config, displayName, window);
        });
    QObject::connect(fetcher, &ReleaseNotesFetcher::notesUnavailable, fetcher,
        [fetcher] { fetcher->deleteLater(); });
    fetcher->fetch();
}

void showReleaseNotes(const UpdateConfig &config, const QString &displayName, QWidget *parent,
    const UpdateCallbacks &callbacks)
{
    const QPointer<QWidget> window(parent);
    say(callbacks,
        QCoreApplication::translate("BrevUpdate::ReleaseNotes", "Loading release notes…"));
    auto *fetcher = new ReleaseNotesFetcher(config, QCoreApplication::instance());
    QObject::connect(
        fetcher, &ReleaseNotesFetcher::notesReady, fetcher, [=](const QString &markdown) {
            fetcher->deleteLater();
            finish(callbacks);
            if (window)
                openWhatsNew(markdown, config.currentVersion, config, displayName, window);
        });
    QObject::connect(fetcher, &ReleaseNotesFetcher::notesUnavailable, fetcher, [=] {
        fetcher->deleteLater();
        showNewerReleaseNotes(config, displayName, window, callbacks);
    });
    fetcher->fetch();
}

} // namespace BrevUpdate
