// Shows one dialog for looking at it (not a timing):
//   bench_dialogs notebook|rename|move|export|import|import-summary [--dark]
// Data lives in a temporary NOTES_DATA_DIR unless one is set.
#include "appstate.h"
#include "exportdialog.h"
#include "importdialog.h"
#include "movetonotebookdialog.h"
#include "notebookdialog.h"
#include "testaccount.h"
#include "thememanager.h"

#include <QApplication>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <QWizardPage>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool dark = args.removeAll(QStringLiteral("--dark")) > 0;
    const QString which = args.value(0, QStringLiteral("notebook"));

    QTemporaryDir dataDir;
    if (qEnvironmentVariableIsEmpty("NOTES_DATA_DIR"))
        qputenv("NOTES_DATA_DIR", dataDir.path().toUtf8());
    AppState state;
    state.setTokenStore(std::make_unique<MemoryTokenStore>());
    if (!state.initialize())
        return 1;
    state.themeManager()->setTheme(dark ? ThemeManager::Dark : ThemeManager::Light);

    QWidget *shown = nullptr;
    if (which == QLatin1String("notebook")) {
        shown = new NotebookDialog(QObject::tr("New Notebook"), QString());
    } else if (which == QLatin1String("rename")) {
        shown = new NotebookDialog(QObject::tr("Rename Notebook"), QStringLiteral("Recipes"));
    } else if (which == QLatin1String("move")) {
        QList<Notebook> notebooks;
        for (const char *name : { "Ideas", "Recipes", "Travel", "Work" }) {
            Notebook notebook;
            notebook.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            notebook.name = QString::fromLatin1(name);
            notebooks.append(notebook);
        }
        shown = new MoveToNotebookDialog(notebooks, notebooks.at(1).id);
    } else if (which == QLatin1String("export")) {
        shown = new ExportDialog;
    } else if (which.startsWith(QLatin1String("import"))) {
        auto *wizard = new ImportDialog(&state);
        // The wizard only moves between pages once it is shown.
        QTimer::singleShot(0, wizard, [wizard, which] {
            if (which == QLatin1String("import"))
                return;
            wizard->next();
            wizard->setFilePath(QStringLiteral("/home/user/Downloads/notes-2024.jex"));
            if (which == QLatin1String("import-summary"))
                wizard->next();
        });
        shown = wizard;
    } else {
        std::fprintf(stderr, "unknown dialog %s\n", qPrintable(which));
        return 2;
    }
    shown->show();
    return app.exec();
}
