#include "sharedscreen.h"

#include "appstate.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "screenhelpers.h"

#include <QLabel>
#include <QVBoxLayout>

SharedScreen::SharedScreen(AppState *appState, Mode mode, QWidget *parent)
    : QWidget(parent),
      m_appState(appState),
      m_mode(mode),
      m_noteList(new NoteListWidget(this)),
      m_emptyLabel(new QLabel(this))
{
    m_noteList->setObjectName(QStringLiteral("noteList"));
    ScreenHelpers::resolveNotebookNames(m_noteList, m_appState);
    m_emptyLabel->setObjectName(QStringLiteral("emptyLabel"));
    m_emptyLabel->setText(mode == SharedWithMe ? tr("No notes have been shared with you yet.")
                                               : tr("You haven't shared any notes yet."));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setEnabled(false);
    m_emptyLabel->setVisible(false);

    ScreenHelpers::addCloseShortcuts(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_noteList, 1);
    layout->addWidget(m_emptyLabel);

    connect(m_noteList, &NoteListWidget::noteSelected, this, [this](const QString &noteId) {
        if (m_appState && !noteId.isEmpty())
            m_appState->setCurrentNoteId(noteId);
    });
    // Return or a double click opens the note in its own window, as in the search screen.
    const auto openWindow = [this](const QString &noteId) {
        if (m_appState && !noteId.isEmpty())
            m_appState->openNoteWindow(noteId);
    };
    connect(m_noteList, &NoteListWidget::noteActivated, this, openWindow);
    connect(m_noteList, &NoteListWidget::noteDoubleClicked, this, openWindow);
    if (m_appState)
        connect(m_appState, &AppState::notesChanged, this, &SharedScreen::refresh);
}

void SharedScreen::refresh()
{
    NoteRepository *repository = m_appState ? m_appState->notes() : nullptr;
    QList<Note> notes;
    if (repository)
        notes = m_mode == SharedByMe ? repository->sharedByMe() : repository->sharedWithMe();
    m_noteList->setNotes(notes);
    m_noteList->setVisible(!notes.isEmpty());
    m_emptyLabel->setVisible(notes.isEmpty());
}
