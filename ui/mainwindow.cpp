#include "mainwindow.h"

#include "appstate.h"

MainWindow::MainWindow(AppState *appState, QWidget *parent)
    : QMainWindow(parent), m_appState(appState)
{
    setWindowTitle(tr("Brevaro Notes"));
    resize(1260, 800);
}
