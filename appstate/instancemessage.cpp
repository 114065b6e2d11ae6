#include "instancemessage.h"

InstanceRequest parseInstanceRequest(const QStringList &arguments)
{
    InstanceRequest request;
    request.newNote = arguments.contains(QStringLiteral("--new-note"));
    // Index 0 is the program itself; a trailing "--note" without an id is ignored.
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == QStringLiteral("--note")) {
            request.noteId = arguments.at(i + 1);
            break;
        }
    }
    return request;
}

QString buildInstanceMessage(const QStringList &arguments)
{
    const InstanceRequest request = parseInstanceRequest(arguments);
    if (request.newNote)
        return QStringLiteral("new-note");
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments.at(i) == QStringLiteral("--note"))
            return QStringLiteral("note:%1").arg(arguments.at(i + 1));
    }
    return QStringLiteral("focus");
}
