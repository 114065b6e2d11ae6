#include "sharemembersdialog.h"

#include "accountclient.h"
#include "client.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QToolButton>
#include <QVBoxLayout>

namespace BrevAccount {

namespace {

constexpr int AvatarSize = 36;

QString orDefault(const QString &text, const QString &fallback)
{
    return text.isEmpty() ? fallback : text;
}

void usePlaceholderColour(QLabel *label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

QLabel *hintLabel(const QString &text, int topMargin, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setContentsMargins(0, topMargin, 0, 0);
    usePlaceholderColour(label);
    return label;
}

QLabel *boldLabel(const QString &text, int weight, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setWeight(QFont::Weight(weight));
    label->setFont(font);
    return label;
}

// "view" stays view; every other permission (an owner's, an empty one) is edit.
QString normalisedPermission(const QString &permission)
{
    return permission == QLatin1String("view") ? QStringLiteral("view") : QStringLiteral("edit");
}

QComboBox *permissionCombo(const QString &permission, QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QStringLiteral("permissionCombo"));
    combo->addItem(ShareMembersDialog::tr("Can edit"), QStringLiteral("edit"));
    combo->addItem(ShareMembersDialog::tr("Can view"), QStringLiteral("view"));
    combo->setCurrentIndex(combo->findData(normalisedPermission(permission)));
    return combo;
}

} // namespace

ShareMembersDialog::ShareMembersDialog(Client *client, SharingBackend *backend,
    const QString &entityId, const ShareDialogTexts &texts, QWidget *parent)
    : QDialog(parent), m_client(client), m_backend(backend), m_entityId(entityId), m_texts(texts)
{
    m_texts.accessHeader = orDefault(m_texts.accessHeader, tr("People with access"));
    m_texts.candidatesHeader = orDefault(m_texts.candidatesHeader, tr("Add people"));
    m_texts.emptyText = orDefault(m_texts.emptyText, tr("Not shared with anyone yet."));
    m_texts.noGroupText = orDefault(m_texts.noGroupText,
        tr("You are not in a group yet; create or join one in your account to share."));
    m_texts.allHaveAccessText
        = orDefault(m_texts.allHaveAccessText, tr("All group members already have access"));
    m_texts.shareButton = orDefault(m_texts.shareButton, tr("Share"));
    m_texts.removeTooltip = orDefault(m_texts.removeTooltip, tr("Remove access"));
    m_texts.closeButton = orDefault(m_texts.closeButton, tr("Close"));
    m_texts.removeConfirmTitle = orDefault(m_texts.removeConfirmTitle, tr("Remove access?"));
    m_texts.removeConfirmText
        = orDefault(m_texts.removeConfirmText, tr("%1 will no longer have access. Continue?"));

    setWindowTitle(m_texts.windowTitle);
    setMinimumSize(560, 560);
    resize(620, 620);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);

    if (!m_texts.heading.isEmpty()) {
        auto *heading = boldLabel(m_texts.heading, 600, this);
        heading->setObjectName(QStringLiteral("headingLabel"));
        heading->setWordWrap(true);
        QFont font = heading->font();
        font.setPointSizeF(font.pointSizeF() + 2);
        heading->setFont(font);
        layout->addWidget(heading);
    }
    if (!m_texts.description.isEmpty())
        layout->addWidget(hintLabel(m_texts.description, 0, this));

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("color: rgba(128,128,128,0.25);"));
    layout->addWidget(line);

    m_errorLabel = new QLabel(this);
    m_errorLabel->setObjectName(QStringLiteral("errorLabel"));
    m_errorLabel->setStyleSheet(QStringLiteral("QLabel { color: #b00020; padding: 4px 0; }"));
    m_errorLabel->setWordWrap(true);
    m_errorLabel->hide();
    layout->addWidget(m_errorLabel);

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto *content = new QWidget(scroll);
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->addWidget(boldLabel(m_texts.accessHeader, 600, content));
    m_accessLayout = new QVBoxLayout;
    m_accessLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->addLayout(m_accessLayout);
    contentLayout->addSpacing(8);
    contentLayout->addWidget(boldLabel(m_texts.candidatesHeader, 600, content));
    m_candidatesLayout = new QVBoxLayout;
    m_candidatesLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->addLayout(m_candidatesLayout);
    m_noGroupLabel = hintLabel(m_texts.noGroupText, 8, content);
    m_noGroupLabel->setObjectName(QStringLiteral("noGroupLabel"));
    m_noGroupLabel->hide();
    contentLayout->addWidget(m_noGroupLabel);
    m_allHaveAccessLabel = hintLabel(m_texts.allHaveAccessText, 8, content);
    m_allHaveAccessLabel->setObjectName(QStringLiteral("allHaveAccessLabel"));
    m_allHaveAccessLabel->hide();
    contentLayout->addWidget(m_allHaveAccessLabel);
    contentLayout->addStretch();
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *close = new QPushButton(m_texts.closeButton, this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    rebuildLists();
    refresh();
}

