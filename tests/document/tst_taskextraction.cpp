#include "deltaformat.h"
#include "taskextraction.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

Q_DECLARE_METATYPE(Task::Source)

namespace {

const QDateTime Updated = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC);

QJsonObject text(const QString &insert, const QJsonObject &attributes = {})
{
    QJsonObject op { { QStringLiteral("insert"), insert } };
    if (!attributes.isEmpty())
        op.insert(QStringLiteral("attributes"), attributes);
    return op;
}

QJsonObject listLine(const QString &kind)
{
    return text(QStringLiteral("\n"), QJsonObject { { QStringLiteral("list"), kind } });
}

QString doc(const QJsonArray &ops)
{
    return Delta::toText(ops);
}

QString digest8(const QString &value)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(value.toUtf8(), QCryptographicHash::Md5).toHex().left(8));
}

} // namespace

class TestTaskExtraction : public QObject
{
    Q_OBJECT

private slots:
    void extractsOneTaskPerLine_data();
    void extractsOneTaskPerLine();
    void positionsCountEmbedsAndLineFeeds();
    void malformedBodiesHaveNoTasks_data();
    void malformedBodiesHaveNoTasks();
    void idFollowsTextNotTick();

    void setCheckboxLineChangesOnlyThatLine_data();
    void setCheckboxLineChangesOnlyThatLine();
    void setCheckboxLineRefuses_data();
    void setCheckboxLineRefuses();
};

void TestTaskExtraction::extractsOneTaskPerLine_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("taskText");
    QTest::addColumn<bool>("completed");
    QTest::addColumn<Task::Source>("source");

    QTest::addRow("unchecked checkbox item")
        << doc({ text(QStringLiteral("  Buy milk ")), listLine(QStringLiteral("unchecked")) }) << 1
        << "Buy milk" << false << Task::Source::CheckboxList;
    QTest::addRow("checked checkbox item")
        << doc({ text(QStringLiteral("Pay rent")), listLine(QStringLiteral("checked")) }) << 1
        << "Pay rent" << true << Task::Source::CheckboxList;
    QTest::addRow("checkbox item of spaces only")
        << doc({ text(QStringLiteral("   ")), listLine(QStringLiteral("unchecked")) }) << 0 << ""
        << false << Task::Source::CheckboxList;
    QTest::addRow("bullet item is no task")
        << doc({ text(QStringLiteral("Milk")), listLine(QStringLiteral("bullet")) }) << 0 << ""
        << false << Task::Source::CheckboxList;
    QTest::addRow("upper-case X box") << doc({ text(QStringLiteral("- [X] Ship it\n")) }) << 1
                                      << "Ship it" << true << Task::Source::MarkdownCheckbox;
    QTest::addRow("empty box") << doc({ text(QStringLiteral("-[ ]  call Bob  \n")) }) << 1
                               << "call Bob" << false << Task::Source::MarkdownCheckbox;
    QTest::addRow("box without space inside")
        << doc({ text(QStringLiteral("- [] water plants\n")) }) << 1 << "water plants" << false
        << Task::Source::MarkdownCheckbox;
    QTest::addRow("box on a bullet item")
        << doc({ text(QStringLiteral("- [ ] word")), listLine(QStringLiteral("bullet")) }) << 1
        << "word" << false << Task::Source::MarkdownCheckbox;
    QTest::addRow("box without text") << doc({ text(QStringLiteral("- [ ]\n")) }) << 0 << ""
                                      << false << Task::Source::CheckboxList;
    QTest::addRow("box with other letter") << doc({ text(QStringLiteral("- [y] maybe\n")) }) << 0
                                           << "" << false << Task::Source::CheckboxList;
    QTest::addRow("lower-case todo") << doc({ text(QStringLiteral("todo: file taxes\n")) }) << 1
                                     << "file taxes" << false << Task::Source::TodoLine;
    QTest::addRow("todo after spaces") << doc({ text(QStringLiteral("   TODO:fix\n")) }) << 1
                                       << "fix" << false << Task::Source::TodoLine;
    QTest::addRow("todo alone") << doc({ text(QStringLiteral("TODO:   \n")) }) << 0 << "" << false
                                << Task::Source::CheckboxList;
    QTest::addRow("todo inside a line") << doc({ text(QStringLiteral("Remember TODO: nothing\n")) })
                                        << 0 << "" << false << Task::Source::CheckboxList;
    QTest::addRow("final line without line feed")
        << doc({ text(QStringLiteral("TODO: never examined")) }) << 0 << "" << false
        << Task::Source::CheckboxList;
    QTest::addRow("checkbox attribute wins over text")
        << doc({ text(QStringLiteral("- [x] done")), listLine(QStringLiteral("unchecked")) }) << 1
        << "- [x] done" << false << Task::Source::CheckboxList;
}

