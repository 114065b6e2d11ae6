#include "findbar.h"

#include "documentpalette.h"
#include "screenhelpers.h"
#include "searchquery.h"
#include "searchtext.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

FindBar::FindBar(QWidget *parent)
    : QWidget(parent),
      m_field(new QLineEdit(this)),
      m_countLabel(new QLabel(this)),
      m_previousButton(new QToolButton(this)),
      m_nextButton(new QToolButton(this)),
      m_closeButton(new QToolButton(this))
{
    setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 6, 8, 6);
    layout->setSpacing(4);

    m_field->setPlaceholderText(tr("Find in note"));
    m_field->setAccessibleName(tr("Find in note"));
    m_field->setClearButtonEnabled(true);
    ScreenHelpers::nameClearButton(m_field);
    m_field->setMaximumWidth(320);
    m_field->installEventFilter(this);
    m_countLabel->setMinimumWidth(70);
    m_countLabel->setAlignment(Qt::AlignCenter);

    // The arrows and the cross mean nothing read aloud: each button also gets a name in words.
    const auto setUp
        = [](QToolButton *button, const QString &glyph, const QString &tip, const QString &name) {
              button->setAutoRaise(true);
              button->setText(glyph);
              button->setToolTip(tip);
              button->setAccessibleName(name);
              button->setFocusPolicy(Qt::NoFocus);
              button->setFixedSize(28, 26);
          };
    setUp(m_previousButton, QStringLiteral("\u2191"), tr("Previous match (Shift+Enter)"),
        tr("Previous match"));
    setUp(m_nextButton, QStringLiteral("\u2193"), tr("Next match (Enter)"), tr("Next match"));
    setUp(m_closeButton, QStringLiteral("\u00D7"), tr("Close (Esc)"), tr("Close find bar"));

    layout->addWidget(m_field, 1);
    layout->addWidget(m_countLabel);
    layout->addWidget(m_previousButton);
    layout->addWidget(m_nextButton);
    layout->addStretch(0);
    layout->addWidget(m_closeButton);

    m_researchTimer.setSingleShot(true);
    m_researchTimer.setInterval(200);
    connect(&m_researchTimer, &QTimer::timeout, this, [this] {
        const int keep = m_current;
        search();
        if (keep >= 0 && keep < m_matches.size()) {
            m_current = keep;
            showMatches();
        }
    });
    connect(m_field, &QLineEdit::textChanged, this, &FindBar::search);
    connect(m_previousButton, &QToolButton::clicked, this, &FindBar::findPrevious);
    connect(m_nextButton, &QToolButton::clicked, this, &FindBar::findNext);
    connect(m_closeButton, &QToolButton::clicked, this, &FindBar::closeBar);
    updateStyle();
    hide();
}

void FindBar::setEditor(QTextEdit *editor)
{
    if (m_editor)
        disconnect(m_editor, nullptr, this, nullptr);
    m_editor = editor;
    if (!m_editor)
        return;
    connect(m_editor, &QTextEdit::textChanged, this, [this] {
        if (isVisible())
            m_researchTimer.start();
    });
}

void FindBar::openBar()
{
    if (m_editor) {
        const QString selected = m_editor->textCursor().selectedText();
        if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator))
            m_field->setText(selected);
    }
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
    search();
}

void FindBar::showSearchMatches(const QString &typed)
{
    m_searchText = typed.trimmed();
    {
        const QSignalBlocker blocker(m_field);
        m_field->setText(m_searchText);
    }
    show();
    search();
}

void FindBar::closeBar()
{
    m_researchTimer.stop();
    m_searchText.clear();
    hide();
    m_matches.clear();
    m_current = -1;
    if (m_editor) {
        m_editor->setExtraSelections({});
        m_editor->setFocus(Qt::OtherFocusReason);
    }
}

void FindBar::findNext()
{
    step(1);
}

void FindBar::findPrevious()
{
    step(-1);
}

QString FindBar::countText() const
{
    return m_countLabel->text();
}