void ShareMembersDialog::refresh()
{
    loadGroupMembers();
    loadShares();
}

void ShareMembersDialog::loadGroupMembers()
{
    const quint64 request = ++m_groupRequest;
    QPointer<ShareMembersDialog> self(this);
    AccountClient *account = m_client ? m_client->accountClient() : nullptr;
    if (!account) {
        m_groupLoaded = true;
        rebuildLists();
        return;
    }
    account->getProfile([self, request, account](const Profile &profile) {
        if (!self || request != self->m_groupRequest)
            return;
        self->m_currentAccountId = profile.id;
        account->getGroup([self, request](const Group &group) {
            // The dialog may have been closed while the group was on its way.
            if (!self || request != self->m_groupRequest)
                return;
            self->m_members = group.members;
            self->m_groupLoaded = true;
            self->rebuildLists();
        });
    });
}

void ShareMembersDialog::loadShares()
{
    const quint64 request = ++m_sharesRequest;
    if (!m_backend)
        return;
    QPointer<ShareMembersDialog> self(this);
    m_backend->listMembers(m_entityId, [self, request](const QList<ShareMember> &members) {
        if (!self || request != self->m_sharesRequest)
            return;
        self->m_shares = members;
        self->m_sharesLoaded = true;
        self->rebuildLists();
    });
}

void ShareMembersDialog::shareWithMember(
    const QString &targetId, const QString &displayName, const QString &permission)
{
    if (m_busy || !m_backend)
        return;
    m_busy = true;
    m_errorLabel->hide();
    QPointer<ShareMembersDialog> self(this);
    m_backend->shareWith(m_entityId, targetId,
        normalisedPermission(permission.isEmpty() ? m_texts.permission : permission),
        [self, displayName](bool ok, const QString &error) {
            if (self)
                self->finishChange(
                    ok, error.isEmpty() ? tr("Could not share with %1.").arg(displayName) : error);
        });
}

void ShareMembersDialog::changePermission(
    const QString &targetId, const QString &displayName, const QString &permission)
{
    if (m_busy || !m_backend)
        return;
    m_busy = true;
    m_errorLabel->hide();
    QPointer<ShareMembersDialog> self(this);
    m_backend->shareWith(m_entityId, targetId, normalisedPermission(permission),
        [self, displayName](bool ok, const QString &error) {
            if (!self)
                return;
            self->finishChange(ok,
                error.isEmpty() ? tr("Could not change access for %1.").arg(displayName) : error);
            // The list shows what the server holds, also after a refused change.
            if (!ok)
                self->loadShares();
        });
}

void ShareMembersDialog::removeShare(const QString &targetId, const QString &displayName)
{
    if (m_busy || !m_backend)
        return;
    const auto answer = QMessageBox::question(this, m_texts.removeConfirmTitle,
        m_texts.removeConfirmText.arg(displayName), QMessageBox::Yes | QMessageBox::No,
        QMessageBox::No);
    // The question runs its own event loop: a share may have started, or the backend gone.
    if (answer != QMessageBox::Yes || m_busy || !m_backend)
        return;
    m_busy = true;
    m_errorLabel->hide();
    QPointer<ShareMembersDialog> self(this);
    m_backend->removeShare(m_entityId, targetId, [self, displayName](bool ok) {
        if (self)
            self->finishChange(ok, tr("Could not remove %1.").arg(displayName));
    });
}