void TestTaskExtraction::extractsOneTaskPerLine()
{
    QFETCH(QString, body);
    QFETCH(int, count);

    const QList<Task> tasks = extractTasks(QStringLiteral("n1"), body, Updated);
    QCOMPARE(tasks.size(), count);
    if (count == 0)
        return;
    QFETCH(QString, taskText);
    QFETCH(bool, completed);
    QFETCH(Task::Source, source);
    const Task &task = tasks.first();
    QCOMPARE(task.text, taskText);
    QCOMPARE(task.completed, completed);
    QCOMPARE(task.source, source);
    QCOMPARE(task.noteId, QStringLiteral("n1"));
    QCOMPARE(task.noteUpdatedAt, Updated);
    QVERIFY(task.extractedAt.isValid());
    QCOMPARE(task.id, QStringLiteral("n1_0_") + digest8(taskText));
}

void TestTaskExtraction::positionsCountEmbedsAndLineFeeds()
{
    // Line 0 "Title", line 1 a divider, line 2 an unchecked item made of two runs, line 3
    // a Markdown box, line 4 a TODO.
    const QJsonObject divider { { QStringLiteral("insert"),
        QJsonObject { { QStringLiteral("divider"), QStringLiteral("hr") } } } };
    const QJsonArray ops {
        text(QStringLiteral("Title\n")),
        divider,
        text(QStringLiteral("\n")),
        text(QStringLiteral("Bu"), QJsonObject { { QStringLiteral("bold"), true } }),
        text(QStringLiteral("y eggs")),
        listLine(QStringLiteral("unchecked")),
        QJsonObject { { QStringLiteral("retain"), 4 } },
        text(QStringLiteral("- [x] a\nTODO: b\n")),
    };
    const QList<Task> tasks = extractTasks(QStringLiteral("n"), doc(ops), Updated);
    QCOMPARE(tasks.size(), 3);

    QCOMPARE(tasks.at(0).text, QStringLiteral("Buy eggs"));
    QCOMPARE(tasks.at(0).lineIndex, 2);
    // "Title\n" (6) + divider (1) + "\n" (1) = 8 characters before the line's text.
    QCOMPARE(tasks.at(0).charOffset, 8);

    QCOMPARE(tasks.at(1).text, QStringLiteral("a"));
    QCOMPARE(tasks.at(1).lineIndex, 3);
    QCOMPARE(tasks.at(1).charOffset, 8 + 8 + 1);
    QCOMPARE(tasks.at(1).source, Task::Source::MarkdownCheckbox);
    QVERIFY(tasks.at(1).completed);

    QCOMPARE(tasks.at(2).text, QStringLiteral("b"));
    QCOMPARE(tasks.at(2).lineIndex, 4);
    QCOMPARE(tasks.at(2).charOffset, 17 + 8);
    QCOMPARE(tasks.at(2).id, QStringLiteral("n_4_") + digest8(QStringLiteral("b")));
}

void TestTaskExtraction::malformedBodiesHaveNoTasks_data()
{
    QTest::addColumn<QString>("body");
    QTest::addRow("empty") << QString();
    QTest::addRow("plain text") << QStringLiteral("TODO: not a delta\n");
    QTest::addRow("object at top level") << QStringLiteral("{\"insert\":\"TODO: x\\n\"}");
    QTest::addRow("truncated json") << QStringLiteral("[{\"insert\":\"TODO: x\\n\"");
    QTest::addRow("non-object elements") << QStringLiteral("[1,\"TODO: x\\n\",null,[]]");
    QTest::addRow("list attribute not a string") << QStringLiteral(
        "[{\"insert\":\"x\"},{\"attributes\":{\"list\":true},\"insert\":\"\\n\"}]");
}

void TestTaskExtraction::malformedBodiesHaveNoTasks()
{
    QFETCH(QString, body);
    QVERIFY(extractTasks(QStringLiteral("n"), body, Updated).isEmpty());
}

