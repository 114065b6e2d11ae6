#pragma once

#include <QString>

// What restore and the importers report: the counts shown to the user and an optional message.
struct ImportResult
{
    int imported = 0;
    int skipped = 0;
    int errors = 0;
    int attachmentCount = 0;
    QString errorMessage;
};
