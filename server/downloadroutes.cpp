#include "downloadroutes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

HttpReply DownloadRoutes::handle(const HttpRequest &request, const QStringList &rest) const
{
    if (request.method != "GET" && request.method != "HEAD")
        return HttpReply::error(405, QStringLiteral("Method not allowed"));
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]{0,127}$"));
    if (rest.isEmpty() || rest.size() > 8)
        return HttpReply::error(404, QStringLiteral("Not found"));
    for (const QString &part : rest) {
        if (!safe.match(part).hasMatch() || part.contains(QLatin1String("..")))
            return HttpReply::error(404, QStringLiteral("Not found"));
    }
    const QString root = QFileInfo(m_root).canonicalFilePath();
    const QString path
        = QFileInfo(QDir(m_root).filePath(rest.join(QLatin1Char('/')))).canonicalFilePath();
    // Symbolic links may not lead out of the folder either.
    if (root.isEmpty() || path.isEmpty() || !path.startsWith(root + QLatin1Char('/'))
        || !QFileInfo(path).isFile())
        return HttpReply::error(404, QStringLiteral("Not found"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return HttpReply::error(404, QStringLiteral("Not found"));
    HttpReply reply;
    if (path.endsWith(QLatin1String(".json")))
        reply.contentType = "application/json";
    else if (path.endsWith(QLatin1String(".md")))
        reply.contentType = "text/markdown; charset=utf-8";
    else
        reply.contentType = "application/octet-stream";
    reply.body = file.readAll();
    reply.addHeader("Cache-Control", "no-cache");
    return reply;
}
