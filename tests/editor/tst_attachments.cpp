// Expected texts and patterns read best as plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "attachmentrenderer.h"
#include "attachmentrepository.h"
#include "deltadocument.h"
#include "deltaformat.h"
#include "editortoolbar.h"
#include "imagelightbox.h"
#include "modalanswers.h"
#include "noteeditor.h"
#include "noterepository.h"
#include "paths.h"
#include "testdatabase.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <memory>

namespace {

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString bodyWithAttachment(const QString &value)
{
    QJsonArray ops;
    ops.append(QJsonObject { { QStringLiteral("insert"), QStringLiteral("before\n") } });
    ops.append(QJsonObject {
        { QStringLiteral("insert"), QJsonObject { { QString(Delta::AttachmentKind), value } } } });
    ops.append(QJsonObject { { QStringLiteral("insert"), QStringLiteral("\nafter\n") } });
    return Delta::toText(ops);
}

QByteArray pngBytes(int width, int height, QColor colour = Qt::red)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The ids of the attachment embeds of a stored body, in order.
QStringList embeddedIds(const QString &body)
{
    QStringList ids;
    for (const Delta::Operation &op : Delta::parseOperations(body)) {
        if (op.isEmbed() && op.embedKind == Delta::AttachmentKind)
            ids << Delta::attachmentIdFromReference(op.embedValue);
    }
    return ids;
}

// Receives what the program hands to the desktop, instead of starting another program.
class UrlCatcher final : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace

class TestAttachments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void attachImageAndFileThroughEditor();
    void dropOfFilesAttachesEachLocalFile();
    void unusableSourcesAreNotAttached_data();
    void unusableSourcesAreNotAttached();
    void removeFromContextMenu();
    void removeKeepsContentAnotherObjectStillShows();
    void imagesAreDrawnAtMostMaximumWidth_data();
    void imagesAreDrawnAtMostMaximumWidth();
    void imagesFitNarrowPanes();
    void chipSizeFollowsName_data();
    void chipSizeFollowsName();
    void missingRowOrFileDegrades_data();
    void missingRowOrFileDegrades();
    void refreshPicksUpAttachmentsThatArrivedLater();
    void hostileIdsAreRefused_data();
    void hostileIdsAreRefused();
    void temporaryCopyUsesSafeFileName_data();
    void temporaryCopyUsesSafeFileName();
    void saveAsAndCopyFile();
    void toolTipText_data();
    void toolTipText();
    void doubleClickOpensImageViewer();
    void readOnlyEditorOffersNoRemoval();
    void failedRowDeleteKeepsFile();
    void toolbarButtonInsertsThroughEditor();

private:
    QString writeSource(const QString &name, const QByteArray &bytes);
    int objectPosition(int index = 0) const;
    QPoint pointOfObject(int index = 0) const;
    QMenu *openContextMenuAt(const QPoint &point);
    Attachment addRow(const QString &filename, const QString &mimeType, qint64 size);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<NoteRepository> m_notes;
    std::unique_ptr<AttachmentRepository> m_attachments;
    std::unique_ptr<NoteEditor> m_editor;
    std::unique_ptr<QTemporaryDir> m_sources;
    QTemporaryDir m_privateTemp;
    UrlCatcher m_catcher;
    Note m_note;
};

void TestAttachments::initTestCase()
{
    // The tests count the files in the temporary folder: one of our own, so that other
    // programs writing to /tmp meanwhile cannot change the count.
    QVERIFY(m_privateTemp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_privateTemp.path()));
}

void TestAttachments::init()
{
    m_db = std::make_unique<TestDatabase>();
    QVERIFY(m_db->isValid());
    m_notes = std::make_unique<NoteRepository>(m_db->database());
    m_attachments
        = std::make_unique<AttachmentRepository>(m_db->database(), attachmentsDirectory());
    m_note = TestDatabase::makeNote();
    QVERIFY(m_notes->insert(m_note));
    m_sources = std::make_unique<QTemporaryDir>();
    m_editor = std::make_unique<NoteEditor>();
    m_editor->resize(800, 700);
    m_editor->setAttachmentRepository(m_attachments.get());
    m_editor->setNote(m_note.id, m_note.body);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    m_catcher.urls.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_catcher, "open");
}

