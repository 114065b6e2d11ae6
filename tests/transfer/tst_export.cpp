// Expected file contents read best as plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "appstate.h"
#include "attachmentrepository.h"
#include "deltadocument.h"
#include "deltaformat.h"
#include "noteexport.h"
#include "noterepository.h"
#include "printdocument.h"
#include "testaccount.h"
#include "testdatadir.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

namespace {

// One line of every kind the editor writes: headings, inline formats, lists of each type, a
// quotation, a code block, a divider, a table and an image attachment.
const char *EveryConstruct
    = R"~([)~"
      R"~({"insert":"Trip plan"},{"insert":"\n","attributes":{"header":1}},)~"
      R"~({"insert":"Plain "},{"insert":"bold","attributes":{"bold":true}},{"insert":" and "},)~"
      R"~({"insert":"italic","attributes":{"italic":true}},{"insert":" and "},)~"
      R"~({"insert":"code","attributes":{"code":true}},{"insert":" and "},)~"
      R"~({"insert":"a link","attributes":{"link":"https://example.com/a?b=1&c=2"}},{"insert":"\n"},)~"
      R"~({"insert":"Packing"},{"insert":"\n","attributes":{"header":2}},)~"
      R"~({"insert":"Socks"},{"insert":"\n","attributes":{"list":"bullet"}},)~"
      R"~({"insert":"Shoes"},{"insert":"\n","attributes":{"list":"bullet"}},)~"
      R"~({"insert":"Book train"},{"insert":"\n","attributes":{"list":"ordered"}},)~"
      R"~({"insert":"Pack bag"},{"insert":"\n","attributes":{"list":"checked"}},)~"
      R"~({"insert":"Water plants"},{"insert":"\n","attributes":{"list":"unchecked"}},)~"
      R"~({"insert":"Travel light."},{"insert":"\n","attributes":{"blockquote":true}},)~"
      R"~({"insert":"let x = 1 < 2;"},{"insert":"\n","attributes":{"code-block":true}},)~"
      R"~({"insert":{"divider":true}},{"insert":"\n"},)~"
      // moc misreads a backslash-quote inside a raw string, so this line is escaped normally.
      "{\"insert\":{\"table\":\"{\\\"cells\\\":[[\\\"Item\\\",\\\"Cost\\\"],"
      "[\\\"Ticket\\\",\\\"40\\\"]],\\\"hasHeader\\\":true}\"}},"
      R"~({"insert":"\n"},)~"
      R"~({"insert":"The end"},{"insert":"\n"})~"
      R"~(])~";

QString everyConstructBody()
{
    return QString::fromUtf8(EveryConstruct);
}

Note noteWithBody(const QString &body)
{
    Note note;
    note.id = QStringLiteral("0f1e2d3c-4b5a-4978-8877-665544332211");
    note.body = body;
    return note;
}

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

int pdfPageCount(const QByteArray &pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    int count = 0;
    auto it = page.globalMatch(QString::fromLatin1(pdf));
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

} // namespace

class TestExport final : public QObject
{
    Q_OBJECT

private slots:
    void sanitizeFileName_data();
    void sanitizeFileName();
    void sanitizedNamesStayInsideTheDirectory_data();
    void sanitizedNamesStayInsideTheDirectory();
    void suggestedFileName_data();
    void suggestedFileName();
    void renderNoteFormats_data();
    void renderNoteFormats();
    void exportsMarkdown();
    void exportsHtml();
    void exportsPlainText();
    void exportsPdfWithPages();
    void exportsLongNoteOverSeveralPages();
    void pdfShowsImageAttachments();
    void nonDeltaBodyIsWrittenUnchanged_data();
    void nonDeltaBodyIsWrittenUnchanged();
    void missingDirectoryFails();
    void failedExportKeepsExistingFile();
    void exportReplacesLongerFileCompletely();
    void printCopyUsesPointSizes();
    void printCopyLightensDarkColours();
    void printCopyTurnsDividersIntoRules();
};

void TestExport::sanitizeFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::addRow("plain title") << "Shopping list"
                                 << "Shopping list";
    QTest::addRow("forbidden characters") << "a/b:c?"
                                          << "abc";
    QTest::addRow("every forbidden character") << "<>:\"/\\|?*"
                                               << "note";
    QTest::addRow("parent directory") << ".."
                                      << "note";
    QTest::addRow("path climbing") << "../../etc/passwd"
                                   << "etcpasswd";
    QTest::addRow("windows path climbing") << "..\\..\\Windows\\win.ini"
                                           << "Windowswin.ini";
    QTest::addRow("dots only") << "....."
                               << "note";
    QTest::addRow("hidden file") << ".bashrc"
                                 << "bashrc";
    QTest::addRow("trailing dots and spaces") << "Report. . .  "
                                              << "Report";
    QTest::addRow("empty") << ""
                           << "note";
    QTest::addRow("spaces only") << "   \t "
                                 << "note";
    QTest::addRow("control characters") << QString::fromUtf8("a\x01\x1f\x7f"
                                                             "b\tc\nd")
                                        << "abcd";
    QTest::addRow("bidirectional override")
        << QString::fromUtf8("invoice\xe2\x80\xaetxt.exe") << "invoicetxt.exe";
    QTest::addRow("reserved name") << "CON"
                                   << "_CON";
    QTest::addRow("reserved name lower case") << "nul"
                                              << "_nul";
    QTest::addRow("reserved name with extension") << "com1.txt"
                                                  << "_com1.txt";
    QTest::addRow("reserved printer name") << "LPT9"
                                           << "_LPT9";
    QTest::addRow("not reserved") << "CONSOLE"
                                  << "CONSOLE";
    QTest::addRow("sixty characters") << QString(60, u'x') << QString(50, u'x');
    QTest::addRow("cut then trimmed")
        << QString(49, u'x') + QStringLiteral("  yy") << QString(49, u'x');
    QTest::addRow("lone surrogate") << QString(QChar(0xD800)) + QStringLiteral("ok") << "ok";
    QTest::addRow("emoji kept whole")
        << QString(49, u'x') + QString::fromUtf8("\xf0\x9f\x98\x80") << QString(49, u'x');
    QTest::addRow("accented letters") << QString::fromUtf8("Caf\xc3\xa9 r\xc3\xa9sum\xc3\xa9")
                                      << QString::fromUtf8("Caf\xc3\xa9 r\xc3\xa9sum\xc3\xa9");
}

