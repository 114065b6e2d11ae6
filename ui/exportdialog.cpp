#include "exportdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

ExportDialog::ExportDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Export Note"));
    setMinimumWidth(300);

    auto *group = new QGroupBox(tr("Format"), this);
    m_markdown = new QRadioButton(tr("Markdown (.md)"), group);
    m_html = new QRadioButton(tr("HTML (.html)"), group);
    m_pdf = new QRadioButton(tr("PDF (.pdf)"), group);
    m_markdown->setChecked(true);
    auto *groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_markdown);
    groupLayout->addWidget(m_html);
    groupLayout->addWidget(m_pdf);

    m_attachments = new QCheckBox(tr("Include attachments (ZIP bundle)"), this);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Export"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(m_attachments);
    layout->addWidget(buttons);
}

int ExportDialog::format() const
{
    if (m_html->isChecked())
        return 1;
    if (m_pdf->isChecked())
        return 2;
    return 0;
}

bool ExportDialog::includeAttachments() const
{
    return m_attachments->isChecked();
}
