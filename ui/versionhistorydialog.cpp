#include "versionhistorydialog.h"

#include "appstate.h"
#include "attachmentrepository.h"
#include "noteeditor.h"
#include "noterepository.h"
#include "notewriter.h"
#include "screenhelpers.h"
#include "snapshotrepository.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

VersionHistoryDialog::VersionHistoryDialog(AppState *state, const QString &noteId, QWidget *parent)
    : QDialog(parent), m_state(state), m_noteId(noteId)
{
    setWindowTitle(tr("Version History"));
    resize(800, 500);

    ScreenHelpers::addCloseShortcuts(this);

    auto *layout = new QVBoxLayout(this);
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    layout->addWidget(splitter);

    auto *left = new QWidget(splitter);
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    m_list = new QListWidget(left);
    m_list->setAccessibleName(tr("Versions"));
    leftLayout->addWidget(m_list);
    auto *buttons = new QHBoxLayout;
    m_saveButton = new QPushButton(tr("Save Snapshot Now"), left);
    // The empty list's hint names Ctrl+S; inside this dialog it does what the hint says.
    m_saveButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_saveButton->setAutoDefault(false);
    m_restoreButton = new QPushButton(tr("Restore Selected"), left);
    m_restoreButton->setAutoDefault(false);
    m_restoreButton->setEnabled(false);
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_restoreButton);
    leftLayout->addLayout(buttons);
    splitter->addWidget(left);

    m_preview = new NoteEditor(splitter);
    if (m_state)
        m_preview->setAttachmentRepository(m_state->attachments());
    m_preview->setReadOnly(true);
    m_preview->setAccessibleName(tr("Selected version"));
    splitter->addWidget(m_preview);
    splitter->setSizes({ 250, 550 });

    connect(
        m_list, &QListWidget::currentRowChanged, this, &VersionHistoryDialog::onCurrentRowChanged);
    connect(m_saveButton, &QPushButton::clicked, this, &VersionHistoryDialog::saveSnapshotNow);
    connect(m_restoreButton, &QPushButton::clicked, this, &VersionHistoryDialog::restoreSelected);

    refill();
}

namespace {

constexpr int VersionRole = Qt::UserRole + 1;

} // namespace

void VersionHistoryDialog::refill(int selectVersion)
{
    m_list->clear();
    const QList<Snapshot> snapshots
        = m_state ? m_state->snapshots()->snapshotsForNote(m_noteId) : QList<Snapshot>();
    for (const Snapshot &snapshot : snapshots) {
        auto *item = new QListWidgetItem(QStringLiteral("v%1 \u2014 %2")
                                             .arg(snapshot.version)
                                             .arg(snapshot.createdAt.toLocalTime().toString(
                                                 QStringLiteral("MMM d, yyyy h:mm AP"))),
            m_list);
        item->setData(Qt::UserRole, snapshot.id);
        item->setData(VersionRole, snapshot.version);
    }
    if (snapshots.isEmpty()) {
        auto *item = new QListWidgetItem(tr("No snapshots yet. Press Ctrl+S to save one."), m_list);
        // Nothing to restore from the hint, so it cannot be selected.
        item->setFlags(item->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
    }
    for (int row = 0; selectVersion >= 0 && row < m_list->count(); ++row) {
        if (m_list->item(row)->data(VersionRole).toInt() == selectVersion
            && !m_list->item(row)->data(Qt::UserRole).toString().isEmpty()) {
            // Setting the row previews it through currentRowChanged.
            m_list->setCurrentRow(row);
            return;
        }
    }
    onCurrentRowChanged(m_list->currentRow());
}

void VersionHistoryDialog::showPreviewHint()
{
    m_preview->clearNote();
    // The editor's own hint speaks of notes; here only a snapshot can be shown.
    const bool hasSnapshots
        = m_list->count() > 0 && !m_list->item(0)->data(Qt::UserRole).toString().isEmpty();
    m_preview->setPlaceholderText(
        hasSnapshots ? tr("Select a snapshot to preview it.") : QString());
}

void VersionHistoryDialog::onCurrentRowChanged(int row)
{
    QListWidgetItem *item = row >= 0 ? m_list->item(row) : nullptr;
    const QString id = item ? item->data(Qt::UserRole).toString() : QString();
    m_restoreButton->setEnabled(!id.isEmpty());
    if (!item) {
        showPreviewHint();
        return;
    }
    if (id.isEmpty() || !m_state)
        return;
    if (const auto snapshot = m_state->snapshots()->snapshotById(id)) {
        m_preview->setNote(QStringLiteral("preview"), snapshot->body);
        m_preview->setReadOnly(true);
    }
}

void VersionHistoryDialog::saveSnapshotNow()
{
    if (!m_state)
        return;
    const auto note = m_state->notes()->noteById(m_noteId);
    if (note && m_state->snapshots()->takeSnapshot(*note, note->body)) {
        refill(note->version);
        return;
    }
    refill();
}

void VersionHistoryDialog::restoreSelected()
{
    if (!m_state)
        return;
    QListWidgetItem *item = m_list->currentItem();
    const QString id = item ? item->data(Qt::UserRole).toString() : QString();
    if (id.isEmpty())
        return;
    const auto snapshot = m_state->snapshots()->snapshotById(id);
    if (!snapshot)
        return;
    if (QMessageBox::question(this, tr("Restore Snapshot"),
            tr("Replace current content with this snapshot? A snapshot of the current content "
               "will be saved first."),
            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;

    bool restored = false;
    if (auto note = m_state->notes()->noteById(m_noteId)) {
        m_state->snapshots()->takeSnapshot(*note, note->body);
        // Restoring the body the note already has is still a restore the user asked for.
        restored
            = note->body == snapshot->body || m_state->writer()->saveBody(*note, snapshot->body);
        if (restored)
            m_state->notifyNoteUpdated(m_noteId, this);
    }

    refill();
    if (restored) {
        emit noteRestored(m_noteId);
        QMessageBox::information(this, tr("Restored"), tr("Snapshot restored successfully."));
    } else {
        // A vanished note or a failed write must not be reported as a restore.
        QMessageBox::warning(this, tr("Restore Snapshot"),
            tr("The snapshot could not be restored. The note was not changed."));
    }
}
