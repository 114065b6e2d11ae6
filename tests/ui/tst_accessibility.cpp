#include "accountscreen.h"
#include "appstate.h"
#include "client.h"
#include "exportdialog.h"
#include "findbar.h"
#include "imagelightbox.h"
#include "importdialog.h"
#include "mainwindow.h"
#include "modalanswers.h"
#include "movetonotebookdialog.h"
#include "notebookdialog.h"
#include "notebooklistwidget.h"
#include "notebookrepository.h"
#include "noteeditor.h"
#include "noteheaderbar.h"
#include "notelistwidget.h"
#include "noterepository.h"
#include "notewindow.h"
#include "searchscreen.h"
#include "settingsdialog.h"
#include "sharedscreen.h"
#include "testaccount.h"
#include "testbodies.h"
#include "testdatabase.h"
#include "testdatadir.h"
#include "todosscreen.h"
#include "trashscreen.h"
#include "versionhistorydialog.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

namespace {

using Opener = std::function<QWidget *(AppState *)>;
// The controls Tab must reach in a window, in this order.
using TabStops = std::function<QList<QWidget *>(QWidget *)>;

bool hasWord(const QString &text)
{
    for (const QChar c : text) {
        if (c.isLetterOrNumber())
            return true;
    }
    return false;
}

// Icon-font glyphs live in the private use area: read aloud they are noise.
bool hasIconGlyph(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_PrivateUse)
            return true;
    }
    return false;
}

bool isControl(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::EditableText:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::ButtonDropGrid:
    case QAccessible::Link:
    case QAccessible::PageTab:
    case QAccessible::List:
    case QAccessible::ListItem:
    case QAccessible::Tree:
    case QAccessible::TreeItem:
    case QAccessible::Table:
    case QAccessible::Cell:
        return true;
    default:
        return false;
    }
}

QString describe(QAccessibleInterface *iface)
{
    QObject *object = iface->object();
    QString text = QStringLiteral("%1 (role %2")
                       .arg(object ? QString::fromLatin1(object->metaObject()->className())
                                   : QStringLiteral("item"))
                       .arg(int(iface->role()));
    if (object && !object->objectName().isEmpty())
        text += QStringLiteral(", object ") + object->objectName();
    const QString name = iface->text(QAccessible::Name);
    if (!name.isEmpty())
        text += QStringLiteral(", name \"%1\"").arg(name);
    // Where it sits: the nearest named ancestor.
    for (QAccessibleInterface *up = iface->parent(); up; up = up->parent()) {
        const QString upName = up->text(QAccessible::Name);
        if (hasWord(upName)) {
            text += QStringLiteral(", inside \"%1\"").arg(upName);
            break;
        }
    }
    return text + QLatin1Char(')');
}

// Everything a screen reader cannot put into words: controls and focusable widgets without a
// name, names made of icon glyphs, and buttons that show no words and have no tool tip.
void collectProblems(
    QAccessibleInterface *iface, const QWidget *top, QStringList &problems, int depth = 0)
{
    if (!iface || !iface->isValid() || depth > 60)
        return;
    // Other windows (a combo box's pop-up list) are walked on their own when they open.
    if (auto *widget = qobject_cast<QWidget *>(iface->object()); widget && widget->window() != top)
        return;
    const QAccessible::Role role = iface->role();
    const QString name = iface->text(QAccessible::Name);
    // A label is read by its text; only controls and other focus stops need a name.
    const bool control = isControl(role)
        || (iface->state().focusable && role != QAccessible::Client
            && role != QAccessible::StaticText);
    if (control && !hasWord(name))
        problems << QStringLiteral("unnamed: ") + describe(iface);
    if (hasIconGlyph(name))
        problems << QStringLiteral("glyph read aloud: ") + describe(iface);
    if (auto *button = qobject_cast<QAbstractButton *>(iface->object())) {
        if (!hasWord(button->text()) && button->toolTip().isEmpty())
            problems << QStringLiteral("no tool tip: ") + describe(iface);
    }
    if (auto *widget = qobject_cast<QWidget *>(iface->object())) {
        if (hasIconGlyph(widget->property("text").toString()) && widget->toolTip().isEmpty())
            problems << QStringLiteral("glyph without tool tip: ") + describe(iface);
    }
    const int count = iface->childCount();
    for (int i = 0; i < count; ++i)
        collectProblems(iface->child(i), top, problems, depth + 1);
}

} // namespace

