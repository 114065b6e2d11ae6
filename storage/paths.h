#pragma once

#include <QString>

// Where the user's data lives. Each call creates the directory it names when missing; a failure
// to create it shows up later, when the database cannot be opened.
QString dataDirectory();
QString attachmentsDirectory();
// The installation's identifier, read from "client_id" in the data directory or made anew.
QString clientId();
QString databasePath();

// The same for a given data directory (the forms above use dataDirectory()).
QString attachmentsDirectory(const QString &dataDir);
QString clientId(const QString &dataDir);
QString databasePath(const QString &dataDir);
