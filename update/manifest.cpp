#include "manifest.h"

#include "version.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

#include <cmath>

namespace BrevUpdate {

namespace {

bool isHex(const QString &text)
{
    for (const QChar c : text) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!digit && !letter)
            return false;
    }
    return true;
}

// Reads one artifact; false with `error` set for a missing required string, false with an empty
// `error` for any other broken rule.
bool readArtifact(const QJsonObject &object, Artifact *artifact, QString *error)
{
    for (const char *field : { "version", "released_at", "url", "sha256" }) {
        if (!object.value(QLatin1String(field)).isString()) {
            *error = QStringLiteral("missing or non-string field: %1").arg(QLatin1String(field));
            return false;
        }
    }
    artifact->version = object.value(QLatin1String("version")).toString();
    if (!Version::isCanonical(artifact->version))
        return false;

    artifact->releasedAt = QDateTime::fromString(
        object.value(QLatin1String("released_at")).toString(), Qt::ISODateWithMs);
    if (!artifact->releasedAt.isValid())
        return false;

    artifact->url = QUrl(object.value(QLatin1String("url")).toString(), QUrl::StrictMode);
    if (!isWebUrl(artifact->url))
        return false;

    // JSON numbers arrive as doubles; anything not a whole number of bytes in range is refused
    // before the conversion, which would be undefined for huge or non-finite values.
    const QJsonValue size = object.value(QLatin1String("size"));
    if (!size.isDouble())
        return false;
    const double bytes = size.toDouble();
    if (!std::isfinite(bytes) || bytes <= 0 || bytes > double(MaxArtifactBytes)
        || std::floor(bytes) != bytes)
        return false;
    artifact->size = qint64(bytes);

    artifact->sha256 = object.value(QLatin1String("sha256")).toString();
    if (artifact->sha256.size() != 64 || !isHex(artifact->sha256))
        return false;

    const QJsonValue mandatory = object.value(QLatin1String("mandatory"));
    if (!mandatory.isUndefined() && !mandatory.isBool())
        return false;
    artifact->mandatory = mandatory.toBool(false);

    const QJsonValue minimum = object.value(QLatin1String("min_upgradable_from"));
    if (!minimum.isUndefined()) {
        if (!minimum.isString())
            return false;
        artifact->minUpgradableFrom = minimum.toString();
        if (!artifact->minUpgradableFrom.isEmpty()
            && !Version::isCanonical(artifact->minUpgradableFrom))
            return false;
    }

    const QJsonValue notes = object.value(QLatin1String("release_notes_url"));
    if (!notes.isUndefined()) {
        if (!notes.isString())
            return false;
        if (!notes.toString().isEmpty()) {
            artifact->releaseNotesUrl = QUrl(notes.toString(), QUrl::StrictMode);
            if (!isWebUrl(artifact->releaseNotesUrl))
                return false;
        }
    }
    return true;
}

} // namespace

ManifestResult parseManifest(const QByteArray &json)
{
    ManifestResult result;
    if (json.size() > MaxManifestBytes) {
        result.error = QStringLiteral("manifest is larger than %1 bytes").arg(MaxManifestBytes);
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        result.error = QStringLiteral("JSON parse error: %1").arg(parseError.errorString());
        return result;
    }
    if (!document.isObject()) {
        result.error = QStringLiteral("manifest root is not a JSON object");
        return result;
    }
    const QJsonObject root = document.object();
    Manifest &manifest = result.manifest;

    const QJsonValue schema = root.value(QLatin1String("schema"));
    if (!schema.isDouble()) {
        result.error = QStringLiteral("missing or non-integer field: schema");
        return result;
    }
    if (schema.toDouble() != 1.0) {
        result.error = QStringLiteral("unsupported manifest schema: %1 (expected %2)")
                           .arg(schema.toDouble())
                           .arg(1);
        return result;
    }
    manifest.schema = 1;

    for (const char *field : { "app", "channel" }) {
        if (!root.value(QLatin1String(field)).isString()) {
            result.error
                = QStringLiteral("missing or non-string field: %1").arg(QLatin1String(field));
            return result;
        }
    }
    manifest.app = root.value(QLatin1String("app")).toString();
    manifest.channel = root.value(QLatin1String("channel")).toString();

    const QJsonValue artifacts = root.value(QLatin1String("artifacts"));
    if (!artifacts.isObject()) {
        result.error = QStringLiteral("missing or non-object field: artifacts");
        return result;
    }
    const QJsonObject artifactObjects = artifacts.toObject();
    for (auto it = artifactObjects.begin(); it != artifactObjects.end(); ++it) {
        if (!it.value().isObject()) {
            result.error = QStringLiteral("artifact %1 is not an object").arg(it.key());
            return result;
        }
        Artifact artifact;
        QString error;
        if (!readArtifact(it.value().toObject(), &artifact, &error)) {
            result.error = error.isEmpty()
                ? QStringLiteral("artifact %1 failed validation").arg(it.key())
                : error;
            return result;
        }
        manifest.artifacts.insert(it.key(), artifact);
    }

    if (manifest.app.isEmpty() || manifest.channel.isEmpty() || manifest.artifacts.isEmpty()) {
        result.error = QStringLiteral("manifest failed validation");
        return result;
    }
    result.valid = true;
    return result;
}

QString platformKeyFor(const QString &os, const QString &cpu)
{
    if (cpu != QLatin1String("x86_64"))
        return {};
    if (os == QLatin1String("winnt"))
        return QStringLiteral("windows-x64");
    if (os == QLatin1String("linux"))
        return QStringLiteral("linux-x64");
    return {};
}

QString currentPlatformKey()
{
    return platformKeyFor(QSysInfo::kernelType(), QSysInfo::currentCpuArchitecture());
}

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}

} // namespace BrevUpdate
