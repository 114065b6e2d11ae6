#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QUrl>

namespace BrevUpdate {

// One downloadable build for one platform, as the release manifest lists it.
struct Artifact
{
    QString version;
    QDateTime releasedAt;
    QUrl url;
    qint64 size = 0;
    QString sha256;
    bool mandatory = false;
    QString minUpgradableFrom; // empty when any version may upgrade directly
    QUrl releaseNotesUrl; // empty when the release has no notes
};

struct Manifest
{
    int schema = 0;
    QString app;
    QString channel;
    QMap<QString, Artifact> artifacts; // by platform key
};

struct ManifestResult
{
    bool valid = false;
    QString error; // the first rule broken, when not valid
    Manifest manifest;
};

// Larger manifests are refused unread: the real one is a few hundred bytes.
inline constexpr qint64 MaxManifestBytes = 1024 * 1024;
// No installer is anywhere near this; a larger "size" is a broken or hostile manifest.
inline constexpr qint64 MaxArtifactBytes = qint64(16) * 1024 * 1024 * 1024;

// Strict validation: a manifest is used only when every artifact in it is well formed.
ManifestResult parseManifest(const QByteArray &json);

// The manifest key of builds for the given system: "windows-x64" and "linux-x64" for those
// systems on x86-64, otherwise empty (no build is offered). `os` is QSysInfo::kernelType()'s
// form ("winnt", "linux"), `cpu` QSysInfo::currentCpuArchitecture()'s ("x86_64").
QString platformKeyFor(const QString &os, const QString &cpu);
// The key of the running system.
QString currentPlatformKey();

// Where links from a release page may lead: web pages only, never local files or programs.
bool isWebUrl(const QUrl &url);

} // namespace BrevUpdate

Q_DECLARE_METATYPE(BrevUpdate::Artifact)
