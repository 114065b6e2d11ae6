#include "readablecolumn.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QTextDocument>
#include <QTextEdit>

ReadableColumn::ReadableColumn(QTextEdit *editor) : QObject(editor), m_editor(editor)
{
    editor->installEventFilter(this);
}

void ReadableColumn::setEnabled(bool enabled)
{
    m_enabled = enabled;
    update();
}

int ReadableColumn::sidePadding() const
{
    if (!m_enabled || !m_editor)
        return 0;
    const QFontMetricsF metrics(m_editor->document()->defaultFont());
    const qreal column = metrics.averageCharWidth() * ColumnCharacters
        + 2 * m_editor->document()->documentMargin();
    return qMax(0, int((m_editor->width() - column) / 2));
}

bool ReadableColumn::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_editor) {
        if (event->type() == QEvent::Resize || event->type() == QEvent::FontChange)
            update();
        // The style sheet names the palette's base colour; a theme switch needs it set again.
        if (event->type() == QEvent::ApplicationPaletteChange && m_applied > 0) {
            m_applied = -1;
            update();
        }
    }
    return QObject::eventFilter(watched, event);
}

void ReadableColumn::update()
{
    const int padding = sidePadding();
    if (!m_editor || padding == m_applied)
        return;
    m_applied = padding;
    m_editor->setStyleSheet(padding > 0
            ? QStringLiteral(
                "QTextEdit { padding-left: %1px; padding-right: %1px; background: palette(base); }")
                  .arg(padding)
            : QString());
}
