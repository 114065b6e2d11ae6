#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Archives for importer tests, written with libarchive exactly as listed: names unchecked,
// as any tool (or a hostile one) could write them.
struct TestArchiveMember
{
    QString name;
    QByteArray bytes;
};

enum class TestArchiveKind { Zip, Tar };

QByteArray makeTestArchive(TestArchiveKind kind, const QList<TestArchiveMember> &members);
// Writes `bytes` to `path`; false when it can't.
bool writeTestFile(const QString &path, const QByteArray &bytes);
// Where the exports of other programs kept for the tests are.
QString testSamplePath(const QString &name);
// Inputs that fuzzing found to trouble a reader, kept as test rows (fuzzfindings/).
QString testFindingPath(const QString &name);
