#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One part of a multipart/form-data body.
struct FormPart
{
    QString name;
    QString fileName;
    QByteArray contentType;
    QByteArray data;
};

// Splits a multipart/form-data body; nullopt when the content type or framing is malformed.
std::optional<QList<FormPart>> parseMultipartForm(
    const QByteArray &contentType, const QByteArray &body);
