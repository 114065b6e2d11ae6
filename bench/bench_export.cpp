// Times exporting one note to each format and leaves the files for looking at:
//   bench_export [OUTPUT_DIRECTORY] [--dark]
// With --dark the application palette is dark, as in the dark theme, to check that the PDF
// still prints dark text on white paper.
#include "benchmedian.h"
#include "deltaformat.h"
#include "noteexport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QPalette>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

QJsonObject run(const QString &text, const QJsonObject &attributes = QJsonObject())
{
    QJsonObject op { { QStringLiteral("insert"), text } };
    if (!attributes.isEmpty())
        op.insert(QStringLiteral("attributes"), attributes);
    return op;
}

QJsonObject line(const char *key, const QJsonValue &value)
{
    return run(QStringLiteral("\n"), QJsonObject { { QLatin1String(key), value } });
}

QString sampleBody(int repeats)
{
    QJsonArray ops;
    ops << run(QStringLiteral("Trip to the coast")) << line("header", 1);
    for (int i = 0; i < repeats; ++i) {
        ops << run(QStringLiteral("Plain text with "))
            << run(QStringLiteral("bold"), QJsonObject { { QStringLiteral("bold"), true } })
            << run(QStringLiteral(", "))
            << run(QStringLiteral("italic"), QJsonObject { { QStringLiteral("italic"), true } })
            << run(QStringLiteral(", "))
            << run(QStringLiteral("inline code"), QJsonObject { { QStringLiteral("code"), true } })
            << run(QStringLiteral(" and "))
            << run(QStringLiteral("a link"),
                   QJsonObject {
                       { QStringLiteral("link"), QStringLiteral("https://example.com") } })
            << run(QStringLiteral(".\n"));
        ops << run(QStringLiteral("Packing")) << line("header", 2);
        ops << run(QStringLiteral("Socks")) << line("list", QStringLiteral("bullet"));
        ops << run(QStringLiteral("Rain jacket")) << line("list", QStringLiteral("bullet"));
        ops << run(QStringLiteral("Book the train")) << line("list", QStringLiteral("ordered"));
        ops << run(QStringLiteral("Print tickets")) << line("list", QStringLiteral("ordered"));
        ops << run(QStringLiteral("Pack the bag")) << line("list", QStringLiteral("checked"));
        ops << run(QStringLiteral("Water the plants")) << line("list", QStringLiteral("unchecked"));
        ops << run(QStringLiteral("Budget")) << line("header", 3);
        ops << run(QStringLiteral("Travel light, travel far.")) << line("blockquote", true);
        ops << run(QStringLiteral("const total = tickets + food;")) << line("code-block", true);
        ops << run(QStringLiteral("if (total > 200) warn();")) << line("code-block", true);
        ops << QJsonObject {
            { QStringLiteral("insert"), QJsonObject { { QStringLiteral("divider"), true } } }
        } << run(QStringLiteral("\n"));
        ops << QJsonObject { { QStringLiteral("insert"),
            QJsonObject { { QStringLiteral("table"),
                QStringLiteral(
                    "{\"cells\":[[\"Item\",\"Cost\",\"Paid\"],[\"Train\",\"40\",\"yes\"],"
                    "[\"Hotel\",\"120\",\"no\"]],\"hasHeader\":true}") } } } }
            << run(QStringLiteral("\n"));
        ops << run(QStringLiteral("Heading six")) << line("header", 6);
        ops << run(QStringLiteral("The end of part %1.\n").arg(i + 1));
    }
    return Delta::toText(ops);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.removeAll(QStringLiteral("--dark")) > 0) {
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(QStringLiteral("#1E1E1E")));
        dark.setColor(QPalette::Base, QColor(QStringLiteral("#1E1E1E")));
        dark.setColor(QPalette::AlternateBase, QColor(QStringLiteral("#2A2A2A")));
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::WindowText, Qt::white);
        QApplication::setPalette(dark);
    }
    QTemporaryDir temporary;
    const QString directory = args.isEmpty() ? temporary.path() : args.first();
    QDir().mkpath(directory);

    Note note;
    note.id = QStringLiteral("0f1e2d3c-4b5a-4978-8877-665544332211");
    note.body = sampleBody(1);
    for (const ExportFormat format : { ExportFormat::Markdown, ExportFormat::Html,
             ExportFormat::Pdf, ExportFormat::PlainText }) {
        const ExportResult result
            = exportNote(note, suggestedExportPath(directory, note, format), format);
        std::printf("%s %s\n", result.ok ? "wrote" : "failed",
            qPrintable(result.ok ? result.path : result.error));
    }

    Note longNote = note;
    longNote.body = sampleBody(40);
    for (const ExportFormat format : { ExportFormat::Markdown, ExportFormat::Html,
             ExportFormat::Pdf, ExportFormat::PlainText }) {
        QList<double> times;
        const QString path
            = QDir(directory).filePath(QStringLiteral("long") + exportFileExtension(format));
        for (int i = 0; i < 7; ++i) {
            QElapsedTimer timer;
            timer.start();
            exportNote(longNote, path, format);
            times.append(timer.nsecsElapsed() / 1e6);
        }
        std::printf("export %-5s of a %lld-character note: median %.1f ms\n",
            qPrintable(exportFileExtension(format)), qlonglong(longNote.body.size()),
            median(times));
    }
    return 0;
}