void TestAttachments::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<ImageLightbox *>(widget) || qobject_cast<QMenu *>(widget))
            delete widget;
    }
    m_editor.reset();
    m_attachments.reset();
    m_notes.reset();
    m_db.reset();
}

QString TestAttachments::writeSource(const QString &name, const QByteArray &bytes)
{
    const QString path = m_sources->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(bytes);
    return path;
}

int TestAttachments::objectPosition(int index) const
{
    const QString text = m_editor->document()->toPlainText();
    int found = -1;
    for (int i = 0; i <= index; ++i) {
        found = int(text.indexOf(QChar::ObjectReplacementCharacter, found + 1));
        if (found < 0)
            return -1;
    }
    return found;
}

QPoint TestAttachments::pointOfObject(int index) const
{
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(objectPosition(index));
    return m_editor->cursorRect(cursor).center() + QPoint(6, 0);
}

QMenu *TestAttachments::openContextMenuAt(const QPoint &point)
{
    QContextMenuEvent event(
        QContextMenuEvent::Mouse, point, m_editor->viewport()->mapToGlobal(point));
    QApplication::sendEvent(m_editor->viewport(), &event);
    return m_editor->findChild<QMenu *>();
}

Attachment TestAttachments::addRow(const QString &filename, const QString &mimeType, qint64 size)
{
    Attachment attachment;
    attachment.id = newId();
    attachment.noteId = m_note.id;
    attachment.filename = filename;
    attachment.mimeType = mimeType;
    attachment.sizeBytes = size;
    attachment.createdAt = QDateTime::currentDateTimeUtc();
    if (!m_attachments->insert(attachment))
        return Attachment();
    return attachment;
}

void TestAttachments::attachImageAndFileThroughEditor()
{
    const QByteArray png = pngBytes(40, 30);
    const QByteArray pdf("%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer\n%%EOF\n");
    const QString imagePath = writeSource(QStringLiteral("photo.png"), png);
    const QString pdfPath = writeSource(QStringLiteral("report.pdf"), pdf);
    QSignalSpy changed(m_attachments.get(), &AttachmentRepository::attachmentsChanged);
    QSignalSpy modified(m_editor.get(), &NoteEditor::noteModified);

    QVERIFY(m_editor->insertAttachmentFromPath(imagePath));
    QVERIFY(m_editor->insertAttachmentFromPath(pdfPath));
    QCOMPARE(changed.count(), 2);
    QVERIFY(!m_editor->isSaved());
    QTRY_COMPARE(modified.count(), 1);

    const QList<Attachment> rows = m_attachments->attachmentsForNote(m_note.id);
    QCOMPARE(rows.size(), 2);
    const Attachment image
        = rows.at(0).filename == QLatin1String("photo.png") ? rows.at(0) : rows.at(1);
    const Attachment file
        = rows.at(0).filename == QLatin1String("photo.png") ? rows.at(1) : rows.at(0);
    QCOMPARE(image.filename, QStringLiteral("photo.png"));
    QCOMPARE(image.mimeType, QStringLiteral("image/png"));
    QCOMPARE(image.sizeBytes, qint64(png.size()));
    QCOMPARE(image.syncStatus, SyncStatus::Pending);
    QCOMPARE(file.filename, QStringLiteral("report.pdf"));
    QCOMPARE(file.mimeType, QStringLiteral("application/pdf"));
    QCOMPARE(m_attachments->readFile(image.id), png);
    QCOMPARE(m_attachments->readFile(file.id), pdf);

    const QString content = m_editor->content();
    QCOMPARE(embeddedIds(content), (QStringList { image.id, file.id }));
    QVERIFY(content.contains(QStringLiteral("{\"insert\":{\"brevaro-notes-attachment\":"
                                            "\"brevaro-notes://attachment/%1\"}}")
                                 .arg(image.id)));

    // Stored and loaded again, the objects come back and draw from the store.
    m_editor->setNote(m_note.id, content, true);
    QCOMPARE(m_editor->content(), content);
    const AttachmentInfo info = m_editor->attachmentRenderer()->info(
        QStringLiteral("brevaro-notes://attachment/") + image.id);
    QVERIFY(info.isImage);
    QCOMPARE(info.image.size(), QSize(40, 30));
    QCOMPARE(m_editor->attachmentIdAt(pointOfObject(0)), image.id);
    QCOMPARE(m_editor->attachmentIdAt(pointOfObject(1)), file.id);
}