Q_DECLARE_METATYPE(Opener)
Q_DECLARE_METATYPE(TabStops)

class tst_Accessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyWindowIsNamedAndClosesOnEscape_data();
    void everyWindowIsNamedAndClosesOnEscape();
    void returnPressesTheDefaultButton_data();
    void returnPressesTheDefaultButton();
    void tabReachesTheMainControls_data();
    void tabReachesTheMainControls();
    void sidebarOpensANotebookOnReturn();
    void editorPromptsAnswerTheKeyboard_data();
    void editorPromptsAnswerTheKeyboard();

private:
    std::unique_ptr<TestDataDir> m_dataDir;
    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<AppState> m_state;
    QString m_noteId;
    QString m_notebookId;
};

void tst_Accessibility::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Brevaro"));
    QCoreApplication::setApplicationName(QStringLiteral("Notes"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
}

void tst_Accessibility::init()
{
    m_dataDir = std::make_unique<TestDataDir>();
    m_settingsDir = std::make_unique<QTemporaryDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir->path());
    m_state = std::make_unique<AppState>();
    m_state->setTokenStore(std::make_unique<MemoryTokenStore>());
    QVERIFY(m_state->initialize());
    const Notebook notebook = TestDatabase::makeNotebook(QStringLiteral("Work"));
    QVERIFY(m_state->notebooks()->insert(notebook));
    m_notebookId = notebook.id;
    Note shared = TestDatabase::makeNote(
        bodyOfLines({ QStringLiteral("Plans"), QStringLiteral("- [ ] call the printer") }),
        notebook.id);
    shared.isShared = true;
    QVERIFY(m_state->notes()->insert(shared));
    m_noteId = shared.id;
    Note trashed = TestDatabase::makeNote(bodyOf(QStringLiteral("Old receipt")));
    QVERIFY(m_state->notes()->insert(trashed));
    QVERIFY(m_state->notes()->softDelete(trashed.id));
    m_state->setCurrentNoteId(m_noteId);
}

void tst_Accessibility::cleanup()
{
    m_state.reset();
    m_settingsDir.reset();
    m_dataDir.reset();
}

void tst_Accessibility::everyWindowIsNamedAndClosesOnEscape_data()
{
    QTest::addColumn<Opener>("open");
    // Escape closes dialogs and screens; in the main and note windows it belongs to the editor.
    QTest::addColumn<bool>("escapeCloses");
    QTest::addRow("main window with a note open")
        << Opener([](AppState *state) -> QWidget * { return new MainWindow(state); }) << false;
    QTest::addRow("main window, find bar open") << Opener([](AppState *state) -> QWidget * {
        auto *window = new MainWindow(state);
        window->findBar()->openBar();
        return window;
    }) << false;
    QTest::addRow("main window, welcome page") << Opener([](AppState *state) -> QWidget * {
        state->setCurrentNoteId(QString());
        return new MainWindow(state);
    }) << false;
    QTest::addRow("note window") << Opener([this](AppState *state) -> QWidget * {
        return new NoteWindow(state, m_noteId);
    }) << false;
    QTest::addRow("to-dos screen")
        << Opener([](AppState *state) -> QWidget * { return new TodosScreen(state); }) << true;
    QTest::addRow("search screen")
        << Opener([](AppState *state) -> QWidget * { return new SearchScreen(state); }) << true;
    QTest::addRow("trash screen") << Opener([](AppState *state) -> QWidget * {
        return new TrashScreen(state);
    }) << true;
    QTest::addRow("shared screen") << Opener([](AppState *state) -> QWidget * {
        return new SharedScreen(state, SharedScreen::SharedByMe);
    }) << true;
    QTest::addRow("settings dialog")
        << Opener([](AppState *state) -> QWidget * { return new SettingsDialog(state); }) << true;
    QTest::addRow("version history") << Opener([this](AppState *state) -> QWidget * {
        return new VersionHistoryDialog(state, m_noteId);
    }) << true;
    QTest::addRow("notebook dialog") << Opener([](AppState *) -> QWidget * {
        return new NotebookDialog(QStringLiteral("New Notebook"), QStringLiteral("Ideas"));
    }) << true;
    QTest::addRow("move dialog") << Opener([this](AppState *state) -> QWidget * {
        return new MoveToNotebookDialog(state->notebooks()->allNotebooks(), m_notebookId);
    }) << true;
    QTest::addRow("export dialog")
        << Opener([](AppState *) -> QWidget * { return new ExportDialog; }) << true;
    QTest::addRow("import wizard")
        << Opener([](AppState *state) -> QWidget * { return new ImportDialog(state); }) << true;
    QTest::addRow("account window") << Opener([](AppState *state) -> QWidget * {
        return new BrevAccount::AccountScreen(state->accountClient());
    }) << true;
    QTest::addRow("image viewer") << Opener([](AppState *) -> QWidget * {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        return new ImageLightbox(image, QStringLiteral("receipt.png"));
    }) << true;
}