void ShareMembersDialog::finishChange(bool ok, const QString &error)
{
    m_busy = false;
    if (!ok) {
        showError(error);
        return;
    }
    QPointer<ShareMembersDialog> self(this);
    emit sharingChanged();
    if (self)
        refresh();
}

void ShareMembersDialog::showError(const QString &text)
{
    m_errorLabel->setText(text);
    m_errorLabel->show();
}

const GroupMember *ShareMembersDialog::memberWithTarget(const QString &targetId) const
{
    for (const GroupMember &member : m_members) {
        if (m_backend && m_backend->shareTargetId(member) == targetId)
            return &member;
    }
    return nullptr;
}

void ShareMembersDialog::rebuildLists()
{
    // Rows may be in the middle of handling their own click; they go once control returns.
    for (QWidget *old : { m_accessRows, m_candidateRows }) {
        if (old) {
            old->hide();
            old->deleteLater();
        }
    }
    m_accessRows = new QWidget(m_accessLayout->parentWidget());
    m_accessRows->setObjectName(QStringLiteral("accessRows"));
    auto *accessLayout = new QVBoxLayout(m_accessRows);
    accessLayout->setContentsMargins(0, 0, 0, 0);
    m_accessLayout->addWidget(m_accessRows);
    m_candidateRows = new QWidget(m_candidatesLayout->parentWidget());
    m_candidateRows->setObjectName(QStringLiteral("candidateRows"));
    auto *candidatesLayout = new QVBoxLayout(m_candidateRows);
    candidatesLayout->setContentsMargins(0, 0, 0, 0);
    m_candidatesLayout->addWidget(m_candidateRows);

    QSet<QString> withAccess;
    for (const ShareMember &share : std::as_const(m_shares)) {
        if (share.permission == QLatin1String("owner"))
            continue;
        withAccess.insert(share.sharedWithAccountId);
        accessLayout->addWidget(shareRow(share));
    }
    if (withAccess.isEmpty()) {
        auto *label
            = hintLabel(m_sharesLoaded ? m_texts.emptyText : tr("Loading…"), 4, m_accessRows);
        label->setObjectName(QStringLiteral("accessHint"));
        accessLayout->addWidget(label);
    }

    if (!m_groupLoaded) {
        m_noGroupLabel->hide();
        m_allHaveAccessLabel->hide();
        auto *label = hintLabel(tr("Loading…"), 4, m_candidateRows);
        label->setObjectName(QStringLiteral("candidatesHint"));
        candidatesLayout->addWidget(label);
        return;
    }
    if (m_members.isEmpty()) {
        m_noGroupLabel->show();
        m_allHaveAccessLabel->hide();
        return;
    }
    QString selfTarget;
    for (const GroupMember &member : std::as_const(m_members)) {
        if (!m_currentAccountId.isEmpty() && member.accountId == m_currentAccountId && m_backend)
            selfTarget = m_backend->shareTargetId(member);
    }
    int candidates = 0;
    for (const GroupMember &member : std::as_const(m_members)) {
        const QString target = m_backend ? m_backend->shareTargetId(member) : member.accountId;
        if (target.isEmpty() || target == selfTarget || withAccess.contains(target))
            continue;
        candidatesLayout->addWidget(candidateRow(member));
        ++candidates;
    }
    m_noGroupLabel->hide();
    m_allHaveAccessLabel->setVisible(candidates == 0);
}

