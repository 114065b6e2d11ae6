#include "notesstyle.h"

#include "checkboxmarkers.h"
#include "documentpalette.h"
#include "fontscale.h"
#include "noteeditor.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

using DocumentPalette::blend;
using DocumentPalette::controlOutline;

namespace {

constexpr int ScrollBarExtent = 12;
constexpr int ScrollHandleMinimum = 32;

bool isEnabled(const QStyleOption *option)
{
    return option->state & QStyle::State_Enabled;
}

void drawRadio(QPainter *painter, const QStyleOption *option)
{
    const QPalette &palette = option->palette;
    const bool enabled = isEnabled(option);
    const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
    const qreal side = qMin(option->rect.width(), option->rect.height());
    const QRectF circle(QPointF(option->rect.center()) - QPointF(side / 2 - 0.5, side / 2 - 0.5),
        QSizeF(side - 1, side - 1));
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (option->state & QStyle::State_On) {
        QColor fill = palette.color(group, QPalette::Highlight);
        if (!enabled)
            fill = blend(palette.color(QPalette::Base), fill, 0.5);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawEllipse(circle);
        painter->setBrush(palette.color(group, QPalette::HighlightedText));
        const qreal dot = side * 0.36;
        painter->drawEllipse(circle.center(), dot / 2, dot / 2);
    } else {
        QColor outline = controlOutline(palette);
        if (!enabled)
            outline = blend(palette.color(QPalette::Base), outline, 0.5);
        const qreal stroke = qMax<qreal>(1, side / 12);
        painter->setPen(QPen(outline, stroke));
        painter->setBrush(palette.brush(group, QPalette::Base));
        painter->drawEllipse(circle.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2));
    }
    painter->restore();
}

// A flat rounded panel: outlined in the control outline colour, or the highlight colour for
// the focused field and the default button.
void drawPanel(QPainter *painter, const QStyleOption *option, const QColor &fill, bool accent)
{
    const QPalette &palette = option->palette;
    QColor outline
        = accent ? palette.color(QPalette::Active, QPalette::Highlight) : controlOutline(palette);
    if (!isEnabled(option))
        outline = blend(palette.color(QPalette::Window), outline, 0.5);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const qreal stroke = accent ? 1.5 : 1.0;
    painter->setPen(QPen(outline, stroke));
    painter->setBrush(fill);
    const QRectF rect
        = QRectF(option->rect).adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2);
    painter->drawRoundedRect(rect, 4, 4);
    painter->restore();
}

} // namespace

NotesStyle::NotesStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{ }

QColor NotesStyle::scrollHandleColour(const QPalette &palette, bool active)
{
    return blend(palette.color(QPalette::Active, QPalette::Base),
        palette.color(QPalette::Active, QPalette::Text), active ? 0.65 : 0.5);
}

int NotesStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
    QStyleHintReturn *returnData) const
{
    switch (hint) {
    case SH_DialogButtonBox_ButtonsHaveIcons:
        return 0;
    default:
        break;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

int NotesStyle::pixelMetric(
    PixelMetric metric, const QStyleOption *option, const QWidget *widget) const
{
    switch (metric) {
    case PM_IndicatorWidth:
    case PM_IndicatorHeight:
    case PM_ExclusiveIndicatorWidth:
    case PM_ExclusiveIndicatorHeight:
        // Grows with the text beside it.
        return qMax(14, 16 * FontScale::percent() / 100);
    case PM_ScrollBarExtent:
        return ScrollBarExtent;
    case PM_ScrollBarSliderMin:
        return ScrollHandleMinimum;
    default:
        break;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

QIcon NotesStyle::standardIcon(
    StandardPixmap icon, const QStyleOption *option, const QWidget *widget) const
{
    switch (icon) {
    case SP_DialogOkButton:
    case SP_DialogCancelButton:
    case SP_DialogYesButton:
    case SP_DialogNoButton:
    case SP_DialogApplyButton:
    case SP_DialogCloseButton:
    case SP_DialogSaveButton:
    case SP_DialogDiscardButton:
    case SP_DialogResetButton:
    case SP_DialogHelpButton:
    case SP_DialogOpenButton:
    case SP_DialogYesToAllButton:
    case SP_DialogNoToAllButton:
    case SP_DialogSaveAllButton:
    case SP_DialogAbortButton:
    case SP_DialogRetryButton:
    case SP_DialogIgnoreButton:
        return QIcon();
    default:
        break;
    }
    return QProxyStyle::standardIcon(icon, option, widget);
}

void NotesStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
    QPainter *painter, const QWidget *widget) const
{
    switch (element) {
    case PE_IndicatorCheckBox:
    case PE_IndicatorItemViewItemCheck:
        CheckboxMarkers::paintCheckBox(painter, option->rect,
            option->state & (State_On | State_NoChange), option->palette, isEnabled(option));
        return;
    case PE_IndicatorRadioButton:
        drawRadio(painter, option);
        return;
    case PE_PanelLineEdit:
        if (const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
            frame && frame->lineWidth > 0) {
            drawPanel(painter, option, option->palette.color(QPalette::Base),
                option->state & State_HasFocus);
            return;
        }
        break;
    case PE_FrameLineEdit:
        drawPanel(painter, option, Qt::transparent, option->state & State_HasFocus);
        return;
    case PE_PanelButtonCommand: {
        const QColor button = option->palette.color(QPalette::Button);
        const QColor text = option->palette.color(QPalette::ButtonText);
        QColor fill = button;
        if (option->state & (State_Sunken | State_On))
            fill = blend(button, text, 0.14);
        else if ((option->state & State_MouseOver) && isEnabled(option))
            fill = blend(button, text, 0.07);
        const auto *buttonOption = qstyleoption_cast<const QStyleOptionButton *>(option);
        const bool isDefault
            = buttonOption && (buttonOption->features & QStyleOptionButton::DefaultButton);
        drawPanel(painter, option, fill,
            isEnabled(option) && (isDefault || (option->state & State_HasFocus)));
        return;
    }
    case PE_FrameGroupBox: {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(blend(option->palette.color(QPalette::Window),
            option->palette.color(QPalette::WindowText), 0.3)));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        painter->restore();
        return;
    }
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void NotesStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
    QPainter *painter, const QWidget *widget) const
{
    if (control != CC_ScrollBar) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (!bar)
        return;
    painter->save();
    painter->fillRect(option->rect, option->palette.brush(QPalette::Base));
    if (bar->maximum > bar->minimum) {
        const bool active = (bar->activeSubControls & SC_ScrollBarSlider)
            && (bar->state & (State_MouseOver | State_Sunken));
        const bool horizontal = bar->orientation == Qt::Horizontal;
        const QRectF handle
            = QRectF(subControlRect(CC_ScrollBar, option, SC_ScrollBarSlider, widget))
                  .adjusted(horizontal ? 2 : 3, horizontal ? 3 : 2, horizontal ? -2 : -3,
                      horizontal ? -3 : -2);
        const qreal radius = (horizontal ? handle.height() : handle.width()) / 2;
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(scrollHandleColour(option->palette, active));
        painter->drawRoundedRect(handle, radius, radius);
    }
    painter->restore();
}

QRect NotesStyle::subControlRect(ComplexControl control, const QStyleOptionComplex *option,
    SubControl subControl, const QWidget *widget) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (control != CC_ScrollBar || !bar)
        return QProxyStyle::subControlRect(control, option, subControl, widget);

    // No arrow buttons: the groove is the whole bar and the handle moves along all of it.
    const QRect rect = option->rect;
    const bool horizontal = bar->orientation == Qt::Horizontal;
    const int length = horizontal ? rect.width() : rect.height();
    const qint64 range = qint64(bar->maximum) - bar->minimum;
    int handleLength = length;
    if (range > 0) {
        handleLength = int(qint64(bar->pageStep) * length / (range + bar->pageStep));
        handleLength = qBound(qMin(ScrollHandleMinimum, length), handleLength, length);
    }
    const int handleStart = sliderPositionFromValue(
        bar->minimum, bar->maximum, bar->sliderPosition, length - handleLength, bar->upsideDown);
    const auto span = [&](int start, int size) {
        return horizontal ? QRect(rect.x() + start, rect.y(), size, rect.height())
                          : QRect(rect.x(), rect.y() + start, rect.width(), size);
    };
    QRect result;
    switch (subControl) {
    case SC_ScrollBarGroove:
        result = rect;
        break;
    case SC_ScrollBarSlider:
        result = span(handleStart, handleLength);
        break;
    case SC_ScrollBarSubPage:
        result = span(0, handleStart);
        break;
    case SC_ScrollBarAddPage:
        result = span(handleStart + handleLength, length - handleStart - handleLength);
        break;
    default:
        return QRect();
    }
    return visualRect(option->direction, rect, result);
}

void NotesStyle::polish(QWidget *widget)
{
    QProxyStyle::polish(widget);
    if (auto *editor = qobject_cast<NoteEditor *>(widget))
        CheckboxMarkers::install(editor);
}
