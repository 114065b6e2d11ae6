#pragma once

#include <QString>

class QSqlError;

// Why a write to the database did not happen, sorted into the causes a user can act on.
struct WriteError
{
    enum class Kind { None, DiskFull, ReadOnly, Locked, Other };

    Kind kind = Kind::None;
    // The database's own message, for the log and a tool tip.
    QString text;

    bool failed() const { return kind != Kind::None; }
    // Any error handed in is a failure: an error without a code is Other.
    static WriteError fromSql(const QSqlError &error);
};