void TestAttachments::dropOfFilesAttachesEachLocalFile()
{
    const QString first = writeSource(QStringLiteral("a.txt"), "alpha");
    const QString second = writeSource(QStringLiteral("b.txt"), "beta");
    auto *data = new QMimeData;
    data->setUrls({ QUrl::fromLocalFile(first), QUrl(QStringLiteral("https://example.com/x")),
        QUrl::fromLocalFile(second) });
    const QPoint point = m_editor->viewport()->rect().center();

    QDragEnterEvent enter(point, Qt::CopyAction, data, Qt::LeftButton, {});
    QApplication::sendEvent(m_editor->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(point), Qt::CopyAction, data, Qt::LeftButton, {});
    QApplication::sendEvent(m_editor->viewport(), &drop);
    QVERIFY(drop.isAccepted());
    delete data;

    QCOMPARE(m_attachments->attachmentsForNote(m_note.id).size(), 2);
    QCOMPARE(embeddedIds(m_editor->content()).size(), 2);
}

void TestAttachments::unusableSourcesAreNotAttached_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("create");
    QTest::addColumn<QString>("warning");
    QTest::addRow("empty file") << QStringLiteral("empty.bin") << true << QString();
    QTest::addRow("missing file") << QStringLiteral("gone.bin") << false
                                  << QStringLiteral("insertAttachmentFromPath: can't open");
    QTest::addRow("directory") << QStringLiteral(".") << false
                               << QStringLiteral("insertAttachmentFromPath: can't open");
}

void TestAttachments::unusableSourcesAreNotAttached()
{
    QFETCH(QString, name);
    QFETCH(bool, create);
    QFETCH(QString, warning);
    const QString path = create ? writeSource(name, QByteArray()) : m_sources->filePath(name);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QLatin1Char('^') + warning));
    const QString before = m_editor->content();
    QVERIFY(!m_editor->insertAttachmentFromPath(path));
    QCOMPARE(m_editor->content(), before);
    QVERIFY(m_attachments->attachmentsForNote(m_note.id).isEmpty());
    QCOMPARE(QDir(attachmentsDirectory()).entryList(QDir::Files), QStringList());
}

void TestAttachments::removeFromContextMenu()
{
    QVERIFY(m_editor->insertAttachmentFromPath(writeSource(QStringLiteral("keep.txt"), "keep")));
    QVERIFY(m_editor->insertAttachmentFromPath(writeSource(QStringLiteral("drop.txt"), "drop")));
    const QStringList ids = embeddedIds(m_editor->content());
    QCOMPARE(ids.size(), 2);

    QMenu *menu = openContextMenuAt(pointOfObject(1));
    QVERIFY(menu);
    QStringList texts;
    QAction *remove = nullptr;
    for (QAction *action : menu->actions()) {
        texts << (action->isSeparator() ? QString() : action->text());
        if (action->text() == QLatin1String("Remove Attachment"))
            remove = action;
    }
    QCOMPARE(texts,
        (QStringList { QStringLiteral("Open"), QStringLiteral("Save As…"),
            QStringLiteral("Copy File"), QString(), QStringLiteral("Remove Attachment") }));
    QVERIFY(remove);
    QSignalSpy modified(m_editor.get(), &NoteEditor::noteModified);
    remove->trigger();
    delete menu;

    QCOMPARE(embeddedIds(m_editor->content()), QStringList { ids.at(0) });
    QVERIFY(!m_attachments->attachmentById(ids.at(1)));
    QVERIFY(!QFile::exists(m_attachments->filePath(ids.at(1))));
    QCOMPARE(m_attachments->readFile(ids.at(0)), QByteArray("keep"));
    QTRY_COMPARE(modified.count(), 1);

    // The store loses the attachment even when its object is already gone from the text.
    const Attachment orphan = addRow(QStringLiteral("orphan.txt"), QStringLiteral("text/plain"), 3);
    QVERIFY(m_attachments->saveFile(orphan.id, "abc"));
    const QString before = m_editor->content();
    m_editor->removeAttachment(orphan.id);
    QCOMPARE(m_editor->content(), before);
    QVERIFY(!m_attachments->attachmentById(orphan.id));
    QVERIFY(!QFile::exists(m_attachments->filePath(orphan.id)));
}

