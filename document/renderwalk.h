#pragma once

#include "deltaformat.h"

// Walks a delta the way the renderers read it: each line's text segments are gathered, and a
// divider or table embed first flushes what was gathered as a line without block attributes,
// then stands on its own. Other embeds (attachments, images) render as nothing.
template<typename LineFunction, typename EmbedFunction>
void walkRenderedLines(const QJsonArray &ops, LineFunction renderLine, EmbedFunction renderEmbed)
{
    const QJsonObject noBlockAttributes;
    for (const Delta::Line &line : Delta::lines(Delta::parseOperations(ops))) {
        QList<Delta::Segment> pending;
        for (const Delta::Segment &segment : line.segments) {
            if (!segment.isEmbed) {
                pending.append(segment);
                continue;
            }
            if (segment.embedKind != Delta::DividerKind && segment.embedKind != Delta::TableKind)
                continue;
            if (!pending.isEmpty()) {
                renderLine(pending, noBlockAttributes);
                pending.clear();
            }
            renderEmbed(segment);
        }
        if (line.terminated)
            renderLine(pending, line.blockAttributes);
        else if (!pending.isEmpty())
            renderLine(pending, noBlockAttributes);
    }
}
