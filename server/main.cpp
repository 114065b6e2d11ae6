#include "notesserver.h"
#include "servercontext.h"
#include "useradmin.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdio>
#include <iostream>
#include <string>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

bool stdinIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdin));
#else
    return isatty(STDIN_FILENO);
#endif
}

// Reads one line without echo on a terminal; from a pipe the line is read as it is.
QString readSecretLine(const QString &prompt)
{
    const bool tty = stdinIsTerminal();
    if (tty) {
        err() << prompt;
        err().flush();
    }
#ifdef Q_OS_WIN
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (tty) {
        GetConsoleMode(input, &mode);
        SetConsoleMode(input, mode & ~ENABLE_ECHO_INPUT);
    }
#else
    termios saved {};
    if (tty) {
        tcgetattr(STDIN_FILENO, &saved);
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
#endif
    std::string line;
    std::getline(std::cin, line);
#ifdef Q_OS_WIN
    if (tty)
        SetConsoleMode(input, mode);
#else
    if (tty)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
#endif
    if (tty)
        err() << "\n";
    QString text = QString::fromStdString(line);
    if (text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

void usage()
{
    err() << "Usage:\n"
             "  brevaro-notes-server serve [options]\n"
             "  brevaro-notes-server user add EMAIL [--name \"DISPLAY NAME\"] [options]\n"
             "  brevaro-notes-server user list [options]\n"
             "  brevaro-notes-server user disable EMAIL [options]\n"
             "  brevaro-notes-server user enable EMAIL [options]\n"
             "Options:\n"
             "  --listen ADDRESS     address to listen on (default 127.0.0.1)\n"
             "  --port N             port (default 8080)\n"
             "  --data-dir DIR       data directory (database, secret, attachments)\n"
             "  --database KIND      sqlite (default) or postgres\n"
             "  --pg-host H --pg-port N --pg-database D --pg-user U   PostgreSQL connection\n"
             "  --realm SLUG         sign-in realm (default brevaro)\n"
             "  --client-id ID       accept only this client id at sign-in\n"
             "  --downloads DIR      folder served below /downloads/ (default DATA/downloads)\n"
             "  --max-attachment-mb N  attachment size limit (default 100)\n";
    err().flush();
}

QString env(const char *name, const QString &fallback = {})
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

ServerConfig configFromEnvironment()
{
    ServerConfig c;
    c.dataDir = env("NOTES_SERVER_DATA_DIR",
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/brevaro-notes-server"));
    c.listenAddress = QHostAddress(env("NOTES_SERVER_LISTEN", QStringLiteral("127.0.0.1")));
    c.port = quint16(env("NOTES_SERVER_PORT", QStringLiteral("8080")).toUShort());
    c.databaseKind = env("NOTES_SERVER_DATABASE", QStringLiteral("sqlite"));
    c.pgHost = env("NOTES_SERVER_PG_HOST", c.pgHost);
    c.pgPort = env("NOTES_SERVER_PG_PORT", QString::number(c.pgPort)).toInt();
    c.pgDatabase = env("NOTES_SERVER_PG_DATABASE", c.pgDatabase);
    c.pgUser = env("NOTES_SERVER_PG_USER");
    // The password only through the environment, never on a command line others can read.
    c.pgPassword = env("NOTES_SERVER_PG_PASSWORD");
    c.realmSlug = env("NOTES_SERVER_REALM", c.realmSlug);
    c.clientId = env("NOTES_SERVER_CLIENT_ID");
    c.downloadsDir = env("NOTES_SERVER_DOWNLOADS_DIR");
    const int mb = env("NOTES_SERVER_MAX_ATTACHMENT_MB").toInt();
    if (mb > 0)
        c.maxAttachmentBytes = qint64(mb) * 1024 * 1024;
    return c;
}

// Applies "--option value" pairs; leftover words are returned in order.
bool applyOptions(const QStringList &args, ServerConfig &c, QStringList *words, QString *name)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (!a.startsWith(QLatin1String("--"))) {
            words->append(a);
            continue;
        }
        if (i + 1 >= args.size()) {
            err() << "Missing value for " << a << "\n";
            return false;
        }
        const QString v = args[++i];
        if (a == QLatin1String("--listen")) {
            c.listenAddress = QHostAddress(v);
            if (c.listenAddress.isNull()) {
                err() << "Not an address: " << v << "\n";
                return false;
            }
        } else if (a == QLatin1String("--port")) {
            bool ok = false;
            c.port = v.toUShort(&ok);
            if (!ok) {
                err() << "Not a port: " << v << "\n";
                return false;
            }
        } else if (a == QLatin1String("--data-dir")) {
            c.dataDir = v;
        } else if (a == QLatin1String("--database")) {
            c.databaseKind = v;
        } else if (a == QLatin1String("--pg-host")) {
            c.pgHost = v;
        } else if (a == QLatin1String("--pg-port")) {
            c.pgPort = v.toInt();
        } else if (a == QLatin1String("--pg-database")) {
            c.pgDatabase = v;
        } else if (a == QLatin1String("--pg-user")) {
            c.pgUser = v;
        } else if (a == QLatin1String("--realm")) {
            c.realmSlug = v;
        } else if (a == QLatin1String("--client-id")) {
            c.clientId = v;
        } else if (a == QLatin1String("--downloads")) {
            c.downloadsDir = v;
        } else if (a == QLatin1String("--max-attachment-mb") && v.toInt() > 0) {
            c.maxAttachmentBytes = qint64(v.toInt()) * 1024 * 1024;
        } else if (a == QLatin1String("--name")) {
            *name = v;
        } else {
            err() << "Unknown option " << a << "\n";
            return false;
        }
    }
    return true;
}

int runUserCommand(const QStringList &words, const ServerConfig &config, const QString &name)
{
    ServerContext context(config);
    QString error;
    if (!context.open(&error)) {
        err() << "Cannot open the server data: " << error << "\n";
        return 1;
    }
    UserAdmin admin(context);
    const QString verb = words.value(1);
    if (verb == QLatin1String("list") && words.size() == 2) {
        for (const auto &u : admin.listUsers()) {
            out() << u.email << "\t" << (u.disabled ? "disabled" : "active") << "\t"
                  << QDateTime::fromMSecsSinceEpoch(u.createdAt, Qt::UTC).toString(Qt::ISODate)
                  << "\t" << u.displayName << "\n";
        }
        return 0;
    }
    if (words.size() != 3) {
        usage();
        return 2;
    }
    const QString email = words[2];
    if (verb == QLatin1String("add")) {
        const QString password = readSecretLine(QStringLiteral("Password for %1: ").arg(email));
        if (stdinIsTerminal()
            && readSecretLine(QStringLiteral("Repeat the password: ")) != password) {
            err() << "The passwords differ.\n";
            return 1;
        }
        const QString problem = admin.addUser(email, password, name);
        if (!problem.isEmpty()) {
            err() << problem << "\n";
            return 1;
        }
        out() << "Added " << email.trimmed().toLower() << "\n";
        return 0;
    }
    if (verb == QLatin1String("disable") || verb == QLatin1String("enable")) {
        if (!admin.setDisabled(email, verb == QLatin1String("disable"))) {
            err() << "No user " << email << "\n";
            return 1;
        }
        out() << (verb == QLatin1String("disable") ? "Disabled " : "Enabled ") << email << "\n";
        return 0;
    }
    usage();
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brevaro-notes-server"));
    QStringList args = QCoreApplication::arguments().mid(1);
    ServerConfig config = configFromEnvironment();
    QStringList words;
    QString name;
    if (!applyOptions(args, config, &words, &name)) {
        usage();
        return 2;
    }
    const QString command = words.value(0);
    if (command == QLatin1String("user")) {
        const int rc = runUserCommand(words, config, name);
        out().flush();
        err().flush();
        return rc;
    }
    if (command != QLatin1String("serve") || words.size() != 1) {
        usage();
        return 2;
    }
    NotesServer server(config);
    if (!server.start()) {
        err() << "Cannot start: " << server.errorString() << "\n";
        return 1;
    }
    qInfo().noquote()
        << "Brevaro Notes server listening on"
        << QStringLiteral("http://%1:%2").arg(config.listenAddress.toString()).arg(server.port())
        << "data in" << config.dataDir << "database" << config.databaseKind;
    return app.exec();
}
