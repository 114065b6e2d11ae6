#include "testdatadir.h"

TestDataDir::TestDataDir()
    : m_previous(qgetenv("NOTES_DATA_DIR")), m_hadPrevious(qEnvironmentVariableIsSet("NOTES_DATA_DIR"))
{
    qputenv("NOTES_DATA_DIR", m_dir.path().toUtf8());
}

TestDataDir::~TestDataDir()
{
    if (m_hadPrevious)
        qputenv("NOTES_DATA_DIR", m_previous);
    else
        qunsetenv("NOTES_DATA_DIR");
}