void FindBar::search()
{
    m_matches.clear();
    m_current = -1;
    const QString text = m_field->text();
    if (!m_editor || text.isEmpty()) {
        showMatches();
        return;
    }
    QTextDocument *document = m_editor->document();
    if (!m_searchText.isEmpty() && text == m_searchText) {
        // Raw text positions are document positions, one character per block separator.
        const QList<TextMatch> found
            = findMatches(document->toRawText(), searchQueryFromInput(m_searchText).highlights);
        for (const TextMatch &match : found) {
            if (m_matches.size() >= MaxMatches)
                break;
            QTextCursor cursor(document);
            cursor.setPosition(int(match.start));
            cursor.setPosition(int(match.start + match.length), QTextCursor::KeepAnchor);
            m_matches.append(cursor);
        }
    } else {
        m_searchText.clear();
    }
    QTextCursor found(document);
    while (m_searchText.isEmpty() && m_matches.size() < MaxMatches) {
        found = document->find(text, found);
        if (found.isNull())
            break;
        m_matches.append(found);
    }
    // The first match at or after the cursor, so finding starts where the user is.
    const int from = m_editor->textCursor().selectionStart();
    for (int i = 0; i < m_matches.size(); ++i) {
        if (m_matches.at(i).selectionStart() >= from) {
            m_current = i;
            break;
        }
    }
    if (m_current < 0 && !m_matches.isEmpty())
        m_current = 0;
    showMatches();
}

void FindBar::step(int direction)
{
    if (m_matches.isEmpty())
        return;
    const int count = int(m_matches.size());
    m_current = ((m_current < 0 ? 0 : m_current + direction) % count + count) % count;
    showMatches();
}

void FindBar::showMatches()
{
    const bool hasText = !m_field->text().isEmpty();
    m_previousButton->setEnabled(!m_matches.isEmpty());
    m_nextButton->setEnabled(!m_matches.isEmpty());
    if (!hasText)
        m_countLabel->clear();
    else if (m_matches.isEmpty())
        m_countLabel->setText(tr("No matches"));
    else
        m_countLabel->setText(tr("%1 of %2").arg(m_current + 1).arg(m_matches.size()));
    updateStyle();
    if (!m_editor)
        return;

    const bool dark = isDarkPalette();
    QTextCharFormat all;
    all.setBackground(dark ? QColor(0x5C, 0x4B, 0x1A) : QColor(0xFF, 0xEB, 0x99));
    QTextCharFormat current;
    current.setBackground(dark ? QColor(0xC7, 0x8A, 0x1E) : QColor(0xFF, 0xB7, 0x4D));
    if (!dark)
        current.setForeground(QColor(0x21, 0x21, 0x21));

    QList<QTextEdit::ExtraSelection> selections;
    selections.reserve(m_matches.size());
    for (int i = 0; i < m_matches.size(); ++i)
        selections.append({ m_matches.at(i), i == m_current ? current : all });
    m_editor->setExtraSelections(selections);
    if (m_current >= 0) {
        QTextCursor cursor = m_editor->textCursor();
        cursor.setPosition(m_matches.at(m_current).selectionStart());
        cursor.setPosition(m_matches.at(m_current).selectionEnd(), QTextCursor::KeepAnchor);
        m_editor->setTextCursor(cursor);
        m_editor->ensureCursorVisible();
    }
}

void FindBar::updateStyle()
{
    const QPalette palette = QApplication::palette();
    const bool dark = isDarkPalette();
    const QColor border = dark ? palette.color(QPalette::Window).lighter(160)
                               : palette.color(QPalette::Window).darker(112);
    const bool noMatch = !m_field->text().isEmpty() && m_matches.isEmpty();
    const QString style
        = QStringLiteral("FindBar { border-bottom: 1px solid %1; }"
                         "QLineEdit { padding: 3px 6px; border: 1px solid %2; "
                         "border-radius: 4px; background: %4; }"
                         "QLabel { color: %3; }"
                         "QToolButton { font-size: 15px; color: %5; border: none; "
                         "border-radius: 4px; }"
                         "QToolButton:hover { background: %1; }"
                         "QToolButton:disabled { color: %3; }")
              .arg(border.name(), noMatch ? QStringLiteral("#E07A6B") : border.name(),
                  palette.color(QPalette::PlaceholderText).name(),
                  palette.color(QPalette::Base).name(), palette.color(QPalette::WindowText).name());
    // Setting a style sheet re-polishes the bar; only do it when something changed.
    if (style != styleSheet())
        setStyleSheet(style);
}

bool FindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            closeBar();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                findPrevious();
            else
                findNext();
            // Stepping selects the match in the editor; typing goes on in the field.
            m_field->setFocus();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FindBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        updateStyle();
    QWidget::changeEvent(event);
}