void TestAttachments::removeKeepsContentAnotherObjectStillShows()
{
    const Attachment shared = addRow(QStringLiteral("shared.txt"), QStringLiteral("text/plain"), 4);
    QVERIFY(m_attachments->saveFile(shared.id, "data"));
    const QString reference = QStringLiteral("brevaro-notes://attachment/") + shared.id;
    QJsonArray ops;
    for (int i = 0; i < 2; ++i) {
        ops.append(QJsonObject { { QStringLiteral("insert"),
            QJsonObject { { QString(Delta::AttachmentKind), reference } } } });
        ops.append(QJsonObject { { QStringLiteral("insert"), QStringLiteral("\n") } });
    }
    m_editor->setNote(m_note.id, Delta::toText(ops), true);

    QMenu *menu = openContextMenuAt(pointOfObject(0));
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    actions.last()->trigger();
    delete menu;
    QCOMPARE(embeddedIds(m_editor->content()), QStringList { shared.id });
    QCOMPARE(m_attachments->readFile(shared.id), QByteArray("data"));

    menu = openContextMenuAt(pointOfObject(0));
    QVERIFY(menu);
    menu->actions().last()->trigger();
    delete menu;
    QVERIFY(embeddedIds(m_editor->content()).isEmpty());
    QVERIFY(!m_attachments->attachmentById(shared.id));
}

void TestAttachments::imagesAreDrawnAtMostMaximumWidth_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("drawn");
    QTest::addRow("1200 wide") << QSize(1200, 600) << QSize(560, 280);
    QTest::addRow("300 wide") << QSize(300, 100) << QSize(300, 100);
    QTest::addRow("exactly 560") << QSize(560, 40) << QSize(560, 40);
    QTest::addRow("very wide and flat") << QSize(5000, 4) << QSize(560, 1);
}

void TestAttachments::imagesAreDrawnAtMostMaximumWidth()
{
    QFETCH(QSize, source);
    QFETCH(QSize, drawn);
    const QString path
        = writeSource(QStringLiteral("wide.png"), pngBytes(source.width(), source.height()));
    QVERIFY(m_editor->insertAttachmentFromPath(path));
    const int position = objectPosition();
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(position + 1);
    const QTextFormat format = cursor.charFormat();
    QCOMPARE(format.objectType(), int(DeltaDocument::AttachmentObjectType));

    AttachmentRenderer *renderer = m_editor->attachmentRenderer();
    QCOMPARE(renderer->intrinsicSize(m_editor->document(), position, format),
        QSizeF(drawn.width(), drawn.height() + 4));

    QImage canvas(1300, 700, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    renderer->drawObject(&painter, QRectF(10, 10, drawn.width(), drawn.height() + 4),
        m_editor->document(), position, format);
    painter.end();
    QCOMPARE(canvas.pixelColor(10 + drawn.width() - 1, 10), QColor(Qt::red));
    QCOMPARE(canvas.pixelColor(10 + drawn.width() + 1, 10), QColor(Qt::white));
    QCOMPARE(canvas.pixelColor(10, 10 + drawn.height() + 1), QColor(Qt::white));
}

void TestAttachments::imagesFitNarrowPanes()
{
    m_editor->resize(320, 400);
    QVERIFY(m_editor->insertAttachmentFromPath(
        writeSource(QStringLiteral("wide.png"), pngBytes(1200, 600))));
    const int position = objectPosition();
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(position + 1);
    const QSizeF size = m_editor->attachmentRenderer()->intrinsicSize(
        m_editor->document(), position, cursor.charFormat());
    QVERIFY(size.width() < m_editor->viewport()->width());
    QVERIFY(size.width() > 200);
    // Proportions kept: 2 to 1, plus the 4 pixels below the picture.
    QCOMPARE(qRound(size.width() / (size.height() - 4)), 2);
    QCOMPARE(m_editor->horizontalScrollBar()->maximum(), 0);
}

void TestAttachments::chipSizeFollowsName_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<bool>("withRow");
    QTest::addColumn<QString>("shown");
    QTest::addRow("short name") << QStringLiteral("a.txt") << true << QStringLiteral("a.txt");
    const QString longName = QStringLiteral("quarterly-report-with-an-unusually-long-name.pdf");
    QTest::addRow("long name") << longName << true << longName;
    QTest::addRow("unknown row") << QString() << false << QStringLiteral("Attachment");
    QTest::addRow("row without name") << QString() << true << QStringLiteral("Attachment");
}

