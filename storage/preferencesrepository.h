#pragma once

#include <QObject>
#include <QString>

#include <optional>

class Database;

// Text key/value settings. Booleans are stored as "1"/"0", integers as decimal text.
class PreferencesRepository final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PreferencesRepository)

public:
    explicit PreferencesRepository(Database *database, QObject *parent = nullptr);

    // Absent when the key is missing or the read fails; a stored NULL reads as "".
    std::optional<QString> value(const QString &key) const;
    QString stringValue(const QString &key, const QString &defaultValue = QString()) const;
    // True only for "1", "true" or "yes", compared exactly.
    bool boolValue(const QString &key, bool defaultValue = false) const;
    // The default when the key is missing or its text is not a whole base-10 integer.
    int intValue(const QString &key, int defaultValue = 0) const;

    // Writes and emits changed(key) unless the stored value is already `value`. Returns false
    // only when the write fails.
    bool setValue(const QString &key, const QString &value);
    bool setBool(const QString &key, bool on);
    bool setInt(const QString &key, int n);
    // Emits changed(key) whenever the statement succeeds, also for a missing key.
    bool remove(const QString &key);

signals:
    void changed(const QString &key);

private:
    Database *m_database; // not owned
};