void TestExport::sanitizeFileName()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(::sanitizeFileName(name), expected);
}

void TestExport::sanitizedNamesStayInsideTheDirectory_data()
{
    QTest::addColumn<QString>("title");
    QTest::addRow("slashes") << "../../../outside";
    QTest::addRow("backslashes") << "..\\..\\outside";
    QTest::addRow("absolute path") << "/tmp/outside";
    QTest::addRow("drive letter") << "C:\\outside";
    QTest::addRow("dot dot") << "..";
    QTest::addRow("very long multibyte") << QString(400, QChar(0x4E2D));
    QTest::addRow("very long emoji") << QString::fromUtf8("\xf0\x9f\x98\x80").repeated(200);
    QTest::addRow("device name") << "AUX";
    QTest::addRow("newline in the title") << "first\r";
}

void TestExport::sanitizedNamesStayInsideTheDirectory()
{
    QFETCH(QString, title);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString body = Delta::toText(
        QJsonArray { QJsonObject { { "insert", title } }, QJsonObject { { "insert", "\n" } } });
    const Note note = noteWithBody(body);
    const QString path = suggestedExportPath(dir.path(), note, ExportFormat::Markdown);

    const QFileInfo info(path);
    QCOMPARE(info.absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
    const QString fileName = info.fileName();
    QVERIFY(fileName.endsWith(QLatin1String(".md")));
    QVERIFY2(fileName.toUtf8().size() <= 255, qPrintable(fileName));
    QCOMPARE(QString::fromUtf8(fileName.toUtf8()), fileName); // valid UTF-8 round trip

    const ExportResult result = exportNote(note, path, ExportFormat::Markdown);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { fileName });
}

