#pragma once

#include <QObject>
#include <QPointer>

class NoteEditor;

// Keeps an editor's text in a centred column of readable width (about 80 characters of its
// body font) while switched on, by margins beside its viewport; the scroll bar stays at the
// editor's edge. Off, the text runs the editor's full width again.
class ReadableColumn final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReadableColumn)

public:
    static constexpr int ColumnCharacters = 80;

    explicit ReadableColumn(NoteEditor *editor);

    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // The side padding for the editor's current width and font; 0 when off or narrow.
    int sidePadding() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void update();

    QPointer<NoteEditor> m_editor;
    bool m_enabled = false;
    int m_applied = -1;
};
