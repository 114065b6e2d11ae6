#include "statusbar.h"

#include "appstate.h"
#include "client.h"
#include "database.h"
#include "synccloudicon.h"
#include "syncengine.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>

#include <memory>

StatusBar::StatusBar(QWidget *parent)
    : QStatusBar(parent),
      m_locationLabel(new QLabel(tr("All Notes"), this)),
      m_progressLabel(new QLabel(this)),
      m_busyBar(new QProgressBar(this)),
      m_saveLabel(new QLabel(this)),
      m_separatorLabel(new QLabel(QStringLiteral("·"), this)),
      m_syncIcon(new SyncCloudIcon(this))
{
    setStyleSheet(QStringLiteral("QStatusBar {  font-size: 9pt;  color: %1;}QStatusBar::item { "
                                 "border: none; }")
                      .arg(QStringLiteral("#78909C")));
    addWidget(m_locationLabel, 1);
    m_busyBar->setRange(0, 0);
    m_busyBar->setMaximumWidth(100);
    m_busyBar->setMaximumHeight(14);
    m_busyBar->setTextVisible(false);
    addPermanentWidget(m_progressLabel);
    addPermanentWidget(m_busyBar);
    m_progressLabel->hide();
    m_busyBar->hide();
    addPermanentWidget(m_saveLabel);
    addPermanentWidget(m_separatorLabel);
    addPermanentWidget(m_syncIcon);
    m_separatorLabel->hide();

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(SavingDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] {
        m_saveState = Saving;
        render();
    });
}

void StatusBar::followSync(AppState *appState)
{
    m_appState = appState;
    BrevAccount::Client *account = appState->accountClient();
    SyncEngine *engine = appState->syncEngine();
    // A cycle that failed without reaching the server means no connection: shown as offline.
    const auto shownState = [engine] {
        if (engine->state() == SyncEngine::Error && engine->lastErrorStatus() == 0)
            return int(SyncEngine::Offline);
        return int(engine->state());
    };
    const auto refresh = [this, appState, engine, shownState] {
        setSignedIn(appState->isSignedIn(), engine ? shownState() : -1);
    };
    refresh();
    if (account)
        connect(account, &BrevAccount::Client::authStateChanged, this, refresh);
    if (!engine)
        return;
    m_syncProgressDelay.setSingleShot(true);
    m_syncProgressDelay.setInterval(SyncProgressDelayMs);
    connect(&m_syncProgressDelay, &QTimer::timeout, this, [this, engine] {
        if (!engine->isCycleRunning() || m_syncStep.isEmpty())
            return;
        m_showingSyncProgress = true;
        showProgress(m_syncStep);
    });
    connect(engine, &SyncEngine::stateChanged, this, [this, appState, shownState](int state) {
        if (state == SyncEngine::Syncing) {
            m_syncStep.clear();
            m_syncProgressDelay.start();
        } else {
            m_syncProgressDelay.stop();
            if (m_showingSyncProgress)
                hideProgress();
        }
        if (appState->isSignedIn())
            setSyncState(shownState());
    });
    connect(engine, &SyncEngine::syncProgress, this,
        [this, appState](const QString &label, int current, int total) {
            m_syncStep
                = total > 0 ? label + QStringLiteral(" %1/%2").arg(current).arg(total) : label;
            if (m_showingSyncProgress)
                m_progressLabel->setText(m_syncStep);
            if (appState->isSignedIn())
                setSyncProgress(label, current, total);
        });
}

void StatusBar::followSearchIndex(Database *database)
{
    if (database->isSearchIndexComplete())
        return;
    auto clock = std::make_shared<QElapsedTimer>();
    connect(database, &Database::searchIndexProgress, this, [this, clock](int done, int total) {
        if (!clock->isValid())
            clock->start();
        if (done >= total || clock->elapsed() < SearchIndexProgressDelayMs)
            return;
        // Sync's step has the busy bar while a cycle shows it; the index waits its turn.
        if (m_showingSyncProgress)
            return;
        m_showingIndexProgress = true;
        showProgress(tr("Indexing notes for search\u2026 %1%").arg(done * 100 / qMax(1, total)));
    });
    connect(database, &Database::searchIndexCompleted, this, [this] {
        if (m_showingIndexProgress)
            hideProgress();
        m_showingIndexProgress = false;
    });
}

