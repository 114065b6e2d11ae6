#include "deltadocument.h"
#include "deltaformat.h"
#include "fuzzapplication.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void requireEqual(const QString &first, const QString &second, const char *what)
{
    if (first == second)
        return;
    std::fprintf(stderr, "%s not stable:\n%s\n%s\n", what, qPrintable(first), qPrintable(second));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureFuzzApplication();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    // The stored form of parsed operations is a fixed point after one write.
    const Delta::Operations ops = Delta::parseOperations(text);
    const QString stored = Delta::toText(ops);
    requireEqual(stored, Delta::toText(Delta::parseOperations(stored)), "stored operations");

    // Embeds the editor cannot show must come back unchanged from a load and a save.
    QStringList kept;
    for (const Delta::Operation &op : ops) {
        if (!op.isEmbed() || op.embedKind.isEmpty())
            continue;
        const bool known = op.embedKind == Delta::DividerKind
            || op.embedKind == Delta::AttachmentKind
            || (op.embedKind == Delta::ImageKind
                && op.embedValue.startsWith(Delta::AttachmentPrefix))
            || (op.embedKind == Delta::TableKind && Delta::parseTable(op.embedValue));
        if (!known)
            kept.append(Delta::toText(QJsonObject { { QStringLiteral("insert"),
                QJsonObject { { op.embedKind, op.rawEmbedValue } } } }));
    }

    for (const Delta::Line &line : Delta::lines(ops)) {
        for (const Delta::Segment &segment : line.segments) {
            if (!segment.isEmbed || segment.embedKind != Delta::TableKind)
                continue;
            if (const std::optional<Delta::Table> table = Delta::parseTable(segment.embedValue)) {
                const QString written = Delta::writeTable(*table);
                const std::optional<Delta::Table> again = Delta::parseTable(written);
                if (!again)
                    std::abort();
                requireEqual(written, Delta::writeTable(*again), "table value");
            }
        }
    }

    // The editor's document: after the first normalisation, load and write are a fixed point.
    DeltaDocument document;
    document.setContent(text);
    const QString once = document.toJson();
    if (!Delta::parseArray(once))
        std::abort();
    for (const QString &embed : std::as_const(kept)) {
        if (!once.contains(embed)) {
            std::fprintf(stderr, "embed lost on save: %s\n", qPrintable(embed));
            std::abort();
        }
    }
    document.setContent(once);
    requireEqual(once, document.toJson(), "document");
    return 0;
}
