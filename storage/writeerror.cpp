#include "writeerror.h"

#include <QSqlError>

namespace {

// SQLite's primary result codes; extended codes carry the primary one in their low byte.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteReadOnly = 8;
constexpr int SqliteFull = 13;

} // namespace

WriteError WriteError::fromSql(const QSqlError &error)
{
    WriteError result;
    result.kind = Kind::Other;
    result.text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric) & 0xff;
    if (!numeric)
        return result;
    switch (code) {
    case SqliteFull:
        result.kind = Kind::DiskFull;
        break;
    case SqliteReadOnly:
        result.kind = Kind::ReadOnly;
        break;
    case SqliteBusy:
    case SqliteLocked:
        result.kind = Kind::Locked;
        break;
    default:
        break;
    }
    return result;
}