void TestTaskExtraction::idFollowsTextNotTick()
{
    const QString open
        = doc({ text(QStringLiteral("Intro\nCall mum")), listLine(QStringLiteral("unchecked")) });
    const QString ticked = setCheckboxLine(open, 1, true);
    const QString edited
        = doc({ text(QStringLiteral("Intro\nCall dad")), listLine(QStringLiteral("unchecked")) });

    const QString openId = extractTasks(QStringLiteral("n"), open, Updated).value(0).id;
    const Task tickedTask = extractTasks(QStringLiteral("n"), ticked, Updated).value(0);
    QVERIFY(tickedTask.completed);
    QCOMPARE(tickedTask.id, openId);
    QVERIFY(extractTasks(QStringLiteral("n"), edited, Updated).value(0).id != openId);
}

void TestTaskExtraction::setCheckboxLineChangesOnlyThatLine_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("line");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("expected");

    const QString raw = QStringLiteral(
        "[{\"insert\":\"Shopping\\n\"},"
        "{\"insert\":\"Milk\"},{\"insert\":\"\\n\",\"attributes\":{\"list\":\"unchecked\","
        "\"indent\":1}},"
        "{\"insert\":\"Bread\"},{\"insert\":\"\\n\",\"attributes\":{\"list\":\"checked\"}}]");
    QTest::addRow("tick keeps other attributes")
        << raw << 1 << true
        << QStringLiteral("[{\"insert\":\"Shopping\\n\"},{\"insert\":\"Milk\"},"
                          "{\"attributes\":{\"indent\":1,\"list\":\"checked\"},\"insert\":\"\\n\"},"
                          "{\"insert\":\"Bread\"},"
                          "{\"attributes\":{\"list\":\"checked\"},\"insert\":\"\\n\"}]");
    QTest::addRow("untick")
        << raw << 2 << false
        << QStringLiteral(
               "[{\"insert\":\"Shopping\\n\"},{\"insert\":\"Milk\"},"
               "{\"attributes\":{\"indent\":1,\"list\":\"unchecked\"},\"insert\":\"\\n\"},"
               "{\"insert\":\"Bread\"},"
               "{\"attributes\":{\"list\":\"unchecked\"},\"insert\":\"\\n\"}]");
    QTest::addRow("embeds and non-objects do not count")
        << QStringLiteral("[7,{\"insert\":{\"divider\":\"hr\"}},{\"insert\":\"\\n\"},"
                          "{\"insert\":\"a\"},{\"attributes\":{\"list\":\"unchecked\"},\"insert\":"
                          "\"\\n\"}]")
        << 1 << true
        << QStringLiteral("[7,{\"insert\":{\"divider\":\"hr\"}},{\"insert\":\"\\n\"},"
                          "{\"insert\":\"a\"},{\"attributes\":{\"list\":\"checked\"},\"insert\":"
                          "\"\\n\"}]");
}

void TestTaskExtraction::setCheckboxLineChangesOnlyThatLine()
{
    QFETCH(QString, body);
    QFETCH(int, line);
    QFETCH(bool, checked);
    QFETCH(QString, expected);
    QCOMPARE(setCheckboxLine(body, line, checked), expected);
}

void TestTaskExtraction::setCheckboxLineRefuses_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("line");

    const QString item
        = doc({ text(QStringLiteral("Milk")), listLine(QStringLiteral("unchecked")) });
    QTest::addRow("not json") << QStringLiteral("Milk\n") << 0;
    QTest::addRow("not an array") << QStringLiteral("{\"insert\":\"\\n\"}") << 0;
    QTest::addRow("line beyond the end") << item << 1;
    QTest::addRow("negative line") << item << -1;
    QTest::addRow("line feed inside text") << QStringLiteral(
        "[{\"attributes\":{\"list\":\"unchecked\"},\"insert\":\"Milk\\nEggs\\n\"}]")
                                           << 0;
    QTest::addRow("bullet line") << doc(
        { text(QStringLiteral("x")), listLine(QStringLiteral("bullet")) })
                                 << 0;
    QTest::addRow("plain line") << doc({ text(QStringLiteral("x")), text(QStringLiteral("\n")) })
                                << 0;
}

void TestTaskExtraction::setCheckboxLineRefuses()
{
    QFETCH(QString, body);
    QFETCH(int, line);
    QVERIFY(setCheckboxLine(body, line, true).isEmpty());
}

QTEST_GUILESS_MAIN(TestTaskExtraction)
#include "tst_taskextraction.moc"
