#pragma once

#include <QMainWindow>

class AppState;

class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(AppState *appState, QWidget *parent = nullptr);

private:
    AppState *m_appState; // not owned
};
