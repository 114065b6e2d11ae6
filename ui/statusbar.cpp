#include "statusbar.h"

#include "synccloudicon.h"

#include <QLabel>

StatusBar::StatusBar(QWidget *parent)
    : QStatusBar(parent),
      m_locationLabel(new QLabel(tr("All Notes"), this)),
      m_saveLabel(new QLabel(this)),
      m_separatorLabel(new QLabel(QStringLiteral("·"), this)),
      m_syncIcon(new SyncCloudIcon(this))
{
    setStyleSheet(QStringLiteral("QStatusBar {  font-size: 9pt;  color: %1;}QStatusBar::item { "
                                 "border: none; }")
                      .arg(QStringLiteral("#78909C")));
    addWidget(m_locationLabel, 1);
    addPermanentWidget(m_saveLabel);
    addPermanentWidget(m_separatorLabel);
    addPermanentWidget(m_syncIcon);
    m_separatorLabel->hide();

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(SavingDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] {
        m_saveState = Saving;
        render();
    });
}

void StatusBar::setLocation(const QString &text, int count)
{
    if (count < 0) {
        m_locationLabel->setText(text);
        return;
    }
    m_locationLabel->setText(QStringLiteral("%1 (%2 %3)")
                                 .arg(text)
                                 .arg(count)
                                 .arg(count == 1 ? tr("note") : tr("notes")));
}

void StatusBar::setSaved(bool saved)
{
    if (saved) {
        m_saveTimer.stop();
        m_saveState = Saved;
        render();
        return;
    }
    if (m_saveState == Saved) {
        m_saveState = NoSaveState;
        render();
    }
    m_saveTimer.start();
}

void StatusBar::setWordCount(int count)
{
    m_wordCount = count;
    render();
}

void StatusBar::showMessage(const QString &text, int milliseconds)
{
    QStatusBar::showMessage(text, milliseconds);
}

void StatusBar::setSignedIn(bool signedIn)
{
    if (signedIn)
        m_syncIcon->setIconState(SyncCloudIcon::Synced, tr("Signed in"));
    else
        m_syncIcon->setIconState(SyncCloudIcon::NotSignedIn, tr("Not signed in"));
}

QString StatusBar::locationText() const
{
    return m_locationLabel->text();
}

QString StatusBar::saveAndWordsText() const
{
    return m_saveLabel->text();
}

void StatusBar::render()
{
    QStringList parts;
    if (m_saveState == Saving)
        parts.append(tr("Saving..."));
    else if (m_saveState == Saved)
        parts.append(tr("Saved"));
    if (m_wordCount >= 0)
        parts.append(tr("Words: %1").arg(m_wordCount));
    const QString text = parts.join(QStringLiteral("   ·   "));
    m_saveLabel->setText(text);
    m_separatorLabel->setVisible(!text.isEmpty());
}
