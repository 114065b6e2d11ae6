#include "notebookdialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

NotebookDialog::NotebookDialog(const QString &title, const QString &initialName, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    setMinimumWidth(350);

    m_nameEdit = new QLineEdit(initialName, this);
    m_nameEdit->setPlaceholderText(tr("Notebook name"));
    m_nameEdit->selectAll();

    auto *form = new QFormLayout;
    form->addRow(tr("Name:"), m_nameEdit);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_nameEdit, &QLineEdit::textChanged, this, &NotebookDialog::updateOkButton);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_buttons);

    updateOkButton();
    m_nameEdit->setFocus();
}

QString NotebookDialog::name() const
{
    return m_nameEdit->text().trimmed();
}

QString NotebookDialog::getName(const QString &title, const QString &initialName, QWidget *parent)
{
    NotebookDialog dialog(title, initialName, parent);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.name();
}

void NotebookDialog::updateOkButton()
{
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!name().isEmpty());
}