void TestAttachments::chipSizeFollowsName()
{
    QFETCH(QString, filename);
    QFETCH(bool, withRow);
    QFETCH(QString, shown);
    const QString id
        = withRow ? addRow(filename, QStringLiteral("application/octet-stream"), 10).id : newId();
    QVERIFY(!id.isEmpty());
    m_editor->setNote(
        m_note.id, bodyWithAttachment(QStringLiteral("brevaro-notes://attachment/") + id), true);
    const int position = objectPosition();
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(position + 1);
    const QSizeF size = m_editor->attachmentRenderer()->intrinsicSize(
        m_editor->document(), position, cursor.charFormat());
    const qreal expected
        = qMax<qreal>(200, QFontMetricsF(QGuiApplication::font()).horizontalAdvance(shown) + 48);
    QCOMPARE(size, QSizeF(expected, 36));
}

void TestAttachments::missingRowOrFileDegrades_data()
{
    QTest::addColumn<bool>("row");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shownName");
    QTest::addRow("row deleted, file kept")
        << false << pngBytes(20, 20) << QStringLiteral("Attachment");
    QTest::addRow("file missing") << true << QByteArray() << QStringLiteral("pic.png");
    QTest::addRow("undecodable image")
        << true << QByteArray("not a picture at all") << QStringLiteral("pic.png");
}

void TestAttachments::missingRowOrFileDegrades()
{
    QFETCH(bool, row);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shownName);
    const QString id
        = row ? addRow(QStringLiteral("pic.png"), QStringLiteral("image/png"), 99).id : newId();
    if (!bytes.isEmpty())
        QVERIFY(m_attachments->saveFile(id, bytes));
    const QString body = bodyWithAttachment(QStringLiteral("brevaro-notes://attachment/") + id);
    m_editor->setNote(m_note.id, body, true);
    const QString loaded = m_editor->content();

    const AttachmentInfo info
        = m_editor->attachmentRenderer()->info(QStringLiteral("brevaro-notes://attachment/") + id);
    QVERIFY(info.image.isNull());
    QCOMPARE(AttachmentRenderer::displayName(info), shownName);
    QVERIFY(!m_editor->grab().isNull());

    // A double click falls back to selecting text; nothing opens.
    QTest::mouseDClick(m_editor->viewport(), Qt::LeftButton, {}, pointOfObject());
    QVERIFY(!m_editor->findChild<ImageLightbox *>());
    QVERIFY(m_catcher.urls.isEmpty() || row);
    QCOMPARE(m_editor->content(), loaded);

    // Without a row there is no attachment menu and no tool tip.
    QMenu *menu = openContextMenuAt(pointOfObject());
    QVERIFY(menu);
    const bool attachmentMenu = menu->actions().first()->text() == QLatin1String("Open");
    delete menu;
    QCOMPARE(attachmentMenu, row);
    QCOMPARE(m_editor->attachmentToolTip(id).isEmpty(), !row);
    if (bytes.isEmpty())
        QVERIFY(!m_editor->openAttachment(id, QStringLiteral("pic.png")));
}