void StatusBar::setLocation(const QString &text, int count)
{
    if (count < 0) {
        m_locationLabel->setText(text);
        return;
    }
    m_locationLabel->setText(QStringLiteral("%1 (%2 %3)")
                                 .arg(text)
                                 .arg(count)
                                 .arg(count == 1 ? tr("note") : tr("notes")));
}

void StatusBar::setSaved(bool saved)
{
    if (saved) {
        m_saveTimer.stop();
        m_saveState = Saved;
        m_saveError = WriteError();
        render();
        return;
    }
    if (m_saveState == NotSaved)
        return;
    if (m_saveState == Saved) {
        m_saveState = NoSaveState;
        render();
    }
    m_saveTimer.start();
}

void StatusBar::setSaveFailed(const WriteError &error)
{
    m_saveTimer.stop();
    m_saveState = NotSaved;
    m_saveError = error;
    render();
}

QString StatusBar::saveFailureText(const WriteError &error)
{
    switch (error.kind) {
    case WriteError::Kind::DiskFull:
        return tr("Not saved: the disk is full");
    case WriteError::Kind::ReadOnly:
        return tr("Not saved: the notes database is read-only");
    case WriteError::Kind::Locked:
        return tr("Not saved: the notes database is in use by another program");
    case WriteError::Kind::Other:
    case WriteError::Kind::None:
        break;
    }
    return tr("Not saved: the notes database reported an error");
}

void StatusBar::setWordCount(int count)
{
    m_wordCount = count;
    render();
}

void StatusBar::showMessage(const QString &text, int milliseconds)
{
    hideProgress();
    QStatusBar::showMessage(text, milliseconds);
}

void StatusBar::showProgress(const QString &text)
{
    m_progressLabel->setText(text);
    m_progressLabel->show();
    m_busyBar->show();
}

void StatusBar::hideProgress()
{
    m_showingSyncProgress = false;
    m_showingIndexProgress = false;
    m_progressLabel->hide();
    m_busyBar->hide();
}

void StatusBar::setSignedIn(bool signedIn, int syncState)
{
    if (!signedIn)
        m_syncIcon->setIconState(SyncCloudIcon::NotSignedIn, tr("Not signed in"));
    else if (syncState < 0)
        m_syncIcon->setIconState(SyncCloudIcon::Synced, tr("Signed in"));
    else
        setSyncState(syncState);
}

void StatusBar::setSyncState(int syncState)
{
    SyncCloudIcon::IconState icon = SyncCloudIcon::Synced;
    switch (syncState) {
    case SyncEngine::Pending:
        icon = SyncCloudIcon::UnsyncedChanges;
        break;
    case SyncEngine::Syncing:
        icon = SyncCloudIcon::Syncing;
        break;
    case SyncEngine::Error:
        icon = SyncCloudIcon::SyncError;
        break;
    case SyncEngine::Offline:
        icon = SyncCloudIcon::Offline;
        break;
    default:
        break;
    }
    m_syncIcon->setIconState(icon, SyncEngine::statusText(syncState));
}

void StatusBar::setSyncProgress(const QString &label, int current, int total)
{
    m_syncIcon->setIconState(SyncCloudIcon::Syncing,
        total > 0 ? label + QStringLiteral(" %1/%2").arg(current).arg(total) : label);
}

QString StatusBar::locationText() const
{
    return m_locationLabel->text();
}

QString StatusBar::saveAndWordsText() const
{
    return m_saveLabel->text();
}

void StatusBar::render()
{
    QStringList parts;
    if (m_saveState == Saving)
        parts.append(tr("Saving..."));
    else if (m_saveState == Saved)
        parts.append(tr("Saved"));
    else if (m_saveState == NotSaved)
        parts.append(saveFailureText(m_saveError));
    if (m_wordCount >= 0)
        parts.append(tr("Words: %1").arg(m_wordCount));
    const QString text = parts.join(QStringLiteral("   ·   "));
    m_saveLabel->setText(text);
    // A failed save must not look like the quiet grey of the rest of the bar.
    const bool failed = m_saveState == NotSaved;
    m_saveLabel->setStyleSheet(
        failed ? QStringLiteral("color: rgb(224, 122, 107); font-weight: 600;") : QString());
    m_saveLabel->setToolTip(failed
            ? tr("Your changes are kept in this window and saved as soon as the database "
                 "accepts them.\n\n%1")
                  .arg(m_saveError.text)
            : QString());
    m_separatorLabel->setVisible(!text.isEmpty());
}
