// libsecret's GLib headers use the word "signals", which Qt defines as a macro: include them
// before anything from Qt.
#include <libsecret/secret.h>

#include "secretservicetokenstore.h"

#ifndef Q_OS_WIN

#include <QtDebug>

namespace BrevAccount {

namespace {

const SecretSchema *tokenSchema()
{
    static const SecretSchema schema = { "app.brevaro.Notes.Token", SECRET_SCHEMA_NONE,
        {
            { "application", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "key", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr };
    return &schema;
}

QString takeError(GError *error)
{
    if (!error)
        return {};
    const QString message = QString::fromUtf8(error->message);
    g_error_free(error);
    return message;
}

} // namespace

SecretServiceTokenStore::SecretServiceTokenStore(const QString &applicationId)
    : m_applicationId(applicationId.toUtf8())
{ }

bool SecretServiceTokenStore::isAvailable()
{
    // Without a session bus GIO would try to autolaunch one; there is nothing to find then.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return false;
    GError *error = nullptr;
    SecretService *service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        qInfo().noquote() << "Secret Service not available:" << takeError(error);
        return false;
    }
    SecretCollection *collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    const QString message = takeError(error);
    g_object_unref(service);
    if (!collection) {
        qInfo().noquote() << "Secret Service has no default collection" << message;
        return false;
    }
    g_object_unref(collection);
    return true;
}

std::optional<QString> SecretServiceTokenStore::load(const QString &key)
{
    GError *error = nullptr;
    gchar *secret = secret_password_lookup_sync(tokenSchema(), nullptr, &error, "application",
        m_applicationId.constData(), "key", key.toUtf8().constData(), nullptr);
    if (error) {
        qWarning().noquote() << "SecretServiceTokenStore: lookup failed:" << takeError(error);
        return std::nullopt;
    }
    if (!secret)
        return std::nullopt;
    const QString value = QString::fromUtf8(secret);
    secret_password_free(secret);
    return value;
}

bool SecretServiceTokenStore::save(const QString &key, const QString &value)
{
    GError *error = nullptr;
    const gboolean stored = secret_password_store_sync(tokenSchema(), SECRET_COLLECTION_DEFAULT,
        "Brevaro Notes", value.toUtf8().constData(), nullptr, &error, "application",
        m_applicationId.constData(), "key", key.toUtf8().constData(), nullptr);
    if (!stored) {
        qWarning().noquote() << "SecretServiceTokenStore: store failed:" << takeError(error);
        return false;
    }
    return true;
}

bool SecretServiceTokenStore::remove(const QString &key)
{
    GError *error = nullptr;
    secret_password_clear_sync(tokenSchema(), nullptr, &error, "application",
        m_applicationId.constData(), "key", key.toUtf8().constData(), nullptr);
    if (error) {
        qWarning().noquote() << "SecretServiceTokenStore: remove failed:" << takeError(error);
        return false;
    }
    return true;
}

} // namespace BrevAccount

#endif