void TestAttachments::refreshPicksUpAttachmentsThatArrivedLater()
{
    const QString id = newId();
    const QString value = QStringLiteral("brevaro-notes://attachment/") + id;
    m_editor->setNote(m_note.id, bodyWithAttachment(value), true);
    QVERIFY(m_editor->attachmentRenderer()->info(value).image.isNull());

    // What a sync brings: the file, then the row.
    QVERIFY(m_attachments->saveFile(id, pngBytes(64, 32)));
    Attachment attachment;
    attachment.id = id;
    attachment.noteId = m_note.id;
    attachment.filename = QStringLiteral("synced.png");
    attachment.mimeType = QStringLiteral("image/png");
    attachment.createdAt = QDateTime::currentDateTimeUtc();
    QVERIFY(m_attachments->insert(attachment));
    // Looked up once per load: the miss stays until the editor is told.
    QVERIFY(m_editor->attachmentRenderer()->info(value).image.isNull());
    m_editor->refreshAttachments();
    QCOMPARE(m_editor->attachmentRenderer()->info(value).image.size(), QSize(64, 32));
}

void TestAttachments::hostileIdsAreRefused_data()
{
    QTest::addColumn<QString>("id");
    QTest::addRow("empty") << QString();
    QTest::addRow("parent directory") << QStringLiteral("..");
    QTest::addRow("climbing path") << QStringLiteral("../../bait");
    QTest::addRow("backslashes") << QStringLiteral("..\\..\\bait");
    QTest::addRow("absolute path") << QStringLiteral("/tmp/bait");
    QTest::addRow("uuid with a path behind")
        << QStringLiteral("3f2b8c1e-7d4a-4c2b-9e1f-0a1b2c3d4e5f/../../bait");
    QTest::addRow("line break") << QStringLiteral("3f2b8c1e-7d4a-4c2b-9e1f-0a1b2c3d4e5f\n");
}

void TestAttachments::hostileIdsAreRefused()
{
    QFETCH(QString, id);
    // Files a hostile id would reach if it were used as a path.
    const QString bait = m_db->dataPath() + QStringLiteral("/bait");
    {
        QFile file(bait);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep");
    }
    const QString tempRoot = QDir::tempPath() + QStringLiteral("/brevaro-notes/");
    const QStringList tempBefore = QDir(QDir::tempPath()).entryList(QDir::Files);

    // Repository entry points.
    QVERIFY(m_attachments->filePath(id).isEmpty());
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^AttachmentRepository::saveFile invalid"));
    QVERIFY(!m_attachments->saveFile(id, "evil"));
    QVERIFY(m_attachments->readFile(id).isEmpty());
    Attachment attachment;
    attachment.id = id;
    attachment.noteId = m_note.id;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^AttachmentRepository::insert failed"));
    QVERIFY(!m_attachments->insert(attachment));
    QVERIFY(m_attachments->deleteById(id));
    QVERIFY(m_attachments->deleteForNote(m_note.id, { id }));

    // Editor entry points, with the id arriving in a note body.
    m_editor->setNote(
        m_note.id, bodyWithAttachment(QStringLiteral("brevaro-notes://attachment/") + id), true);
    if (objectPosition() >= 0) {
        QVERIFY(m_editor->attachmentRenderer()
                    ->info(QStringLiteral("brevaro-notes://attachment/") + id)
                    .image.isNull());
        QTest::mouseDClick(m_editor->viewport(), Qt::LeftButton, {}, pointOfObject());
        delete openContextMenuAt(pointOfObject());
        QVERIFY(!m_editor->grab().isNull());
    }
    QVERIFY(!m_editor->openAttachment(id, QStringLiteral("bait")));
    m_editor->copyAttachmentFile(id, QStringLiteral("bait"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^saveAttachmentAs: empty/missing"));
    QVERIFY(!m_editor->writeAttachmentTo(id, m_sources->filePath(QStringLiteral("out"))));
    m_editor->removeAttachment(id);

    QVERIFY(m_catcher.urls.isEmpty());
    QVERIFY(!QFile::exists(m_sources->filePath(QStringLiteral("out"))));
    QFile file(bait);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
    QCOMPARE(QDir(attachmentsDirectory()).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(QDir::tempPath()).entryList(QDir::Files), tempBefore);
    QVERIFY(!QFile::exists(tempRoot + id + QStringLiteral("/bait")));
}

void TestAttachments::temporaryCopyUsesSafeFileName_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("expected"); // "%1" stands for the id
    QTest::addRow("plain name") << QStringLiteral("report.pdf") << QStringLiteral("report.pdf");
    QTest::addRow("climbing path")
        << QStringLiteral("../../escape.txt") << QStringLiteral("escape.txt");
    QTest::addRow("windows path") << QStringLiteral("..\\..\\escape.txt")
                                  << QStringLiteral("escape.txt");
    QTest::addRow("empty name") << QString() << QStringLiteral("%1.bin");
    QTest::addRow("only dots") << QStringLiteral("..") << QStringLiteral("%1.bin");
    QTest::addRow("reserved characters")
        << QStringLiteral("a:b?*.txt") << QStringLiteral("a_b__.txt");
}

void TestAttachments::temporaryCopyUsesSafeFileName()
{
    QFETCH(QString, filename);
    QFETCH(QString, expected);
    const Attachment attachment = addRow(filename, QStringLiteral("application/pdf"), 5);
    if (expected.contains("%1"))
        expected = expected.arg(attachment.id);
    QVERIFY(m_attachments->saveFile(attachment.id, "first"));
    const QString directory = QDir::tempPath() + QStringLiteral("/brevaro-notes/") + attachment.id;
    const QString path = directory + QLatin1Char('/') + expected;

    QVERIFY(m_editor->openAttachment(attachment.id, filename));
    QCOMPARE(m_catcher.urls, QList<QUrl> { QUrl::fromLocalFile(path) });
    QCOMPARE(QDir(directory).entryList(QDir::Files), QStringList { expected });

    // Opening again rewrites the same temporary file with the current content.
    QVERIFY(m_attachments->saveFile(attachment.id, "second"));
    QVERIFY(m_editor->openAttachment(attachment.id, filename));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("second"));
    file.close();
    QDir(directory).removeRecursively();
}

