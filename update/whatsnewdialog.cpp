#include "whatsnewdialog.h"

#include "manifest.h"
#include "releasenotesview.h"
#include "updatelog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace BrevUpdate {

WhatsNewDialog::WhatsNewDialog(const QString &markdown, const QString &notesVersion,
    const QString &runningVersion, const QString &displayName, QWidget *parent,
    const QUrl &downloadUrl)
    : QDialog(parent), m_notesView(new ReleaseNotesView(this))
{
    setWindowTitle(tr("What's New in %1 %2").arg(displayName, notesVersion));
    resize(520, 420);
    auto *layout = new QVBoxLayout(this);

    auto *heading = new QLabel(tr("What's new in %1 %2").arg(displayName, notesVersion), this);
    heading->setObjectName(QStringLiteral("whatsNewHeading"));
    QFont headingFont = heading->font();
    headingFont.setWeight(QFont::Bold);
    if (headingFont.pointSizeF() > 0)
        headingFont.setPointSizeF(headingFont.pointSizeF() + 2);
    heading->setFont(headingFont);
    layout->addWidget(heading);

    m_notesView->setMarkdown(markdown);
    layout->addWidget(m_notesView, 1);

    auto *footer = new QHBoxLayout;
    auto *running = new QLabel(tr("You are running version %1").arg(runningVersion), this);
    running->setObjectName(QStringLiteral("runningVersion"));
    running->setStyleSheet(QStringLiteral("color: gray; font-size: 11px;"));
    footer->addWidget(running);
    footer->addStretch();
    layout->addLayout(footer);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Only web addresses are opened: the URL came from the download server.
    if (isWebUrl(downloadUrl)) {
        m_downloadButton
            = buttons->addButton(tr("Download %1").arg(notesVersion), QDialogButtonBox::AcceptRole);
        connect(m_downloadButton, &QPushButton::clicked, this, [this, downloadUrl] {
            if (!QDesktopServices::openUrl(downloadUrl))
                qCWarning(lcUpdate)
                    << "BrevUpdate: QDesktopServices::openUrl failed for:" << downloadUrl;
            accept();
        });
    }
    layout->addWidget(buttons);
}

} // namespace BrevUpdate
