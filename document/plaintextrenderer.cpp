#include "plaintextrenderer.h"

#include "deltaformat.h"

QString renderPlainText(const QJsonArray &ops)
{
    QString out;
    for (const Delta::Operation &op : Delta::parseOperations(ops)) {
        if (op.isText())
            out.append(op.text);
    }
    return out;
}