void TestAttachments::saveAsAndCopyFile()
{
    const Attachment attachment
        = addRow(QStringLiteral("notes.txt"), QStringLiteral("text/plain"), 7);
    QVERIFY(m_attachments->saveFile(attachment.id, "content"));

    const QString target = writeSource(QStringLiteral("existing.txt"), "older content");
    QVERIFY(m_editor->writeAttachmentTo(attachment.id, target));
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("content"));

    m_editor->copyAttachmentFile(attachment.id, attachment.filename);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    const QString copied = QDir::tempPath() + QStringLiteral("/brevaro-notes/") + attachment.id
        + QStringLiteral("/notes.txt");
    QCOMPARE(data->urls(), QList<QUrl> { QUrl::fromLocalFile(copied) });
    QFile copy(copied);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("content"));
    QDir(QFileInfo(copied).path()).removeRecursively();
}

void TestAttachments::toolTipText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("size");
    QTest::addRow("1536 bytes") << qint64(1536) << QStringLiteral("1.5 KB");
    QTest::addRow("exactly 3 MiB") << qint64(3 * 1024 * 1024) << QStringLiteral("3.0 MB");
    QTest::addRow("just under 1 MiB") << qint64(1024 * 1024 - 1) << QStringLiteral("1024.0 KB");
    QTest::addRow("empty") << qint64(0) << QStringLiteral("0.0 KB");
}

void TestAttachments::toolTipText()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, size);
    QCOMPARE(NoteEditor::attachmentSizeText(bytes), size);
    const Attachment attachment = addRow(QStringLiteral("a.bin"), QString(), bytes);
    QCOMPARE(m_editor->attachmentToolTip(attachment.id),
        QStringLiteral("a.bin (%1)\n(Double-click to open, right-click for more)").arg(size));
}

