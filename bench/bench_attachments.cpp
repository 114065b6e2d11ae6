// Inline attachments: loading a note whose images must be read and decoded (every setNote
// clears the renderer's cache), and repainting it once they are cached.
// Usage: bench_attachments [images] [runs]
//        bench_attachments --show [--dark] [--viewer]   an editor with an image and file chips,
//            the version history dialog and, with --viewer, the image viewer, for looking at them
#include "appstate.h"
#include "attachmentrepository.h"
#include "benchmedian.h"
#include "deltaformat.h"
#include "editortoolbar.h"
#include "imagelightbox.h"
#include "noteeditor.h"
#include "noterepository.h"
#include "snapshotrepository.h"
#include "testaccount.h"
#include "thememanager.h"
#include "versionhistorydialog.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QUuid>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

template<typename F>
double timeMs(F &&work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

QByteArray pictureBytes(int width, int height, const char *format, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor::fromHsv((seed * 47) % 360, 120, 230));
    gradient.setColorAt(1, QColor::fromHsv((seed * 47 + 160) % 360, 160, 120));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(QPen(Qt::white, 6));
    for (int i = 0; i < 12; ++i)
        painter.drawEllipse(QPoint(width * (i + 1) / 13, height / 2), width / 16, height / 5);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QString addAttachment(AppState &state, const QString &noteId, const QString &filename,
    const QString &mimeType, const QByteArray &bytes)
{
    Attachment attachment;
    attachment.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    attachment.noteId = noteId;
    attachment.filename = filename;
    attachment.mimeType = mimeType;
    attachment.sizeBytes = bytes.size();
    attachment.createdAt = QDateTime::currentDateTimeUtc();
    if (!state.attachments()->saveFile(attachment.id, bytes)
        || !state.attachments()->insert(attachment))
        return QString();
    return attachment.id;
}

QJsonObject text(const QString &value, const QJsonObject &attributes = {})
{
    QJsonObject op { { QStringLiteral("insert"), value } };
    if (!attributes.isEmpty())
        op.insert(QStringLiteral("attributes"), attributes);
    return op;
}

QJsonObject embed(const QString &id)
{
    return QJsonObject { { QStringLiteral("insert"),
        QJsonObject {
            { QString(Delta::AttachmentKind), QString(Delta::AttachmentPrefix) + id } } } };
}

Note makeNote(const QString &body, int version)
{
    Note note;
    note.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    note.body = body;
    note.createdAt = QDateTime::currentDateTimeUtc();
    note.updatedAt = note.createdAt;
    note.modifiedAt = note.createdAt;
    note.version = version;
    return note;
}

int show(AppState &state, bool dark)
{
    state.themeManager()->setTheme(dark ? ThemeManager::Dark : ThemeManager::Light);
    Note note = makeNote(Delta::emptyDocument(), 4);
    if (!state.notes()->insert(note))
        return 1;
    const QString photo = addAttachment(state, note.id, QStringLiteral("harbour.jpg"),
        QStringLiteral("image/jpeg"), pictureBytes(1200, 700, "JPEG", 3));
    const QString report = addAttachment(state, note.id, QStringLiteral("Quarterly report.pdf"),
        QStringLiteral("application/pdf"), QByteArray(48 * 1024, 'x'));
    const QString missing = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QJsonArray ops;
    ops << text(QStringLiteral("Trip notes"))
        << text(QStringLiteral("\n"), { { QStringLiteral("header"), 1 } })
        << text(QStringLiteral("The view from the pier, and the report to read on the way:\n"))
        << embed(photo) << text(QStringLiteral("\n")) << embed(report) << text(QStringLiteral("\n"))
        << text(QStringLiteral("An attachment that never arrived draws as a plain chip:\n"))
        << embed(missing) << text(QStringLiteral("\nEnd of note.\n"));
    note.body = Delta::toText(ops);
    state.notes()->update(note);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Attachments"));
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *toolbar = new EditorToolbar(&window);
    auto *editor = new NoteEditor(&window);
    editor->setAttachmentRepository(state.attachments());
    toolbar->setEditor(editor);
    toolbar->setActive(true);
    layout->addWidget(toolbar);
    layout->addWidget(editor);
    editor->setNote(note.id, note.body);
    window.setGeometry(0, 0, 760, 880);
    window.show();

    for (int version = 1; version <= 3; ++version) {
        Note earlier = note;
        earlier.version = version;
        QJsonArray draft;
        draft << text(QStringLiteral("Trip notes"))
              << text(QStringLiteral("\n"), { { QStringLiteral("header"), 1 } })
              << text(QStringLiteral("Draft %1 of the trip plan.\n").arg(version));
        if (version == 3)
            draft << embed(photo) << text(QStringLiteral("\n"));
        state.snapshots()->takeSnapshot(earlier, Delta::toText(draft));
    }
    VersionHistoryDialog history(&state, note.id);
    history.setGeometry(780, 40, 800, 500);
    history.show();
    history.snapshotList()->setCurrentRow(0);
    if (QApplication::arguments().contains(QStringLiteral("--viewer"))) {
        ImageLightbox *viewer
            = new ImageLightbox(QImage::fromData(state.attachments()->readFile(photo)),
                QStringLiteral("harbour.jpg"), &window);
        viewer->setAttribute(Qt::WA_DeleteOnClose);
        viewer->move(200, 150);
        viewer->show();
    }
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const bool showing = args.contains(QStringLiteral("--show"));
    if (!showing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    qputenv("NOTES_DATA_DIR", dir.path().toUtf8());
    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    if (!state.initialize())
        return 1;
    if (showing)
        return show(state, args.contains(QStringLiteral("--dark")));

    const int images = argc > 1 ? std::max(1, atoi(argv[1])) : 12;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 9;
    Note note = makeNote(Delta::emptyDocument(), 1);
    if (!state.notes()->insert(note))
        return 1;
    QJsonArray ops;
    qint64 stored = 0;
    for (int i = 0; i < images; ++i) {
        // Photos as a phone takes them: several megapixels, far wider than they are drawn.
        const QByteArray bytes = pictureBytes(4000, 3000, "JPEG", i);
        stored += bytes.size();
        ops << text(QStringLiteral("Photo %1\n").arg(i + 1))
            << embed(addAttachment(state, note.id, QStringLiteral("photo%1.jpg").arg(i),
                   QStringLiteral("image/jpeg"), bytes))
            << text(QStringLiteral("\n"));
    }
    note.body = Delta::toText(ops);

    NoteEditor editor;
    editor.setAttachmentRepository(state.attachments());
    editor.resize(800, 900);
    editor.show();
    QList<double> load, repaint, scrollThrough;
    for (int run = 0; run < runs; ++run) {
        load << timeMs([&] {
            editor.setNote(note.id, note.body, true);
            editor.viewport()->grab();
        });
        repaint << timeMs([&] { editor.viewport()->grab(); });
        scrollThrough << timeMs([&] {
            QScrollBar *bar = editor.verticalScrollBar();
            for (int y = 0; y <= bar->maximum(); y += editor.viewport()->height()) {
                bar->setValue(y);
                editor.viewport()->grab();
            }
        });
    }
    std::printf("%d images of 4000x3000 (%.1f MB stored), %d runs, medians:\n", images,
        double(stored) / (1024 * 1024), runs);
    std::printf("  load note and first paint (read + decode):  %8.2f ms\n", median(load));
    std::printf("  repaint one screen (cached):               %8.2f ms\n", median(repaint));
    std::printf("  page through the whole note (cached):      %8.2f ms\n", median(scrollThrough));
    return 0;
}