void tst_Accessibility::everyWindowIsNamedAndClosesOnEscape()
{
    QFETCH(Opener, open);
    QFETCH(bool, escapeCloses);
    // Some of these delete themselves on close.
    QPointer<QWidget> window(open(m_state.get()));
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QStringList problems;
    collectProblems(QAccessible::queryAccessibleInterface(window), window, problems);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));

    QWidget *focus = QApplication::focusWidget();
    QVERIFY2(focus && focus->window() == window, "the window takes the keyboard focus");
    QTest::keyClick(focus, Qt::Key_Escape);
    if (escapeCloses)
        QTRY_VERIFY(!window || !window->isVisible());
    else
        QVERIFY(window->isVisible());
    delete window.data();
}

void tst_Accessibility::returnPressesTheDefaultButton_data()
{
    QTest::addColumn<Opener>("open");
    QTest::addRow("notebook dialog creates") << Opener([](AppState *) -> QWidget * {
        return new NotebookDialog(QStringLiteral("New Notebook"), QStringLiteral("Ideas"));
    });
    QTest::addRow("move dialog moves") << Opener([this](AppState *state) -> QWidget * {
        auto *dialog = new MoveToNotebookDialog(state->notebooks()->allNotebooks(), m_notebookId);
        dialog->list()->setCurrentRow(0);
        return dialog;
    });
    QTest::addRow("export dialog exports")
        << Opener([](AppState *) -> QWidget * { return new ExportDialog; });
}

void tst_Accessibility::returnPressesTheDefaultButton()
{
    QFETCH(Opener, open);
    std::unique_ptr<QDialog> dialog(qobject_cast<QDialog *>(open(m_state.get())));
    QVERIFY(dialog);
    dialog->show();
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

void tst_Accessibility::tabReachesTheMainControls_data()
{
    QTest::addColumn<Opener>("open");
    QTest::addColumn<TabStops>("stops");
    QTest::addRow("main window") << Opener([](AppState *state) -> QWidget * {
        return new MainWindow(state);
    }) << TabStops([](QWidget *window) {
        auto *main = static_cast<MainWindow *>(window);
        return QList<QWidget *> { main->notebookList(), main->searchField(), main->noteList(),
            main->headerBar()->historyButton(), main->editor() };
    });
    QTest::addRow("note window") << Opener([this](AppState *state) -> QWidget * {
        return new NoteWindow(state, m_noteId);
    }) << TabStops([](QWidget *window) {
        auto *note = static_cast<NoteWindow *>(window);
        return QList<QWidget *> { note->findChild<NoteHeaderBar *>()->historyButton(),
            note->findChild<NoteEditor *>() };
    });
    QTest::addRow("settings dialog")
        << Opener([](AppState *state) -> QWidget * { return new SettingsDialog(state); })
        << TabStops([](QWidget *window) {
               return QList<QWidget *> { window->findChild<QListWidget *>(
                                             QStringLiteral("settingsCategories")),
                   window->findChild<QComboBox *>() };
           });
}

// Tab goes round the stops in order, and Ctrl+Tab leaves the editor (where Tab types a tab)
// without changing the note.
void tst_Accessibility::tabReachesTheMainControls()
{
    QFETCH(Opener, open);
    QFETCH(TabStops, stops);
    QPointer<QWidget> window(open(m_state.get()));
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const QList<QWidget *> expected = stops(window);
    for (QWidget *stop : expected)
        QVERIFY(stop);
    const QString bodyBefore = m_state->notes()->noteById(m_noteId)->body;

    expected.first()->setFocus(Qt::TabFocusReason);
    QList<QWidget *> reached { QApplication::focusWidget() };
    for (int press = 0; press < 60 && reached.size() < 200; ++press) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        const bool inEditor = qobject_cast<NoteEditor *>(focus);
        QTest::keyClick(focus, Qt::Key_Tab, inEditor ? Qt::ControlModifier : Qt::NoModifier);
        QWidget *next = QApplication::focusWidget();
        QVERIFY2(next != focus,
            qPrintable(QStringLiteral("Tab is stuck in %1")
                           .arg(QString::fromLatin1(focus->metaObject()->className()))));
        reached << next;
        if (next == expected.first())
            break;
    }
    QCOMPARE(reached.last(), expected.first());
    qsizetype at = 0;
    for (QWidget *stop : expected) {
        const qsizetype found = reached.indexOf(stop, at);
        QVERIFY2(found >= 0,
            qPrintable(QStringLiteral("Tab never reaches %1 after the stops before it")
                           .arg(QString::fromLatin1(stop->metaObject()->className()))));
        at = found;
    }
    QCOMPARE(m_state->notes()->noteById(m_noteId)->body, bodyBefore);
    delete window.data();
}

