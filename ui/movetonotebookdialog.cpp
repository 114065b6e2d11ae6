#include "movetonotebookdialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int NotebookIdRole = Qt::UserRole;

} // namespace

MoveToNotebookDialog::MoveToNotebookDialog(
    const QList<Notebook> &notebooks, const QString &currentNotebookId, QWidget *parent)
    : QDialog(parent), m_currentNotebookId(currentNotebookId)
{
    setWindowTitle(tr("Move to Notebook"));
    setMinimumSize(300, 250);

    m_list = new QListWidget(this);
    m_list->setAccessibleName(tr("Notebooks"));
    auto *unfiled = new QListWidgetItem(tr("No notebook"), m_list);
    unfiled->setData(NotebookIdRole, QString());
    if (currentNotebookId.isEmpty()) {
        unfiled->setText(tr("No notebook (current)"));
        unfiled->setFlags(unfiled->flags() & ~Qt::ItemIsEnabled);
    }
    for (const Notebook &notebook : notebooks) {
        auto *item = new QListWidgetItem(notebook.name, m_list);
        item->setData(NotebookIdRole, notebook.id);
        if (notebook.id == currentNotebookId) {
            item->setText(tr("%1 (current)").arg(notebook.name));
            item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
        }
    }

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Selection, not the current item: a list that gets focus makes its first row current
    // without the user choosing anything.
    connect(
        m_list, &QListWidget::itemSelectionChanged, this, &MoveToNotebookDialog::updateOkButton);
    connect(
        m_list, &QListWidget::itemDoubleClicked, this, &MoveToNotebookDialog::onItemDoubleClicked);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Select a notebook:"), this));
    layout->addWidget(m_list);
    layout->addWidget(m_buttons);

    updateOkButton();
}

std::optional<QString> MoveToNotebookDialog::selectedNotebookId() const
{
    const QList<QListWidgetItem *> selected = m_list->selectedItems();
    const QListWidgetItem *item = selected.isEmpty() ? nullptr : selected.first();
    if (!item || !(item->flags() & Qt::ItemIsEnabled))
        return std::nullopt;
    const QString id = item->data(NotebookIdRole).toString();
    if (id == m_currentNotebookId)
        return std::nullopt;
    return id;
}

std::optional<QString> MoveToNotebookDialog::chooseNotebook(
    const QList<Notebook> &notebooks, const QString &currentNotebookId, QWidget *parent)
{
    MoveToNotebookDialog dialog(notebooks, currentNotebookId, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedNotebookId();
}

void MoveToNotebookDialog::updateOkButton()
{
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(selectedNotebookId().has_value());
}

void MoveToNotebookDialog::onItemDoubleClicked(QListWidgetItem *item)
{
    if (item && item->data(NotebookIdRole).toString() != m_currentNotebookId
        && (item->flags() & Qt::ItemIsEnabled)) {
        m_list->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
        accept();
    }
}
