#include "multipartform.h"

namespace {

QByteArray parameter(const QByteArray &headerValue, const QByteArray &name)
{
    const QList<QByteArray> items = headerValue.split(';');
    for (const QByteArray &raw : items) {
        const QByteArray item = raw.trimmed();
        const int eq = item.indexOf('=');
        if (eq <= 0 || item.left(eq).trimmed().toLower() != name)
            continue;
        QByteArray value = item.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

} // namespace

std::optional<QList<FormPart>> parseMultipartForm(
    const QByteArray &contentType, const QByteArray &body)
{
    if (!contentType.trimmed().toLower().startsWith("multipart/form-data"))
        return std::nullopt;
    const QByteArray boundary = parameter(contentType, "boundary");
    if (boundary.isEmpty() || boundary.size() > 200)
        return std::nullopt;
    const QByteArray delimiter = "--" + boundary;
    qsizetype pos = body.indexOf(delimiter);
    if (pos < 0)
        return std::nullopt;
    QList<FormPart> parts;
    while (true) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--")
            return parts;
        if (body.mid(pos, 2) != "\r\n")
            return std::nullopt;
        pos += 2;
        const qsizetype headEnd = body.indexOf("\r\n\r\n", pos);
        if (headEnd < 0)
            return std::nullopt;
        const qsizetype next = body.indexOf("\r\n" + delimiter, headEnd + 4);
        if (next < 0)
            return std::nullopt;
        FormPart part;
        const QList<QByteArray> headerLines = body.mid(pos, headEnd - pos).split('\n');
        for (const QByteArray &rawLine : headerLines) {
            const QByteArray line = rawLine.trimmed();
            const int colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-disposition") {
                part.name = QString::fromUtf8(parameter(value, "name"));
                part.fileName = QString::fromUtf8(parameter(value, "filename"));
            } else if (name == "content-type") {
                part.contentType = value;
            }
        }
        part.data = body.mid(headEnd + 4, next - (headEnd + 4));
        parts.append(part);
        pos = next + 2;
    }
}
