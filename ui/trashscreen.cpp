#include "trashscreen.h"

#include "appstate.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "notewriter.h"
#include "screenhelpers.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

TrashScreen::TrashScreen(AppState *appState, QWidget *parent)
    : QWidget(parent),
      m_appState(appState),
      m_restoreButton(new QPushButton(tr("Restore"), this)),
      m_deleteButton(new QPushButton(tr("Delete Permanently"), this)),
      m_emptyButton(new QPushButton(tr("Empty Trash"), this)),
      m_noteList(new NoteListWidget(this))
{
    m_restoreButton->setObjectName(QStringLiteral("restoreButton"));
    m_deleteButton->setObjectName(QStringLiteral("deleteButton"));
    m_emptyButton->setObjectName(QStringLiteral("emptyButton"));
    m_noteList->setObjectName(QStringLiteral("noteList"));
    // Trashed notes cannot be moved by dragging them onto a notebook.
    m_noteList->setDragEnabled(false);
    m_noteList->setEmptyText(tr("Trash is empty"));
    ScreenHelpers::resolveNotebookNames(m_noteList, m_appState);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_restoreButton);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch();
    buttons->addWidget(m_emptyButton);

    ScreenHelpers::addCloseShortcuts(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(buttons);
    layout->addWidget(m_noteList);

    setSelectionButtonsEnabled(false);
    m_emptyButton->setEnabled(false);

    connect(m_noteList, &NoteListWidget::noteSelected, this,
        [this](const QString &noteId) { setSelectionButtonsEnabled(!noteId.isEmpty()); });
    connect(m_restoreButton, &QPushButton::clicked, this, &TrashScreen::restoreCurrent);
    connect(m_deleteButton, &QPushButton::clicked, this, &TrashScreen::deleteCurrent);
    connect(m_emptyButton, &QPushButton::clicked, this, &TrashScreen::emptyTrash);
}

void TrashScreen::refresh()
{
    const QList<Note> trashed
        = m_appState && m_appState->notes() ? m_appState->notes()->trashedNotes() : QList<Note>();
    m_noteList->setNotes(trashed);
    m_noteList->setCurrentRow(-1);
    setSelectionButtonsEnabled(false);
    m_emptyButton->setEnabled(!trashed.isEmpty());
}

void TrashScreen::setSelectionButtonsEnabled(bool enabled)
{
    m_restoreButton->setEnabled(enabled);
    m_deleteButton->setEnabled(enabled);
}

bool TrashScreen::confirm(const QString &title, const QString &text)
{
    return QMessageBox::question(this, title, text, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

void TrashScreen::restoreCurrent()
{
    const QString noteId = m_noteList->currentNoteId();
    if (noteId.isEmpty() || !m_appState || !m_appState->notes())
        return;
    m_appState->writer()->restoreNote(noteId);
    refresh();
}

void TrashScreen::deleteCurrent()
{
    const QString noteId = m_noteList->currentNoteId();
    if (noteId.isEmpty() || !m_appState || !m_appState->notes())
        return;
    if (!confirm(tr("Delete Permanently"),
            tr("This note will be permanently deleted. This cannot be undone.")))
        return;
    m_appState->writer()->purgeNote(noteId);
    refresh();
}

void TrashScreen::emptyTrash()
{
    if (!m_appState || !m_appState->notes())
        return;
    const QList<Note> trashed = m_appState->notes()->trashedNotes();
    if (trashed.isEmpty())
        return;
    if (!confirm(tr("Empty Trash"),
            tr("Permanently delete all %1 notes in trash? This cannot be undone.")
                .arg(trashed.size())))
        return;
    // Purges what is still in the trash now: a note restored meanwhile (by a sync) is kept.
    if (m_appState->writer()->emptyTrash() < 0)
        qWarning().noquote() << "TrashScreen: could not empty the trash; nothing was deleted";
    refresh();
}
