#include "searchscreen.h"

#include "appstate.h"
#include "database.h"
#include "notebookrepository.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "screenhelpers.h"
#include "searchlistloader.h"
#include "searchquery.h"

#include <QLineEdit>
#include <QPointer>
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
    if (!m_appState || !m_appState->notes())
        return;

    // Rows are body-less entries: titles and previews are derived only for the rows shown.
    QPointer<AppState> state(m_appState);
    m_noteList->setPlainTextLoader([state](const QStringList &ids) {
        return state && state->notes() ? state->notes()->plainTextsByIds(ids)
                                       : QHash<QString, QString>();
    });
    m_listCache = std::make_unique<NoteListCache>(m_appState->notes());
    if (Database *database = m_appState->database()) {
        m_loader = new SearchListLoader(database, this);
        connect(m_loader, &SearchListLoader::loaded, this,
            [this](const QString &text, quint64 tag, const QList<NoteListEntry> &entries) {
                const bool reordered = !m_listCache->isRanked();
                if (!m_listCache->completeSearch(text, tag, entries))
                    return;
                m_noteList->setEntries(m_listCache->entries());
                // The newest matches stood in for the ranking; the best ones are at the top.
                if (reordered)
                    m_noteList->scrollToTop();
            });
        // What a search found before the index was complete may have left notes out.
        connect(database, &Database::searchIndexCompleted, this, [this] {
            m_listCache->invalidate();
            if (isVisible() && !m_searchField->text().trimmed().isEmpty())
                refresh();
        });
    }
    // Results must not offer a note that was trashed or changed since the search ran.
    connect(m_appState, &AppState::notesChanged, this, [this] {
        if (isVisible() && !m_searchField->text().trimmed().isEmpty())
            m_searchTimer.start();
    });
}

SearchScreen::~SearchScreen() = default;

void SearchScreen::refresh()
{
    m_searchTimer.stop();
    const QString text = m_searchField->text().trimmed();
    if (text.isEmpty() || !m_listCache) {
        clearList();
        return;
    }
    m_noteList->setEmptyText(tr("No notes match \u201C%1\u201D").arg(text));
    m_noteList->setMatchTerms(searchQueryFromInput(text).highlights);
    // An unchanged search over unchanged notes keeps its list, unless the list was emptied.
    if (m_listCache->refresh(QString(), text, false) || m_listCleared) {
        m_listCleared = false;
        m_noteList->setEntries(m_listCache->entries());
        if (m_loader && !m_listCache->isComplete())
            m_loader->load(text, m_listCache->serial());
    }
    if (m_loader && m_listCache->isComplete())
        m_loader->cancel();
}

void SearchScreen::clearList()
{
    if (m_loader)
        m_loader->cancel();
    m_listCleared = true;
    m_noteList->setEmptyText(QString());
    m_noteList->setMatchTerms({});
    m_noteList->setEntries({});
}

void SearchScreen::focusSearch()
{
    m_searchField->setFocus(Qt::OtherFocusReason);
    m_searchField->selectAll();
}
