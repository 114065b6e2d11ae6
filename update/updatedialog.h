#pragma once

#include "manifest.h"

#include <QDialog>

class QPushButton;

namespace BrevUpdate {

class ReleaseNotesView;

// Tells the user a newer build exists, shows its release notes when the manifest names them,
// and opens the download in the browser.
class UpdateDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateDialog)

public:
    UpdateDialog(const Artifact &artifact, const QString &currentVersion,
        const QString &displayName, QWidget *parent = nullptr);

    ReleaseNotesView *notesView() const { return m_notesView; }
    QPushButton *downloadButton() const { return m_downloadButton; }
    QPushButton *laterButton() const { return m_laterButton; }

private:
    void onNotesReady(const QString &markdown);
    void onDownloadClicked();

    Artifact m_artifact;
    ReleaseNotesView *m_notesView = nullptr;
    QPushButton *m_downloadButton = nullptr;
    QPushButton *m_laterButton = nullptr;
};

} // namespace BrevUpdate
