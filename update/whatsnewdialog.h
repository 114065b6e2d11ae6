#pragma once

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;

namespace BrevUpdate {

class ReleaseNotesView;

// The release notes of one version, with a download button when they belong to a release newer
// than the running one.
class WhatsNewDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WhatsNewDialog)

public:
    WhatsNewDialog(const QString &markdown, const QString &notesVersion,
        const QString &runningVersion, const QString &displayName, QWidget *parent = nullptr,
        const QUrl &downloadUrl = QUrl());

    ReleaseNotesView *notesView() const { return m_notesView; }
    QPushButton *downloadButton() const { return m_downloadButton; }

private:
    ReleaseNotesView *m_notesView;
    QPushButton *m_downloadButton = nullptr;
};

} // namespace BrevUpdate
