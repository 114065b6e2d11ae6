#pragma once

#include "note.h"
#include "noterepository.h"

#include <QListView>

#include <functional>

class NoteListModel;

// The middle pane's list of notes. It holds display copies only and never touches storage:
// the main window refills it with setNotes() after every change and listens to its signals.
//
// Collections reach 100,000 notes and the list is refilled after every autosave, so rows are
// served by a model over the given list; titles and previews are derived lazily, only for rows
// that are shown, and cached per note id until the body changes.
class NoteListWidget final : public QListView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteListWidget)

public:
    // Item data roles, counted from Qt::UserRole.
    enum Role {
        NoteIdRole = Qt::UserRole,
        TitleRole, // display title: the title, else the preview, else "Untitled"
        PreviewRole, // empty when the display title was taken from the preview
        UpdatedAtRole,
        NotebookNameRole,
        UntitledRole, // the note's own title is empty
        SharedRole,
        SyncStatusRole, // int of SyncStatus
        // While a search is shown: QVariantList of QPoint(start, length), the matches in the
        // preview, which then is the passage around the first match in the note's text.
        PreviewMatchesRole,
    };

    static const QString NoteIdMimeType;

    explicit NoteListWidget(QWidget *parent = nullptr);
    ~NoteListWidget() override;

    // Fetches the plain text of bodies (bodyPlainText) by note id for the rows about to be
    // shown (ids missing from the answer count as empty bodies).
    using PlainTextLoader = std::function<QHash<QString, QString>(const QStringList &ids)>;

    // Replaces the notes, in the caller's order. Keeps the current note current without emitting
    // noteSelected, and keeps the same pixel row of the same note at the top of the view.
    void setNotes(const QList<Note> &notes);
    // The same for entries without bodies: titles and previews come from the plain-text loader,
    // only for rows that are shown, and stay cached while a note's entry keeps its body state.
    void setEntries(const QList<NoteListEntry> &entries);
    void setPlainTextLoader(PlainTextLoader loader);
    // The words a search looks for (SearchQuery::highlights); empty when the list is no search.
    void setMatchTerms(const QStringList &terms);

    // Makes the first row with this id current (emitting noteSelected); nothing when absent.
    void selectNote(const QString &noteId);
    QString currentNoteId() const;

    // Used to show each note's notebook name; set once by the main window.
    void setNotebookNameResolver(std::function<QString(const QString &notebookId)> resolver);
    // Names are asked once and kept (a query each, at every fill, cost a search list a
    // millisecond); a rename, a new or a deleted notebook calls this.
    void notebookNamesChanged();

    // Shown centred, in the placeholder colour, while the list has no rows ("Trash is empty").
    void setEmptyText(const QString &text);
    QString emptyText() const { return m_emptyText; }

    int count() const;
    int currentRow() const;
    void setCurrentRow(int row);
    QString noteIdAt(int row) const;
    int rowOfNote(const QString &noteId) const;

signals:
    void noteSelected(const QString &noteId);
    void noteDoubleClicked(const QString &noteId);
    void noteActivated(const QString &noteId);
    void noteDeleteRequested(const QString &noteId);
    void noteContextMenuRequested(const QString &noteId, const QPoint &globalPos);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void refill(const std::function<void()> &replace);

    NoteListModel *m_model;
    QString m_emptyText;
};
