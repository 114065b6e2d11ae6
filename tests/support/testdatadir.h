#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points NOTES_DATA_DIR at a fresh temporary directory for the lifetime of the object, so a
// test never touches the user's notes. The previous value is restored afterwards.
class TestDataDir final
{
public:
    TestDataDir();
    ~TestDataDir();
    TestDataDir(const TestDataDir &) = delete;
    TestDataDir &operator=(const TestDataDir &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};
