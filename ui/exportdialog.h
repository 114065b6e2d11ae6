#pragma once

#include <QDialog>

class QCheckBox;
class QRadioButton;

// Picks the export format: 0 Markdown (the default), 1 HTML, 2 PDF.
class ExportDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ExportDialog)

public:
    explicit ExportDialog(QWidget *parent = nullptr);

    int format() const;
    bool includeAttachments() const;

    QRadioButton *markdownButton() const { return m_markdown; }
    QRadioButton *htmlButton() const { return m_html; }
    QRadioButton *pdfButton() const { return m_pdf; }
    QCheckBox *attachmentsBox() const { return m_attachments; }

private:
    QRadioButton *m_markdown = nullptr;
    QRadioButton *m_html = nullptr;
    QRadioButton *m_pdf = nullptr;
    QCheckBox *m_attachments = nullptr;
};