void TestExport::suggestedFileName_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("expected");

    QTest::addRow("title with slash colon question")
        << R"([{"insert":"a/b:c?\nrest\n"}])" << 0 << "abc.md";
    QTest::addRow("empty first line") << R"([{"insert":"\nsecond\n"}])" << 0 << "note-0f1e2d3c.md";
    QTest::addRow("empty body") << "" << 1 << "note-0f1e2d3c.html";
    QTest::addRow("sixty characters")
        << QStringLiteral("[{\"insert\":\"%1\\n\"}]").arg(QString(60, u'y')) << 2
        << QString(50, u'y') + QStringLiteral(".pdf");
    QTest::addRow("only removed characters") << R"([{"insert":"???\n"}])" << 3 << "note.txt";
    QTest::addRow("plain text body") << "Not JSON\nat all" << 3 << "Not JSON.txt";
}

void TestExport::suggestedFileName()
{
    QFETCH(QString, body);
    QFETCH(int, format);
    QFETCH(QString, expected);
    QCOMPARE(::suggestedFileName(noteWithBody(body), exportFormatFromInt(format)), expected);
}

void TestExport::renderNoteFormats_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("expected");

    QTest::addRow("empty body markdown") << "" << 0 << "";
    QTest::addRow("empty body html") << "" << 1 << "";
    QTest::addRow("not json") << "<b>hi</b>" << 1 << "<b>hi</b>";
    QTest::addRow("json object") << R"({"insert":"x"})" << 0 << R"({"insert":"x"})";
    QTest::addRow("markdown") << R"([{"insert":"Hi"},{"insert":"\n","attributes":{"header":1}}])"
                              << 0 << "# Hi\n";
    QTest::addRow("pdf renders html")
        << R"([{"insert":"Hi\n"}])" << 2 << "<html><body>\n<p>Hi</p>\n</body></html>";
    QTest::addRow("plain text") << R"([{"insert":"Hi\n"}])" << 3 << "Hi\n";
    QTest::addRow("unknown format is plain text") << R"([{"insert":"Hi\n"}])" << 42 << "Hi\n";
}

void TestExport::renderNoteFormats()
{
    QFETCH(QString, body);
    QFETCH(int, format);
    QFETCH(QString, expected);
    QCOMPARE(renderNote(body, exportFormatFromInt(format)), expected);
}

void TestExport::exportsMarkdown()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trip.md"));
    const ExportResult result
        = exportNote(noteWithBody(everyConstructBody()), path, ExportFormat::Markdown);
    QVERIFY(result.ok);
    QCOMPARE(result.path, path);
    QVERIFY(result.error.isEmpty());
    QCOMPARE(readText(path),
        QStringLiteral("# Trip plan\n\n"
                       "Plain **bold** and *italic* and `code` and "
                       "[a link](https://example.com/a?b=1&c=2)\n\n"
                       "## Packing\n\n"
                       "- Socks\n- Shoes\n1. Book train\n- [x] Pack bag\n- [ ] Water plants\n\n"
                       "> Travel light.\n\n"
                       "    let x = 1 < 2;\n\n"
                       "---\n\n"
                       "| Item | Cost |\n| --- | --- |\n| Ticket | 40 |\n\n"
                       "The end\n"));
}

void TestExport::exportsHtml()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trip.html"));
    QVERIFY(exportNote(noteWithBody(everyConstructBody()), path, ExportFormat::Html).ok);
    const QString html = readText(path);
    QVERIFY(html.startsWith(QLatin1String("<html><body>\n<h1>Trip plan</h1>\n")));
    QVERIFY(html.endsWith(QLatin1String("</body></html>")));
    for (const char *part : { "<strong>bold</strong>", "<em>italic</em>", "<code>code</code>",
             "<a href=\"https://example.com/a?b=1&amp;c=2\">a link</a>", "<h2>Packing</h2>",
             "<p>Socks</p>", "<blockquote>Travel light.</blockquote>",
             "<pre><code>let x = 1 &lt; 2;</code></pre>", "<hr>", "<th>Item</th><th>Cost</th>",
             "<td>Ticket</td><td>40</td>", "<p>The end</p>" })
        QVERIFY2(html.contains(QLatin1String(part)), part);
}

void TestExport::exportsPlainText()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trip.txt"));
    QVERIFY(exportNote(noteWithBody(everyConstructBody()), path, ExportFormat::PlainText).ok);
    QCOMPARE(readText(path),
        QStringLiteral("Trip plan\nPlain bold and italic and code and a link\nPacking\nSocks\n"
                       "Shoes\nBook train\nPack bag\nWater plants\nTravel light.\n"
                       "let x = 1 < 2;\n\n\nThe end\n"));
}

