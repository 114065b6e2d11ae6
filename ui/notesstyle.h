#pragma once

#include <QProxyStyle>

// The application's widget style: Fusion, flattened to match the main window in both palettes.
// Dialog buttons carry no stock icons; check boxes, radio buttons, fields and push buttons are
// drawn with outlines that keep 3:1 contrast on the dark palette; scroll bars are thin rails
// without arrow buttons; check-box indicators grow with the font scale. Note editors get their
// checkbox items drawn as ticked boxes (CheckboxMarkers) when the style polishes them.
class NotesStyle final : public QProxyStyle
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotesStyle)

public:
    NotesStyle();

    // The colour of a scroll-bar handle, resting or under the mouse.
    static QColor scrollHandleColour(const QPalette &palette, bool active);

    int styleHint(StyleHint hint, const QStyleOption *option = nullptr,
        const QWidget *widget = nullptr, QStyleHintReturn *returnData = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
        const QWidget *widget = nullptr) const override;
    QIcon standardIcon(StandardPixmap icon, const QStyleOption *option = nullptr,
        const QWidget *widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
        const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
        QPainter *painter, const QWidget *widget = nullptr) const override;
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option,
        SubControl subControl, const QWidget *widget = nullptr) const override;
    void polish(QWidget *widget) override;
    using QProxyStyle::polish;
};
