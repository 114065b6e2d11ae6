#pragma once

#include "httpexchange.h"

// Serves the update manifests ("latest.json") and release notes ("release-notes.md") from a
// folder, below "/downloads/". Only plain names inside that folder are ever opened.
class DownloadRoutes final
{
public:
    explicit DownloadRoutes(QString root) : m_root(std::move(root)) { }

    HttpReply handle(const HttpRequest &request, const QStringList &rest) const;

private:
    QString m_root;
};