void TestExport::exportsPdfWithPages()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trip.pdf"));
    const ExportResult result
        = exportNote(noteWithBody(everyConstructBody()), path, ExportFormat::Pdf);
    QVERIFY2(result.ok, qPrintable(result.error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray pdf = file.readAll();
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    QCOMPARE(pdfPageCount(pdf), 1);
}

void TestExport::exportsLongNoteOverSeveralPages()
{
    QJsonArray ops;
    for (int i = 0; i < 300; ++i)
        ops.append(QJsonObject { { "insert", QStringLiteral("Line %1 of a long note\n").arg(i) } });
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.pdf"));
    QVERIFY(exportNote(
        noteWithBody(QString::fromUtf8(QJsonDocument(ops).toJson())), path, ExportFormat::Pdf)
                .ok);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(pdfPageCount(file.readAll()) >= 5);
}

void TestExport::pdfShowsImageAttachments()
{
    TestDataDir dataDir;
    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(state.initialize());
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(image.save(&buffer, "PNG"));

    const Note note = noteWithBody(QString());
    Note stored = note;
    stored.body = QStringLiteral("[{\"insert\":\"\\n\"}]");
    stored.createdAt = stored.updatedAt = stored.modifiedAt = QDateTime::currentDateTimeUtc();
    QVERIFY(state.notes()->insert(stored));
    const QString id = QStringLiteral("11111111-2222-4333-8444-555555555555");
    Attachment attachment;
    attachment.id = id;
    attachment.noteId = QStringLiteral("0f1e2d3c-4b5a-4978-8877-665544332211");
    attachment.filename = QStringLiteral("red.png");
    attachment.mimeType = QStringLiteral("image/png");
    attachment.sizeBytes = png.size();
    attachment.createdAt = QDateTime::currentDateTimeUtc();
    QVERIFY(state.attachments()->insert(attachment));
    QVERIFY(state.attachments()->saveFile(id, png));

    const QString body = QStringLiteral(
        "[{\"insert\":\"Photo\\n\"},{\"insert\":{\"image\":\"brevaro-notes://attachment/%1\"}},"
        "{\"insert\":\"\\n\"}]")
                             .arg(id);
    const QString withImage = dataDir.filePath(QStringLiteral("with.pdf"));
    const QString without = dataDir.filePath(QStringLiteral("without.pdf"));
    QVERIFY(exportNote(noteWithBody(body), withImage, ExportFormat::Pdf, state.attachments()).ok);
    QVERIFY(exportNote(noteWithBody(body), without, ExportFormat::Pdf).ok);
    QFile a(withImage);
    QFile b(without);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray pdfWith = a.readAll();
    QVERIFY(pdfWith.contains("/Subtype /Image"));
    QVERIFY(!b.readAll().contains("/Subtype /Image"));
}

void TestExport::nonDeltaBodyIsWrittenUnchanged_data()
{
    QTest::addColumn<int>("format");
    QTest::addRow("markdown") << 0;
    QTest::addRow("html") << 1;
    QTest::addRow("plain text") << 3;
}

void TestExport::nonDeltaBodyIsWrittenUnchanged()
{
    QFETCH(int, format);
    QTemporaryDir dir;
    const QString body = QString::fromUtf8("Just text, <not> JSON \xc3\xa9\nsecond line");
    const QString path = dir.filePath(QStringLiteral("plain"));
    QVERIFY(exportNote(noteWithBody(body), path, exportFormatFromInt(format)).ok);
    QCOMPARE(readText(path), body);
}

void TestExport::missingDirectoryFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/deeper/note.md"));
    for (const ExportFormat format : { ExportFormat::Markdown, ExportFormat::Html,
             ExportFormat::Pdf, ExportFormat::PlainText }) {
        const ExportResult result = exportNote(noteWithBody(everyConstructBody()), path, format);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.startsWith(QLatin1String("Failed to write file: ")),
            qPrintable(result.error));
        QVERIFY(result.error.size() > QStringLiteral("Failed to write file: ").size());
    }
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));
}

