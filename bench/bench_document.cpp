#include "benchcpu.h"
#include "benchmedian.h"
#include "deltadocument.h"
#include "deltaformat.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

QJsonObject run(const QString &text, const QJsonObject &attributes = QJsonObject())
{
    QJsonObject op { { QStringLiteral("insert"), text } };
    if (!attributes.isEmpty())
        op.insert(QStringLiteral("attributes"), attributes);
    return op;
}

QJsonObject line(const QJsonObject &attributes = QJsonObject())
{
    return run(QStringLiteral("\n"), attributes);
}

// A note body of about `bytes` bytes: headings, styled paragraphs, every list kind, code, quotes,
// dividers, attachments and a 6 by 4 table every so often.
QString generatedBody(int bytes)
{
    QRandomGenerator random(7);
    static const QStringList words { QStringLiteral("note"), QStringLiteral("meeting"),
        QStringLiteral("project"), QStringLiteral("deadline"), QStringLiteral("r\u00e9sum\u00e9"),
        QStringLiteral("budget"), QStringLiteral("review"), QStringLiteral("draft") };
    const auto sentence = [&](int count) {
        QStringList picked;
        for (int i = 0; i < count; ++i)
            picked.append(words.at(random.bounded(int(words.size()))));
        return picked.join(QLatin1Char(' '));
    };
    static const QStringList lists { QStringLiteral("bullet"), QStringLiteral("ordered"),
        QStringLiteral("checked"), QStringLiteral("unchecked") };
    QJsonArray ops;
    qsizetype size = 0;
    int section = 0;
    while (size < bytes) {
        QJsonArray part;
        part.append(run(sentence(4)));
        part.append(line(QJsonObject { { QStringLiteral("header"), 1 + section % 3 } }));
        for (int p = 0; p < 4; ++p) {
            part.append(run(sentence(12) + QLatin1Char(' ')));
            part.append(run(sentence(2), QJsonObject { { QStringLiteral("bold"), true } }));
            part.append(run(QLatin1Char(' ') + sentence(6) + QLatin1Char(' ')));
            part.append(run(sentence(1), QJsonObject { { QStringLiteral("code"), true } }));
            part.append(run(QLatin1Char(' ') + sentence(3),
                QJsonObject { { QStringLiteral("italic"), true } }));
            part.append(run(QStringLiteral(" link"),
                QJsonObject {
                    { QStringLiteral("link"), QStringLiteral("https://example.com/a") } }));
            part.append(
                line(p == 3 ? QJsonObject { { QStringLiteral("align"), QStringLiteral("center") } }
                            : QJsonObject()));
        }
        for (int i = 0; i < 6; ++i) {
            part.append(run(sentence(5)));
            part.append(line(QJsonObject { { QStringLiteral("list"), lists.at(section % 4) } }));
        }
        for (int i = 0; i < 3; ++i) {
            part.append(run(QStringLiteral("if (x) { return %1; }").arg(i)));
            part.append(line(QJsonObject { { QStringLiteral("code-block"), true } }));
        }
        part.append(run(sentence(8)));
        part.append(line(QJsonObject { { QStringLiteral("blockquote"), true } }));
        if (section % 3 == 0) {
            QJsonArray rows;
            for (int r = 0; r < 6; ++r) {
                QJsonArray row;
                for (int c = 0; c < 4; ++c)
                    row.append(QJsonArray { run(sentence(2),
                        r == 2 ? QJsonObject { { QStringLiteral("bold"), true } }
                               : QJsonObject()) });
                rows.append(row);
            }
            part.append(QJsonObject { { QStringLiteral("insert"),
                QJsonObject { { QStringLiteral("table"),
                    Delta::toText(QJsonObject { { QStringLiteral("cells"), rows },
                        { QStringLiteral("hasHeader"), true } }) } } } });
            part.append(line());
        }
        part.append(QJsonObject { { QStringLiteral("insert"),
            QJsonObject { { QStringLiteral("divider"), QStringLiteral("hr") } } } });
        part.append(QJsonObject { { QStringLiteral("insert"),
            QJsonObject { { QStringLiteral("brevaro-notes-attachment"),
                QStringLiteral("brevaro-notes://attachment/%1").arg(section) } } } });
        part.append(line());
        for (const QJsonValue &op : part)
            ops.append(op);
        size += Delta::toUtf8(part).size();
        ++section;
    }
    return Delta::toText(ops);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int runs = 9;
    const QString body = generatedBody(1024 * 1024);
    // "--dump FILE" writes the generated body, for profiling the pieces on their own.
    const QStringList arguments = application.arguments();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--dump"));
        at >= 0 && at + 1 < arguments.size()) {
        QFile file(arguments.at(at + 1));
        if (file.open(QIODevice::WriteOnly))
            file.write(body.toUtf8());
    }

    DeltaDocument document;
    QList<double> loads;
    QList<double> writes;
    QList<double> loadsCpu;
    QList<double> writesCpu;
    QString written;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        double cpu = threadCpuMs();
        document.setContent(body);
        loads.append(timer.nsecsElapsed() / 1e6);
        loadsCpu.append(threadCpuMs() - cpu);
        timer.restart();
        cpu = threadCpuMs();
        written = document.toJson();
        writes.append(timer.nsecsElapsed() / 1e6);
        writesCpu.append(threadCpuMs() - cpu);
    }
    std::printf("note body: %lld bytes, %d paragraphs, %d runs\n",
        static_cast<long long>(body.toUtf8().size()), document.document()->blockCount(), runs);
    std::printf("setContent median: %.1f ms wall, %.1f ms cpu\n", median(loads), median(loadsCpu));
    std::printf(
        "toJson     median: %.1f ms wall, %.1f ms cpu\n", median(writes), median(writesCpu));
    std::printf("written: %lld bytes\n", static_cast<long long>(written.toUtf8().size()));
    return 0;
}
