#pragma once

#include <QLoggingCategory>

namespace BrevUpdate {
// Every log line of the update library is under "brevupdate.client".
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
} // namespace BrevUpdate
