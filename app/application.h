#pragma once

#include <QApplication>
#include <QElapsedTimer>

class AppState;
struct InstanceRequest;
class MainWindow;
class SingleInstance;

class Application final : public QApplication
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Application)

public:
    // `started` runs from the first line of main, for the start-up time logged at first paint.
    Application(int &argc, char **argv, QElapsedTimer started = {});
    ~Application() override;

    // The process exit code: 0 after handing the request to a running copy, 1 when the database
    // cannot be opened, otherwise the event loop's result.
    int run();

    AppState *appState() const { return m_appState; }
    MainWindow *mainWindow() const { return m_mainWindow; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

    static constexpr int StartSearchIndexAfterMs = 3000;

private:
    void handleInstanceMessage(const QString &message);
    // Everything after the collection is open: windows, restored windows, kept texts.
    void startSession(const InstanceRequest &request);
    // The check of a large file, run after the first paint, failed: the same "Database Error"
    // question as at start, then the collection is reopened the way the user chose.
    void handleLateDatabaseFailure();
    // Shows "Database Error" with the file's path and carries out the user's choice; true when
    // a collection is open afterwards.
    bool resolveDatabaseError();
    // Offers back the note texts a failed save left in the recovery file.
    void offerUnsavedNotes();

    AppState *m_appState = nullptr;
    MainWindow *m_mainWindow = nullptr; // owned, deleted with the application
    SingleInstance *m_singleInstance = nullptr;
    QElapsedTimer m_started;
};
