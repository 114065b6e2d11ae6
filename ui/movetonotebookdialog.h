#pragma once

#include "notebook.h"

#include <QDialog>
#include <QList>

class QDialogButtonBox;
class QListWidget;
class QListWidgetItem;

// Picks the notebook a note moves to. The note's own notebook is listed but cannot be chosen.
class MoveToNotebookDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MoveToNotebookDialog)

public:
    MoveToNotebookDialog(const QList<Notebook> &notebooks, const QString &currentNotebookId,
        QWidget *parent = nullptr);

    // The id of the selected row when it is not the current notebook, else "".
    QString selectedNotebookId() const;
    QListWidget *list() const { return m_list; }

    // Runs the dialog modally: the chosen notebook's id on OK, "" otherwise.
    static QString chooseNotebook(
        const QList<Notebook> &notebooks, const QString &currentNotebookId, QWidget *parent);

private:
    void updateOkButton();
    void onItemDoubleClicked(QListWidgetItem *item);

    QString m_currentNotebookId;
    QListWidget *m_list = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
};
