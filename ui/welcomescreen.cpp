#include "welcomescreen.h"

#include "documentpalette.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

WelcomeScreen::WelcomeScreen(QWidget *parent)
    : QWidget(parent),
      m_iconLabel(new QLabel(this)),
      m_titleLabel(new QLabel(tr("Brevaro Notes"), this)),
      m_hintLabel(new QLabel(this)),
      m_shortcutLabel(new QLabel(this)),
      m_newNoteButton(new QPushButton(tr("New Note"), this)),
      m_accountLabel(new QLabel(this)),
      m_signInButton(new QPushButton(tr("Sign In…"), this)),
      m_continueButton(new QPushButton(tr("Continue without an account"), this))
{
    setAttribute(Qt::WA_StyledBackground);
    setObjectName(QStringLiteral("welcomeScreen"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(0);

    const QIcon icon(QStringLiteral(":/icons/app-icon.png"));
    m_iconLabel->setPixmap(icon.pixmap(96, 96));
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_titleLabel->setObjectName(QStringLiteral("welcomeTitle"));
    // Two short lines rather than word wrap: a wrapped label centred in a column is given the
    // height of one line.
    m_hintLabel->setText(tr("Capture a thought before it slips away.\nEvery change is saved as "
                            "you type, and search finds any note again."));
    m_hintLabel->setAlignment(Qt::AlignCenter);
    m_hintLabel->setObjectName(QStringLiteral("welcomeHint"));
    m_shortcutLabel->setText(
        tr("or press %1 anywhere")
            .arg(QKeySequence(QStringLiteral("Ctrl+N")).toString(QKeySequence::NativeText)));
    m_shortcutLabel->setAlignment(Qt::AlignCenter);
    m_shortcutLabel->setObjectName(QStringLiteral("welcomeShortcut"));
    m_newNoteButton->setObjectName(QStringLiteral("welcomeNewNote"));
    m_newNoteButton->setCursor(Qt::PointingHandCursor);
    m_newNoteButton->setDefault(true);
    m_newNoteButton->setMinimumWidth(160);

    layout->addStretch(3);
    layout->addWidget(m_iconLabel, 0, Qt::AlignHCenter);
    layout->addSpacing(20);
    layout->addWidget(m_titleLabel, 0, Qt::AlignHCenter);
    layout->addSpacing(10);
    layout->addWidget(m_hintLabel, 0, Qt::AlignHCenter);
    layout->addSpacing(28);
    layout->addWidget(m_newNoteButton, 0, Qt::AlignHCenter);
    layout->addSpacing(10);
    layout->addWidget(m_shortcutLabel, 0, Qt::AlignHCenter);

    m_accountLabel->setAlignment(Qt::AlignCenter);
    m_accountLabel->setObjectName(QStringLiteral("welcomeAccountHint"));
    m_signInButton->setObjectName(QStringLiteral("welcomeSignIn"));
    m_signInButton->setCursor(Qt::PointingHandCursor);
    m_continueButton->setObjectName(QStringLiteral("welcomeContinue"));
    m_continueButton->setCursor(Qt::PointingHandCursor);
    m_continueButton->setFlat(true);
    auto *accountRow = new QHBoxLayout;
    accountRow->setSpacing(12);
    accountRow->addStretch(1);
    accountRow->addWidget(m_signInButton);
    accountRow->addWidget(m_continueButton);
    accountRow->addStretch(1);
    layout->addSpacing(40);
    layout->addWidget(m_accountLabel, 0, Qt::AlignHCenter);
    layout->addSpacing(12);
    layout->addLayout(accountRow);
    layout->addStretch(4);
    setSigningIn(false);

    connect(m_newNoteButton, &QPushButton::clicked, this, &WelcomeScreen::newNoteRequested);
    connect(m_signInButton, &QPushButton::clicked, this, &WelcomeScreen::signInRequested);
    connect(m_continueButton, &QPushButton::clicked, this, &WelcomeScreen::dismissRequested);
    applyStyle();
}

void WelcomeScreen::setSigningIn(bool signingIn)
{
    m_accountLabel->setText(signingIn
            ? tr("Finish signing in in your web browser.\nThis page changes once you are "
                 "signed in.")
            : tr("Sign in with your Brevaro account to sync your notes across your devices."));
}

QString WelcomeScreen::accountText() const
{
    return m_accountLabel->text();
}

void WelcomeScreen::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        applyStyle();
    QWidget::changeEvent(event);
}

void WelcomeScreen::applyStyle()
{
    if (m_styling)
        return;
    m_styling = true;
    const QPalette palette = QApplication::palette();
    const bool dark = isDarkPalette();
    const QColor accent = palette.color(QPalette::Highlight);
    const QColor accentHover = dark ? accent.lighter(115) : accent.darker(115);
    const QString style
        = QStringLiteral(
            "#welcomeScreen { background: %1; }"
            "#welcomeTitle { font-family: 'IBM Plex Sans'; font-size: 26px; font-weight: 600; "
            "color: %2; }"
            "#welcomeHint, #welcomeAccountHint { font-family: 'IBM Plex Sans'; font-size: 14px; "
            "color: %3; }"
            "#welcomeShortcut { font-family: 'IBM Plex Sans'; font-size: 12px; color: %4; }"
            "#welcomeNewNote { font-family: 'IBM Plex Sans'; font-size: 14px; font-weight: 500; "
            "color: %5; background: %6; border: none; border-radius: 6px; "
            "padding: 9px 22px; }"
            "#welcomeNewNote:hover { background: %7; }"
            "#welcomeSignIn { font-family: 'IBM Plex Sans'; font-size: 13px; color: %5; "
            "background: %6; border: none; border-radius: 6px; padding: 7px 18px; }"
            "#welcomeSignIn:hover { background: %7; }"
            "#welcomeContinue { font-family: 'IBM Plex Sans'; font-size: 13px; color: %6; "
            "background: transparent; border: none; padding: 7px 8px; }"
            "#welcomeContinue:hover { text-decoration: underline; }")
              .arg(palette.color(QPalette::Base).name(), palette.color(QPalette::Text).name(),
                  DocumentPalette::secondaryTextColor().name(),
                  palette.color(QPalette::PlaceholderText).name(),
                  palette.color(QPalette::HighlightedText).name(), accent.name(),
                  accentHover.name());
    if (style != styleSheet())
        setStyleSheet(style);
    m_styling = false;
}