// Arrows walk the sidebar without leaving the list shown; Return opens the notebook, and the
// rows read out what the painter draws beside their names.
void tst_Accessibility::sidebarOpensANotebookOnReturn()
{
    MainWindow window(m_state.get());
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    NotebookListWidget *sidebar = window.notebookList();
    sidebar->setFocus(Qt::TabFocusReason);
    sidebar->setCurrentRow(0);

    QTest::keyClick(sidebar, Qt::Key_Down);
    QCOMPARE(sidebar->currentRow(), 1);
    QVERIFY(m_state->currentNotebookId().isEmpty());
    QTest::keyClick(sidebar, Qt::Key_Return);
    QCOMPARE(m_state->currentNotebookId(), m_notebookId);
    QCOMPARE(window.noteList()->count(), 1);

    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(sidebar);
    QVERIFY(list && list->childCount() > 1);
    const QString workRow = list->child(1)->text(QAccessible::Name);
    QVERIFY2(workRow.contains(QLatin1String("Work")) && workRow.contains(QLatin1Char('1')),
        qPrintable(workRow));
    QAccessibleInterface *notes = QAccessible::queryAccessibleInterface(window.noteList());
    QVERIFY(notes && notes->childCount() == 1);
    const QString noteRow = notes->child(0)->text(QAccessible::Name);
    // Title, preview, notebook and the shared badge, which is only drawn.
    for (const QString &part : { QStringLiteral("Plans"), QStringLiteral("call the printer"),
             QStringLiteral("Work"), QStringLiteral("Shared") })
        QVERIFY2(noteRow.contains(part), qPrintable(noteRow));
}

// The editor's table and link prompts run modally: the answer comes from inside, where the
// controls are also checked for names.
void tst_Accessibility::editorPromptsAnswerTheKeyboard_data()
{
    QTest::addColumn<bool>("table");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("accepted");
    QTest::addRow("table, Return inserts") << true << int(Qt::Key_Return) << true;
    QTest::addRow("link, Escape cancels") << false << int(Qt::Key_Escape) << false;
}

void tst_Accessibility::editorPromptsAnswerTheKeyboard()
{
    QFETCH(bool, table);
    QFETCH(int, key);
    QFETCH(bool, accepted);
    QStringList problems;
    ModalScript script({ [&](QWidget *modal) {
        collectProblems(QAccessible::queryAccessibleInterface(modal), modal, problems);
        QWidget *focus = QApplication::focusWidget();
        QTest::keyClick(focus && focus->window() == modal ? focus : modal, Qt::Key(key));
        return true;
    } });
    const bool answered = table ? NoteEditor::promptInsertTable(nullptr).accepted
                                : NoteEditor::promptLink(nullptr, QStringLiteral("Insert Link"),
                                    QStringLiteral("site"), QStringLiteral("https://example.org"))
                                      .accepted;
    QCOMPARE(script.done(), 1);
    QCOMPARE(answered, accepted);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
