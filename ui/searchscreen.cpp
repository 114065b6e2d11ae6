#include "searchscreen.h"

#include "appstate.h"
#include "notebookrepository.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "screenhelpers.h"

#include <QLineEdit>
#include <QVBoxLayout>

SearchScreen::SearchScreen(AppState *appState, QWidget *parent)
    : QWidget(parent),
      m_appState(appState),
      m_searchField(new QLineEdit(this)),
      m_noteList(new NoteListWidget(this))
{
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setPlaceholderText(tr("Search all notes..."));
    m_searchField->setAccessibleName(tr("Search all notes"));
    m_searchField->setClearButtonEnabled(true);
    ScreenHelpers::nameClearButton(m_searchField);
    m_noteList->setObjectName(QStringLiteral("noteList"));
    ScreenHelpers::resolveNotebookNames(m_noteList, m_appState);

    ScreenHelpers::addCloseShortcuts(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_searchField);
    layout->addWidget(m_noteList);

    m_searchTimer.setSingleShot(true);
    m_searchTimer.setInterval(300);
    connect(&m_searchTimer, &QTimer::timeout, this, &SearchScreen::refresh);
    connect(m_searchField, &QLineEdit::textChanged, this, [this] { m_searchTimer.start(); });

    connect(m_noteList, &NoteListWidget::noteSelected, this, [this](const QString &noteId) {
        if (m_appState)
            m_appState->setCurrentNoteId(noteId);
    });
    connect(m_noteList, &NoteListWidget::noteDoubleClicked, this, [this](const QString &noteId) {
        if (m_appState && !noteId.isEmpty())
            m_appState->openNoteWindow(noteId);
    });
    if (m_appState) {
        // Results must not offer a note that was trashed or changed since the search ran.
        connect(m_appState, &AppState::notesChanged, this, [this] {
            if (isVisible() && !m_searchField->text().trimmed().isEmpty())
                m_searchTimer.start();
        });
    }
}

void SearchScreen::refresh()
{
    m_searchTimer.stop();
    const QString text = m_searchField->text().trimmed();
    if (text.isEmpty() || !m_appState || !m_appState->notes()) {
        m_noteList->setEmptyText(QString());
        m_noteList->setNotes({});
        return;
    }
    m_noteList->setEmptyText(tr("No notes match \u201C%1\u201D").arg(text));
    m_noteList->setNotes(m_appState->notes()->search(text));
}

void SearchScreen::focusSearch()
{
    m_searchField->setFocus(Qt::OtherFocusReason);
    m_searchField->selectAll();
}