void TestExport::failedExportKeepsExistingFile()
{
    QTemporaryDir dir;
    const QString sub = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkpath(sub));
    const QString path = sub + QStringLiteral("/note.md");
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier export");
    }
    // A directory that takes no new files: the replacement cannot even start.
    QVERIFY(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner));
    if (QFileInfo(sub).isWritable())
        QSKIP("running with privileges that ignore directory permissions");
    const ExportResult result
        = exportNote(noteWithBody(everyConstructBody()), path, ExportFormat::Markdown);
    QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!result.ok);
    QCOMPARE(readText(path), QStringLiteral("earlier export"));
}

void TestExport::exportReplacesLongerFileCompletely()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("note.txt"));
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write(QByteArray(10000, 'z'));
    }
    QVERIFY(
        exportNote(noteWithBody(R"([{"insert":"short\n"}])"), path, ExportFormat::PlainText).ok);
    QCOMPARE(readText(path), QStringLiteral("short\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "note.txt" });
}

void TestExport::printCopyUsesPointSizes()
{
    QTextDocument source;
    QFont font;
    font.setPixelSize(16);
    source.setDefaultFont(font);
    QTextCursor cursor(&source);
    QTextCharFormat big;
    big.setProperty(QTextFormat::FontPixelSize, 32);
    cursor.insertText(QStringLiteral("Heading"), big);
    QTextCharFormat plain;
    plain.setFontPointSize(11);
    cursor.insertText(QStringLiteral(" body"), plain);

    const std::unique_ptr<QTextDocument> copy = preparePrintDocument(source);
    QCOMPARE(copy->documentMargin(), 36.0);
    QCOMPARE(copy->defaultFont().pointSizeF(), 12.0);
    QCOMPARE(copy->toPlainText(), QStringLiteral("Heading body"));
    const QTextBlock block = copy->begin();
    QList<qreal> sizes;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextCharFormat format = it.fragment().charFormat();
        QVERIFY(!format.hasProperty(QTextFormat::FontPixelSize));
        sizes.append(format.fontPointSize());
    }
    QCOMPARE(sizes, (QList<qreal> { 24.0, 11.0 }));
    // The editor's own document is left as it was.
    QCOMPARE(
        source.begin().begin().fragment().charFormat().intProperty(QTextFormat::FontPixelSize), 32);
}

void TestExport::printCopyLightensDarkColours()
{
    QTextDocument source;
    QTextCursor cursor(&source);
    QTextCharFormat lightText;
    lightText.setForeground(QColor(QStringLiteral("#C4C6CF")));
    cursor.insertText(QStringLiteral("secondary"), lightText);
    QTextBlockFormat darkFill;
    darkFill.setBackground(QColor(QStringLiteral("#2A2D31")));
    cursor.insertBlock(darkFill);
    QTextCharFormat link;
    link.setForeground(QColor(QStringLiteral("#1565C0")));
    cursor.insertText(QStringLiteral("link"), link);

    const std::unique_ptr<QTextDocument> copy = preparePrintDocument(source);
    const QTextBlock first = copy->begin();
    QVERIFY(first.begin().fragment().charFormat().foreground().color().lightness() < 100);
    const QTextBlock second = first.next();
    QVERIFY(second.blockFormat().background().color().lightness() > 180);
    QCOMPARE(second.begin().fragment().charFormat().foreground().color(),
        QColor(QStringLiteral("#1565C0")));
}

void TestExport::printCopyTurnsDividersIntoRules()
{
    DeltaDocument source;
    source.setContent(QStringLiteral(
        R"([{"insert":"above\n"},{"insert":{"divider":true}},{"insert":"\nbelow\n"}])"));
    const std::unique_ptr<QTextDocument> copy = preparePrintDocument(*source.document());
    QVERIFY(!copy->toPlainText().contains(QChar::ObjectReplacementCharacter));
    int rules = 0;
    for (QTextBlock block = copy->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth))
            ++rules;
    }
    QCOMPARE(rules, 1);
    QVERIFY(copy->toPlainText().contains(QLatin1String("above")));
    QVERIFY(copy->toPlainText().contains(QLatin1String("below")));
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"
