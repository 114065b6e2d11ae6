#pragma once

#include "noterepository.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <atomic>

class Database;

// Reads the whole list of a search on a thread of its own, over a connection of its own (the
// database is in WAL mode, so reading goes on beside the window's writes), while the window
// already shows the first screenful. Only the latest request is answered.
class SearchListLoader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchListLoader)

public:
    explicit SearchListLoader(Database *database, QObject *parent = nullptr);
    // Waits for a read still running: its connection must close before the database does.
    ~SearchListLoader() override;

    // `tag` comes back with the entries, for telling whether they still fit what is shown.
    // Reading starts once the event loop has run what is pending, the paint of the first
    // screenful included, so the thread does not take a core from that paint.
    void load(const QString &text, quint64 tag);
    // Forgets the pending request; a read already running is answered to no one.
    void cancel();

signals:
    void loaded(const QString &text, quint64 tag, const QList<NoteListEntry> &entries);

private:
    void startReading();

    QString m_path;
    QTimer m_startTimer;
    QString m_pendingText;
    quint64 m_pendingTag = 0;
    QThreadPool m_pool;
    std::atomic<quint64> m_generation { 0 };
};
