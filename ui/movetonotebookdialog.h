#pragma once

#include "notebook.h"

#include <QDialog>
#include <QList>

#include <optional>

class QDialogButtonBox;
class QListWidget;
class QListWidgetItem;

// Picks the notebook a note moves to. The first row, "No notebook", takes the note out of its
// notebook; the note's own place (a notebook, or no notebook) is listed but cannot be chosen.
class MoveToNotebookDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MoveToNotebookDialog)

public:
    MoveToNotebookDialog(const QList<Notebook> &notebooks, const QString &currentNotebookId,
        QWidget *parent = nullptr);

    // The selected target: a notebook id, or "" for no notebook; nothing while no row other
    // than the current place is selected.
    std::optional<QString> selectedNotebookId() const;
    QListWidget *list() const { return m_list; }

    // Runs the dialog modally: the chosen target on OK (as selectedNotebookId), else nothing.
    static std::optional<QString> chooseNotebook(
        const QList<Notebook> &notebooks, const QString &currentNotebookId, QWidget *parent);

private:
    void updateOkButton();
    void onItemDoubleClicked(QListWidgetItem *item);

    QString m_currentNotebookId;
    QListWidget *m_list = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
};