QLabel *ShareMembersDialog::avatar(
    const QString &displayName, const QString &email, bool faded) const
{
    auto *label = new QLabel(initials(displayName, email));
    label->setObjectName(QStringLiteral("avatar"));
    label->setFixedSize(AvatarSize, AvatarSize);
    label->setAlignment(Qt::AlignCenter);
    QColor colour = palette().color(QPalette::Highlight);
    if (faded)
        colour.setAlphaF(0.55f);
    // A translucent colour needs its alpha in the style sheet; "#rrggbb" would drop it.
    const QString colourText = faded ? colour.name(QColor::HexArgb) : colour.name();
    label->setStyleSheet(QStringLiteral("QLabel { background: %1; color: white; border-radius: "
                                        "%2px; font-weight: 600; }")
                             .arg(colourText)
                             .arg(AvatarSize / 2));
    QFont font = label->font();
    font.setPointSize(qMax(8, AvatarSize / 3));
    label->setFont(font);
    return label;
}

QWidget *ShareMembersDialog::shareRow(const ShareMember &share)
{
    QString name = share.sharedWithDisplayName;
    QString email = share.sharedWithEmail;
    if (const GroupMember *member = memberWithTarget(share.sharedWithAccountId)) {
        if (name.isEmpty())
            name = member->displayName;
        if (email.isEmpty())
            email = member->email;
    }
    const QString shown = name.isEmpty() ? email : name;

    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("shareRow"));
    row->setProperty("targetId", share.sharedWithAccountId);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(avatar(name, email, false));
    auto *texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addWidget(boldLabel(shown, 500, row));
    if (!name.isEmpty() && !email.isEmpty()) {
        auto *emailLabel = new QLabel(email, row);
        usePlaceholderColour(emailLabel);
        texts->addWidget(emailLabel);
    }
    layout->addLayout(texts, 1);

    auto *combo = permissionCombo(share.permission, row);
    const QString target = share.sharedWithAccountId;
    connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, target, shown] {
        changePermission(target, shown, combo->currentData().toString());
    });
    layout->addWidget(combo);

    auto *remove = new QToolButton(row);
    remove->setObjectName(QStringLiteral("removeButton"));
    remove->setText(QStringLiteral("×"));
    remove->setAutoRaise(true);
    remove->setFixedSize(28, 28);
    QFont font = remove->font();
    font.setPointSizeF(font.pointSizeF() + 4);
    remove->setFont(font);
    remove->setCursor(Qt::PointingHandCursor);
    remove->setToolTip(m_texts.removeTooltip);
    connect(
        remove, &QToolButton::clicked, this, [this, target, shown] { removeShare(target, shown); });
    layout->addWidget(remove);
    return row;
}

QWidget *ShareMembersDialog::candidateRow(const GroupMember &member)
{
    const QString shown = member.displayName.isEmpty() ? member.email : member.displayName;
    const QString target = m_backend ? m_backend->shareTargetId(member) : member.accountId;

    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("candidateRow"));
    row->setProperty("targetId", target);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(avatar(member.displayName, member.email, true));
    auto *texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addWidget(boldLabel(shown, 500, row));
    if (!member.displayName.isEmpty() && !member.email.isEmpty()) {
        auto *emailLabel = new QLabel(member.email, row);
        usePlaceholderColour(emailLabel);
        texts->addWidget(emailLabel);
    }
    layout->addLayout(texts, 1);

    auto *combo = permissionCombo(m_texts.permission, row);
    layout->addWidget(combo);
    auto *share = new QPushButton(m_texts.shareButton, row);
    share->setObjectName(QStringLiteral("shareButton"));
    share->setCursor(Qt::PointingHandCursor);
    connect(share, &QPushButton::clicked, this, [this, combo, target, shown] {
        shareWithMember(target, shown, combo->currentData().toString());
    });
    layout->addWidget(share);
    return row;
}

QString ShareMembersDialog::initials(const QString &displayName, const QString &email)
{
    const QStringList parts = displayName.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString result;
    if (parts.size() >= 2)
        result = parts.first().left(1) + parts.last().left(1);
    else if (!displayName.trimmed().isEmpty())
        result = displayName.trimmed().left(1);
    else if (!email.isEmpty())
        result = email.left(1);
    else
        result = QStringLiteral("?");
    return result.toUpper();
}

} // namespace BrevAccount
