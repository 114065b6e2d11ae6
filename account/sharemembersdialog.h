#pragma once

#include "accountrecords.h"
#include "sharingbackend.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QVBoxLayout;
class QWidget;

namespace BrevAccount {

class Client;

// The texts of one use of the share dialog (a note, a notebook); empty ones take a default.
struct ShareDialogTexts
{
    QString windowTitle;
    QString heading;
    QString description;
    QString accessHeader; // "People with access"
    QString candidatesHeader; // "Add people"
    QString emptyText; // "Not shared with anyone yet."
    QString noGroupText;
    QString allHaveAccessText; // "All group members already have access"
    QString shareButton; // "Share"
    QString removeTooltip; // "Remove access"
    QString closeButton; // "Close"
    QString permission; // preselected for new shares: "view", anything else means edit
    QString shareFailedTitle;
    QString removeFailedTitle;
    QString removeConfirmTitle; // "Remove access?"
    QString removeConfirmText; // "%1 will no longer have access. Continue?"
};

// Shares one note or notebook with members of the user's group, changes what they may do with
// it and revokes access. Works against a SharingBackend, so it does not know which kind of item
// it shares.
class ShareMembersDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ShareMembersDialog)

public:
    ShareMembersDialog(Client *client, SharingBackend *backend, const QString &entityId,
        const ShareDialogTexts &texts, QWidget *parent = nullptr);

    // Loads the group and the current shares again.
    void refresh();
    void loadGroupMembers();
    void loadShares();
    // `permission` empty: the one the texts preselect.
    void shareWithMember(
        const QString &targetId, const QString &displayName, const QString &permission = QString());
    void changePermission(
        const QString &targetId, const QString &displayName, const QString &permission);
    void removeShare(const QString &targetId, const QString &displayName);

    bool isBusy() const { return m_busy; }
    QString entityId() const { return m_entityId; }
    // Upper-cased initials for an avatar: first letters of the first and last words of the
    // name, else its first character, else the email's, else "?".
    static QString initials(const QString &displayName, const QString &email);

signals:
    void sharingChanged();

private:
    void rebuildLists();
    QWidget *shareRow(const ShareMember &share);
    QWidget *candidateRow(const GroupMember &member);
    QLabel *avatar(const QString &displayName, const QString &email, bool faded) const;
    const GroupMember *memberWithTarget(const QString &targetId) const;
    void showError(const QString &text);
    void finishChange(bool ok, const QString &error);

    Client *m_client; // not owned
    QPointer<SharingBackend> m_backend; // not owned
    QString m_entityId;
    ShareDialogTexts m_texts;

    QList<ShareMember> m_shares;
    QList<GroupMember> m_members;
    QString m_currentAccountId;
    bool m_busy = false;
    bool m_sharesLoaded = false;
    bool m_groupLoaded = false;
    // Bumped per load, so an answer overtaken by a newer request is dropped.
    quint64 m_sharesRequest = 0;
    quint64 m_groupRequest = 0;

    QLabel *m_errorLabel = nullptr;
    QLabel *m_noGroupLabel = nullptr;
    QLabel *m_allHaveAccessLabel = nullptr;
    QVBoxLayout *m_accessLayout = nullptr;
    QVBoxLayout *m_candidatesLayout = nullptr;
    QWidget *m_accessRows = nullptr;
    QWidget *m_candidateRows = nullptr;
};

} // namespace BrevAccount
