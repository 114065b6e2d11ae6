#pragma once

#include <QDialog>

class QDialogButtonBox;
class QLineEdit;

// Asks for a notebook name: "New Notebook" with an empty field, "Rename Notebook" with the
// current name selected. OK is only enabled for a name that is not blank.
class NotebookDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotebookDialog)

public:
    NotebookDialog(const QString &title, const QString &initialName, QWidget *parent = nullptr);

    // The field's text, trimmed.
    QString name() const;
    QLineEdit *nameEdit() const { return m_nameEdit; }

    // Runs the dialog modally: the trimmed name on OK, "" on Cancel.
    static QString getName(const QString &title, const QString &initialName, QWidget *parent);

private:
    void updateOkButton();

    QLineEdit *m_nameEdit = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
};
