#include "readablecolumn.h"

#include "noteeditor.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QTextDocument>

ReadableColumn::ReadableColumn(NoteEditor *editor) : QObject(editor), m_editor(editor)
{
    editor->installEventFilter(this);
    // The margins beside the viewport show the editor's own background: the page colour.
    editor->setBackgroundRole(QPalette::Base);
    editor->setAutoFillBackground(true);
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
    if (watched == m_editor
        && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange))
        update();
    return QObject::eventFilter(watched, event);
}

void ReadableColumn::update()
{
    const int padding = sidePadding();
    if (!m_editor || padding == m_applied)
        return;
    m_applied = padding;
    m_editor->setSideMargins(padding);
}
