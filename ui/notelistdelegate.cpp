#include "notelistdelegate.h"

#include "fontscale.h"
#include "listpainting.h"
#include "note.h"
#include "notelistwidget.h"
#include "notetext.h"

#include <QFontMetricsF>
#include <QPainter>

using namespace ListPainting;

namespace {

constexpr int BadgeSize = 14;
constexpr int BadgeStep = 22;
const QChar TwoEmDash(0x2E3A);

struct Fonts
{
    QFont title;
    QFont untitled;
    QFont preview;
    QFont date;
    QFont notebook;
};

// Eliding shapes the whole string, and a search passage of 240 characters shows forty: the text
// is cut first to what could fit if every glyph were narrow.
QString elided(const QFontMetricsF &metrics, const QString &text, qreal width)
{
    qsizetype cut = qsizetype(qMax<qreal>(0, width) / (metrics.averageCharWidth() * 0.4)) + 2;
    if (text.size() <= cut)
        return metrics.elidedText(text, Qt::ElideRight, qMax<qreal>(0, width));
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    const QString head = text.left(cut);
    const QString shown = metrics.elidedText(head, Qt::ElideRight, qMax<qreal>(0, width));
    // Narrow glyphs all the way: the cut fits whole, and only the full text knows its ellipsis.
    return shown == head ? metrics.elidedText(text, Qt::ElideRight, qMax<qreal>(0, width)) : shown;
}

Fonts fontsFor(const NoteListDelegate::Sizes &sizes)
{
    Fonts fonts;
    fonts.title = sansFont(sizes.title, 600);
    fonts.untitled = sansFont(sizes.title, 500, true);
    fonts.preview = sansFont(sizes.preview, 400);
    fonts.date = monoFont(sizes.date, 500);
    fonts.date.setCapitalization(QFont::AllUppercase);
    fonts.date.setLetterSpacing(QFont::PercentageSpacing, 108);
    fonts.notebook = sansFont(sizes.notebook, 400);
    return fonts;
}

QString untitledDisplayTitle(const QString &displayTitle)
{
    const QString dashAndSpaces = QString(TwoEmDash) + QLatin1String("  ");
    if (displayTitle.isEmpty())
        return dashAndSpaces + NoteListWidget::tr("Untitled");
    if (displayTitle.startsWith(QString(TwoEmDash) + QLatin1Char(' ')))
        return displayTitle;
    return dashAndSpaces + displayTitle;
}

} // namespace

NoteListDelegate::Sizes NoteListDelegate::sizesForScale(int scalePercent)
{
    const int base = baseSize(scalePercent);
    Sizes sizes;
    sizes.title = qMax(10, nearest(base * 15 / 16.0));
    sizes.preview = qMax(9, nearest(base * 13 / 16.0));
    sizes.date = qMax(8, nearest(base * 11 / 16.0));
    sizes.notebook = qMax(9, nearest(base * 12 / 16.0));
    // Line heights are the faces' 1.3 and 1.2 em, truncated: 89 pixels at 100 %.
    sizes.rowHeight
        = qMax(72, int(sizes.title * 1.3) + int(sizes.preview * 1.3) + int(sizes.date * 1.2) + 41);
    return sizes;
}

NoteListDelegate::NoteListDelegate(QObject *parent) : QStyledItemDelegate(parent)
{ }

void NoteListDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const Colours colours = coloursFor(option.palette);
    const Fonts fonts = fontsFor(sizesForScale(FontScale::percent()));
    const QRect rect = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const bool hovered = option.state & QStyle::State_MouseOver;

    painter->save();
    painter->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);

    painter->fillRect(
        rect, selected ? colours.selected : (hovered ? colours.hover : colours.background));
    painter->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), colours.separator);
    if (selected && rect.height() > 32)
        painter->fillRect(
            QRect(rect.left(), rect.top() + 16, 2, rect.height() - 32), colours.accent);

    const int left = rect.left();
    const int top = rect.top();
    const int right = rect.right();
    const int textLeft = left + 28;
    const int rightLimit = right - 24;
    const int available = right - left - 52;

    const bool untitled = index.data(NoteListWidget::UntitledRole).toBool();
    const QFont &titleFont = untitled ? fonts.untitled : fonts.title;
    const QFontMetricsF titleMetrics(titleFont);

    struct Badge
    {
        Glyph glyph;
        QColor colour;
    };
    QList<Badge> badges;
    if (index.data(NoteListWidget::SharedRole).toBool())
        badges.append({ Glyph::People, colours.accent });
    const auto status = SyncStatus(index.data(NoteListWidget::SyncStatusRole).toInt());
    if (status == SyncStatus::Pending)
        badges.append({ Glyph::Cloud, colours.secondary });
    else if (status == SyncStatus::Conflict)
        badges.append({ Glyph::Warning, colours.conflict });

    const int badgeCount = int(badges.size());
    const int badgeY = top + 16 + int((titleMetrics.ascent() - BadgeSize) / 2 + 2);
    for (int i = 0; i < badgeCount; ++i) {
        const int x = rightLimit - badgeCount * BadgeStep + 8 + i * BadgeStep;
        drawGlyph(painter, badges.at(i).glyph, QRectF(x, badgeY, BadgeSize, BadgeSize),
            badges.at(i).colour);
    }

    QString title = index.data(NoteListWidget::TitleRole).toString();
    if (untitled) {
        title = untitledDisplayTitle(title);
        // Few fonts carry the two-em dash; two em dashes draw the same rule instead of a box.
        if (!titleMetrics.inFont(TwoEmDash) && title.startsWith(TwoEmDash))
            title.replace(0, 1, QStringLiteral("\u2014\u2014"));
    }
    const qreal titleWidth = available - (badgeCount > 0 ? badgeCount * BadgeStep + 4 : 0);
    painter->setFont(titleFont);
    painter->setPen(untitled ? colours.muted : colours.text);
    painter->drawText(QPointF(textLeft, top + 16 + titleMetrics.ascent()),
        elided(titleMetrics, title, titleWidth));

    const QFontMetricsF previewMetrics(fonts.preview);
    const QString preview = index.data(NoteListWidget::PreviewRole).toString();
    if (!preview.isEmpty()) {
        const QPointF origin(
            textLeft, top + int(titleMetrics.height()) + 21 + int(previewMetrics.ascent()));
        const QVariantList matches = index.data(NoteListWidget::PreviewMatchesRole).toList();
        painter->setPen(colours.secondary);
        if (matches.isEmpty()) {
            painter->setFont(fonts.preview);
            painter->drawText(origin, elided(previewMetrics, preview, available));
        } else {
            // Matched words bold in the text colour, the rest as usual; each piece is elided to
            // the room left, so the line ends in an ellipsis like any preview.
            QFont emphasis = fonts.preview;
            emphasis.setBold(true);
            const QFontMetricsF emphasisMetrics(emphasis);
            qreal x = origin.x();
            const qreal right = origin.x() + qMax(0, available);
            qsizetype at = 0;
            const auto draw = [&](qsizetype from, qsizetype to, bool emphasised) {
                if (from >= to || x >= right)
                    return;
                const QString part = preview.mid(from, to - from);
                const QFontMetricsF &metrics = emphasised ? emphasisMetrics : previewMetrics;
                const QString fitted = elided(metrics, part, right - x);
                painter->setFont(emphasised ? emphasis : fonts.preview);
                painter->setPen(emphasised ? colours.text : colours.secondary);
                painter->drawText(QPointF(x, origin.y()), fitted);
                x += metrics.horizontalAdvance(fitted);
            };
            for (const QVariant &value : matches) {
                const QPoint match = value.toPoint();
                const qsizetype start = qBound<qsizetype>(at, match.x(), preview.size());
                const qsizetype end
                    = qBound<qsizetype>(start, match.x() + match.y(), preview.size());
                draw(at, start, false);
                draw(start, end, true);
                at = qMax(at, end);
            }
            draw(at, preview.size(), false);
        }
    }

    const QFontMetricsF dateMetrics(fonts.date);
    const int dateLineTop = top + int(titleMetrics.height()) + int(previewMetrics.height()) + 25;
    const QString date = formatRelativeDate(index.data(NoteListWidget::UpdatedAtRole).toDateTime());
    painter->setFont(fonts.date);
    painter->setPen(colours.faint);
    painter->drawText(QPointF(textLeft, dateLineTop + int(dateMetrics.ascent())), date);

    const QString notebookName = index.data(NoteListWidget::NotebookNameRole).toString();
    if (!notebookName.isEmpty()) {
        const QFontMetricsF notebookMetrics(fonts.notebook);
        const int dateAdvance = int(dateMetrics.horizontalAdvance(date));
        const qreal nameWidth = rightLimit - dateAdvance - textLeft - 30;
        const QString text = QString(QChar(0x00B7)) + QLatin1String("  ")
            + notebookMetrics.elidedText(notebookName, Qt::ElideRight, qMax<qreal>(0, nameWidth));
        painter->setFont(fonts.notebook);
        painter->drawText(
            QPointF(textLeft + dateAdvance + 10, dateLineTop + notebookMetrics.ascent()), text);
    }

    painter->restore();
}

QSize NoteListDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width(), sizesForScale(FontScale::percent()).rowHeight);
}
