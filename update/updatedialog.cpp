#include "updatedialog.h"

#include "releasenotesfetcher.h"
#include "releasenotesview.h"
#include "updatelog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace BrevUpdate {

UpdateDialog::UpdateDialog(const Artifact &artifact, const QString &currentVersion,
    const QString &displayName, QWidget *parent)
    : QDialog(parent), m_artifact(artifact)
{
    setWindowTitle(tr("Update available"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);

    auto *heading = new QLabel(tr("A new version of %1 is available.").arg(displayName), this);
    heading->setObjectName(QStringLiteral("updateHeading"));
    QFont headingFont = heading->font();
    headingFont.setWeight(QFont::Bold);
    if (headingFont.pointSizeF() > 0)
        headingFont.setPointSizeF(headingFont.pointSizeF() + 1);
    heading->setFont(headingFont);
    layout->addWidget(heading);

    auto *versions = new QLabel(
        tr("You have version %1. The latest version is %2.").arg(currentVersion, artifact.version),
        this);
    versions->setObjectName(QStringLiteral("updateVersions"));
    versions->setWordWrap(true);
    layout->addWidget(versions);

    if (isWebUrl(artifact.releaseNotesUrl)) {
        m_notesView = new ReleaseNotesView(this);
        m_notesView->setPlaceholderText(tr("Loading release notes…"));
        m_notesView->setMinimumHeight(150);
        layout->addWidget(m_notesView, 1);
        auto *fetcher = new ReleaseNotesFetcher(
            artifact.releaseNotesUrl, QStringLiteral("update-dialog"), this);
        connect(fetcher, &ReleaseNotesFetcher::notesReady, this, &UpdateDialog::onNotesReady);
        connect(fetcher, &ReleaseNotesFetcher::notesUnavailable, this, [this] {
            m_notesView->setMarkdown(tr("*Release notes are not available for this version.*"));
        });
        fetcher->fetch();
        resize(520, 420);
    }

    auto *buttons = new QDialogButtonBox(this);
    m_downloadButton = buttons->addButton(tr("Download"), QDialogButtonBox::AcceptRole);
    m_downloadButton->setDefault(true);
    connect(m_downloadButton, &QPushButton::clicked, this, &UpdateDialog::onDownloadClicked);
    if (!artifact.mandatory) {
        m_laterButton = buttons->addButton(tr("Later"), QDialogButtonBox::RejectRole);
        connect(m_laterButton, &QPushButton::clicked, this, &QDialog::reject);
    }
    layout->addWidget(buttons);
}

void UpdateDialog::onNotesReady(const QString &markdown)
{
    m_notesView->setMarkdown(markdown);
}

void UpdateDialog::onDownloadClicked()
{
    if (!isWebUrl(m_artifact.url))
        qCWarning(lcUpdate) << "BrevUpdate: download URL is empty or invalid";
    else if (!QDesktopServices::openUrl(m_artifact.url))
        qCWarning(lcUpdate) << "BrevUpdate: QDesktopServices::openUrl failed for:"
                            << m_artifact.url;
    accept();
}

} // namespace BrevUpdate
