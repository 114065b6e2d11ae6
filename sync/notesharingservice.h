#pragma once

#include "sharingbackend.h"

namespace BrevAccount {
class ApiClient;
}

// Shares notes or notebooks through the notes sync service. The application keeps one
// instance for each; they differ only in the paths they call.
class NoteSharingService final : public BrevAccount::SharingBackend
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NoteSharingService)

public:
    enum class Kind { Notes, Notebooks };

    NoteSharingService(BrevAccount::ApiClient *syncApi, Kind kind, QObject *parent = nullptr);

    Kind kind() const { return m_kind; }

    void listMembers(const QString &entityId, MembersCallback callback) override;
    void shareWith(const QString &entityId, const QString &targetId, const QString &permission,
        ShareCallback callback) override;
    void removeShare(
        const QString &entityId, const QString &targetId, RemoveCallback callback) override;
    // The member's authentication user id when it has one, else its account id.
    QString shareTargetId(const BrevAccount::GroupMember &member) const override;

private:
    QString sharePath(const QString &entityId) const;
    QString listPath(const QString &entityId) const;
    QString removePath(const QString &entityId, const QString &targetId) const;

    BrevAccount::ApiClient *m_api; // not owned
    Kind m_kind;
};
