#pragma once

#include <QList>
#include <QString>

class ServerContext;

// The administration commands behind "user add", "user list" and "user disable".
class UserAdmin final
{
public:
    struct UserRow
    {
        QString id;
        QString email;
        QString displayName;
        bool disabled = false;
        qint64 createdAt = 0;
    };

    explicit UserAdmin(ServerContext &context) : m_context(context) { }

    // Returns an error text, empty on success.
    QString addUser(const QString &email, const QString &password, const QString &displayName = {});
    QList<UserRow> listUsers();
    // Disabling also ends every session of that user.
    bool setDisabled(const QString &email, bool disabled);

private:
    ServerContext &m_context; // not owned
};