void TestAttachments::doubleClickOpensImageViewer()
{
    QVERIFY(m_editor->insertAttachmentFromPath(
        writeSource(QStringLiteral("small.png"), pngBytes(100, 80))));
    QVERIFY(
        m_editor->insertAttachmentFromPath(writeSource(QStringLiteral("data.csv"), "a,b\n1,2\n")));

    QTest::mouseDClick(m_editor->viewport(), Qt::LeftButton, {}, pointOfObject(0));
    auto *lightbox = m_editor->findChild<ImageLightbox *>();
    QVERIFY(lightbox);
    QVERIFY(lightbox->isVisible());
    QVERIFY(lightbox->isModal());
    QVERIFY(lightbox->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(lightbox->windowTitle(), QStringLiteral("Image"));
    QCOMPARE(lightbox->size(), QSize(480, 360)); // small images get the minimum size

    QTest::keyClick(lightbox, Qt::Key_1);
    QCOMPARE(lightbox->zoom(), 1.0);
    QTest::keyClick(lightbox, Qt::Key_Plus);
    QCOMPARE(lightbox->zoom(), 1.25);
    QTest::keyClick(lightbox, Qt::Key_Minus);
    QCOMPARE(lightbox->zoom(), 1.0);
    QPointer<ImageLightbox> guard(lightbox);
    QTest::keyClick(lightbox, Qt::Key_Escape);
    QTRY_VERIFY(!guard);

    // Other files go to the desktop through a temporary copy.
    QTest::mouseDClick(m_editor->viewport(), Qt::LeftButton, {}, pointOfObject(1));
    QCOMPARE(m_catcher.urls.size(), 1);
    QVERIFY(m_catcher.urls.first().toLocalFile().endsWith(QStringLiteral("/data.csv")));
    QDir(QFileInfo(m_catcher.urls.first().toLocalFile()).path()).removeRecursively();
}

void TestAttachments::readOnlyEditorOffersNoRemoval()
{
    QVERIFY(m_editor->insertAttachmentFromPath(writeSource(QStringLiteral("x.txt"), "x")));
    const QString content = m_editor->content();
    const QString id = embeddedIds(content).first();
    m_editor->setReadOnly(true);

    QVERIFY(!m_editor->insertAttachmentFromPath(writeSource(QStringLiteral("y.txt"), "y")));
    QMenu *menu = openContextMenuAt(pointOfObject());
    QVERIFY(menu);
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << action->text();
    delete menu;
    QVERIFY(texts.contains(QStringLiteral("Open")));
    QVERIFY(!texts.contains(QStringLiteral("Remove Attachment")));
    m_editor->removeAttachment(id);
    QCOMPARE(m_editor->content(), content);
    QVERIFY(m_attachments->attachmentById(id));
}

void TestAttachments::failedRowDeleteKeepsFile()
{
    const Attachment attachment = addRow(QStringLiteral("k.txt"), QStringLiteral("text/plain"), 4);
    QVERIFY(m_attachments->saveFile(attachment.id, "kept"));
    QVERIFY(m_db->exec(QStringLiteral("CREATE TEMP TRIGGER keep_row BEFORE DELETE ON attachments "
                                      "BEGIN SELECT RAISE(ABORT, 'kept'); END")));
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^AttachmentRepository::deleteById failed: .*kept"));
    QVERIFY(!m_attachments->deleteById(attachment.id));
    // Row and file stay together, so the note still shows and opens its attachment.
    QVERIFY(m_attachments->attachmentById(attachment.id));
    QCOMPARE(m_attachments->readFile(attachment.id), QByteArray("kept"));
}

void TestAttachments::toolbarButtonInsertsThroughEditor()
{
    EditorToolbar toolbar;
    toolbar.setEditor(m_editor.get());
    QCOMPARE(
        toolbar.attachmentAction()->toolTip(), QStringLiteral("Insert Attachment (Ctrl+Shift+A)"));
    // The button asks for a file; cancelling the dialog changes nothing.
    answerModal(this, [](QWidget *dialog) { return dialog->close(); });
    const QString before = m_editor->content();
    toolbar.attachmentAction()->trigger();
    QCOMPARE(m_editor->content(), before);
    QVERIFY(m_attachments->attachmentsForNote(m_note.id).isEmpty());
}

QTEST_MAIN(TestAttachments)
#include "tst_attachments.moc"
