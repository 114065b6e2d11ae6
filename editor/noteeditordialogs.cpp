#include "noteeditor.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

NoteEditor::TablePrompt NoteEditor::promptInsertTable(QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(tr("Insert Table"));
    auto *layout = new QVBoxLayout(&dialog);
    auto *form = new QFormLayout;
    auto *rows = new QSpinBox(&dialog);
    rows->setRange(1, 100);
    rows->setValue(3);
    auto *columns = new QSpinBox(&dialog);
    columns->setRange(1, 20);
    columns->setValue(3);
    form->addRow(tr("Rows:"), rows);
    form->addRow(tr("Columns:"), columns);
    layout->addLayout(form);
    auto *header = new QCheckBox(tr("Include header row"), &dialog);
    header->setChecked(true);
    layout->addWidget(header);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    TablePrompt result;
    result.accepted = dialog.exec() == QDialog::Accepted;
    result.rows = rows->value();
    result.columns = columns->value();
    result.header = header->isChecked();
    return result;
}

NoteEditor::LinkPrompt NoteEditor::promptLink(
    QWidget *parent, const QString &title, const QString &text, const QString &address)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *form = new QFormLayout;
    auto *textEdit = new QLineEdit(text, &dialog);
    auto *urlEdit = new QLineEdit(address, &dialog);
    urlEdit->setMinimumWidth(360);
    form->addRow(tr("Text:"), textEdit);
    form->addRow(tr("URL:"), urlEdit);
    layout->addLayout(form);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (text.isEmpty()) {
        textEdit->setFocus();
    } else {
        urlEdit->setFocus();
        urlEdit->selectAll();
    }

    LinkPrompt result;
    const bool ok = dialog.exec() == QDialog::Accepted;
    result.text = textEdit->text();
    result.address = urlEdit->text().trimmed();
    result.accepted = ok && !result.address.isEmpty();
    return result;
}
