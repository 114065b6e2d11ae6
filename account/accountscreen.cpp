#include "accountscreen.h"

#include "accountclient.h"
#include "authclient.h"
#include "client.h"
#include "jwt.h"
#include "tokenmanager.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace BrevAccount {

namespace {

constexpr int DelayedRefreshMs = 500;

QString trScreen(const char *text)
{
    return QCoreApplication::translate("BrevAccount::AccountScreen", text);
}

void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *widget = item->widget())
            widget->deleteLater();
        if (QLayout *child = item->layout())
            clearLayout(child);
        delete item;
    }
}

QLabel *secondaryLabel(const QString &text, QWidget *parent, int pointDelta = 0)
{
    auto *label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    if (pointDelta != 0) {
        QFont font = label->font();
        font.setPointSize(qMax(1, font.pointSize() + pointDelta));
        label->setFont(font);
    }
    return label;
}

QLabel *badge(const QString &text, const char *colour, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: %1; font-weight: 600;").arg(QLatin1String(colour)));
    return label;
}

// A section header: its title in bold and a description line below.
void addSection(QVBoxLayout *layout, const QString &title, const QString &description)
{
    auto *heading = new QLabel(title);
    QFont font = heading->font();
    font.setWeight(QFont::DemiBold);
    heading->setFont(font);
    layout->addWidget(heading);
    if (!description.isEmpty()) {
        auto *text = secondaryLabel(description, nullptr);
        text->setWordWrap(true);
        layout->addWidget(text);
    }
}

// A row indented under its section.
QHBoxLayout *addRow(QVBoxLayout *layout)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(12, 0, 0, 0);
    layout->addLayout(row);
    return row;
}

QVBoxLayout *textColumn(QHBoxLayout *row)
{
    auto *column = new QVBoxLayout;
    column->setSpacing(2);
    row->addLayout(column, 1);
    return column;
}

} // namespace

QString sessionTimeText(const QDateTime &time, const QDateTime &now)
{
    if (!time.isValid())
        return trScreen("Unknown");
    const qint64 secs = time.secsTo(now);
    if (secs < 60)
        return trScreen("Active now");
    if (secs < 3600)
        return trScreen("%1m ago").arg(secs / 60);
    if (secs <= 86399)
        return trScreen("%1h ago").arg(secs / 3600);
    if (secs <= 604799)
        return trScreen("%1d ago").arg(secs / 86400);
    return QLocale::c().toString(time.toLocalTime().date(), QStringLiteral("MMM d, yyyy"));
}

AccountScreen::AccountScreen(Client *client, QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_client(client),
      m_categories(new QListWidget(this)),
      m_pages(new QStackedWidget(this)),
      m_status(new QLabel(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Brevaro Account"));
    resize(720, 560);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_categories->setObjectName(QStringLiteral("accountCategories"));
    m_categories->setFixedWidth(180);
    m_categories->setFrameShape(QFrame::NoFrame);
    // Tab reaches the categories and the arrows switch pages; a click leaves the focus alone.
    m_categories->setFocusPolicy(Qt::TabFocus);
    m_categories->setAccessibleName(tr("Categories"));
    m_categories->setSpacing(2);
    const QPalette pal = palette();
    QColor background = pal.color(QPalette::AlternateBase);
    const QColor window = pal.color(QPalette::Window);
    if (!background.isValid())
        background = window.lightness() < 128 ? window.lighter(115) : window.lighter(97);
    const QColor hover = window.lightness() > 127 ? window.darker(105) : window.lighter(135);
    m_categories->setStyleSheet(
        QStringLiteral("QListWidget { background: %1; }"
                       "QListWidget::item { padding: 6px 12px; }"
                       "QListWidget::item:hover { background: %2; }"
                       "QListWidget::item:selected { background: %3; color: %4; }")
            .arg(background.name(), hover.name(), pal.color(QPalette::Highlight).name(),
                pal.color(QPalette::HighlightedText).name()));
    for (const char *name : { "Profile", "Group", "Devices", "Security", "Data & Privacy" })
        m_categories->addItem(tr(name));
    layout->addWidget(m_categories);

    auto *right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addWidget(m_pages, 1);
    m_status->setObjectName(QStringLiteral("accountStatus"));
    m_status->setFixedHeight(24);
    QFont statusFont = m_status->font();
    statusFont.setPointSize(qMax(7, statusFont.pointSize() - 1));
    m_status->setFont(statusFont);
    right->addWidget(m_status);
    layout->addLayout(right, 1);

    m_pages->addWidget(createProfileTab());
    m_pages->addWidget(createGroupTab());
    m_pages->addWidget(createDevicesTab());
    m_pages->addWidget(createSecurityTab());
    m_pages->addWidget(createPrivacyTab());
    connect(
        m_categories, &QListWidget::currentRowChanged, m_pages, &QStackedWidget::setCurrentIndex);
    m_categories->setCurrentRow(0);

    // Like the program's other windows of its kind, Escape closes it.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void AccountScreen::showCategory(int index)
{
    m_categories->setCurrentRow(index);
}

namespace {

// Every page: margins 24, spacing 8, its title 4 points larger and 12 pixels of space. The
// body scrolls when a group or session list grows long.
QWidget *makePage(const QString &title, QVBoxLayout **layoutOut)
{
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(8);
    auto *heading = new QLabel(title, page);
    QFont font = heading->font();
    font.setPointSize(font.pointSize() + 4);
    font.setWeight(QFont::DemiBold);
    heading->setFont(font);
    layout->addWidget(heading);
    layout->addSpacing(12);
    scroll->setWidget(page);
    *layoutOut = layout;
    return scroll;
}

QVBoxLayout *addBody(QVBoxLayout *page)
{
    auto *body = new QVBoxLayout;
    body->setSpacing(8);
    page->addLayout(body);
    page->addStretch(1);
    return body;
}

} // namespace

QWidget *AccountScreen::createProfileTab()
{
    QVBoxLayout *layout = nullptr;
    QWidget *page = makePage(tr("Profile"), &layout);
    addSection(layout, tr("Personal Information"), QString());
    QHBoxLayout *row = addRow(layout);
    QVBoxLayout *column = textColumn(row);
    m_nameLabel = new QLabel(page);
    m_nameLabel->setObjectName(QStringLiteral("profileNameLabel"));
    m_emailLabel = secondaryLabel(QString(), page);
    m_emailLabel->setObjectName(QStringLiteral("profileEmailLabel"));
    column->addWidget(m_nameLabel);
    column->addWidget(m_emailLabel);
    auto *edit = new QPushButton(tr("Edit Display Name"), page);
    auto *signOut = new QPushButton(tr("Sign Out"), page);
    signOut->setObjectName(QStringLiteral("signOutButton"));
    row->addWidget(edit);
    row->addWidget(signOut);
    connect(edit, &QPushButton::clicked, this, &AccountScreen::editDisplayName);
    connect(signOut, &QPushButton::clicked, this, &AccountScreen::logoutRequested);

    layout->addSpacing(16);
    auto *line = new QFrame(page);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    addSection(layout, tr("Password"), tr("Change your account password."));
    auto *change = new QPushButton(tr("Change Password"), page);
    addRow(layout)->addWidget(change, 0, Qt::AlignLeft);
    connect(change, &QPushButton::clicked, this, &AccountScreen::changePassword);
    layout->addStretch(1);
    return page;
}

QWidget *AccountScreen::createGroupTab()
{
    QVBoxLayout *layout = nullptr;
    QWidget *page = makePage(tr("Group"), &layout);
    m_groupBody = addBody(layout);
    return page;
}

QWidget *AccountScreen::createDevicesTab()
{
    QVBoxLayout *layout = nullptr;
    QWidget *page = makePage(tr("Devices"), &layout);
    addSection(layout, tr("Registered Devices"), tr("Devices that have synced with your account."));
    m_devicesBody = addBody(layout);
    return page;
}

QWidget *AccountScreen::createSecurityTab()
{
    QVBoxLayout *layout = nullptr;
    QWidget *page = makePage(tr("Security"), &layout);
    addSection(layout, tr("Active Sessions"), tr("Sessions currently signed in to your account."));
    m_sessionsBody = addBody(layout);
    return page;
}

QWidget *AccountScreen::createPrivacyTab()
{
    QVBoxLayout *layout = nullptr;
    QWidget *page = makePage(tr("Data & Privacy"), &layout);
    addSection(layout, tr("Danger Zone"),
        tr("Permanently delete your account. This cannot be undone after 30 days."));
    auto *button = new QPushButton(tr("Delete Account"), page);
    button->setObjectName(QStringLiteral("deleteAccountButton"));
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: #C62828; border: none;  border-radius: 4px; "
        "padding: 6px 16px; font-weight: 600; }QPushButton:hover { background: #B71C1C; }"
        "QPushButton:disabled { color: #EEEEEE; background: #9E9E9E; }"));
    addRow(layout)->addWidget(button, 0, Qt::AlignLeft);
    if (isGroupOwner()) {
        button->setEnabled(false);
        auto *note = secondaryLabel(tr("You are the group owner. Transfer ownership or remove all "
                                       "members before deleting your account."),
            page);
        note->setWordWrap(true);
        addRow(layout)->addWidget(note);
    }
    connect(button, &QPushButton::clicked, this, &AccountScreen::deleteAccount);
    layout->addStretch(1);
    return page;
}

bool AccountScreen::isGroupOwner() const
{
    return jwtBrevaroClaim(m_client->tokenManager()->accessToken(), QStringLiteral("role"))
        == QLatin1String("owner");
}

void AccountScreen::showSuccess(const QString &message)
{
    m_status->setStyleSheet(QStringLiteral("color: #2E7D32; padding: 4px;"));
    m_status->setText(message);
    const int generation = ++m_statusGeneration;
    QTimer::singleShot(3000, this, [this, generation] {
        if (generation == m_statusGeneration)
            m_status->clear();
    });
}

void AccountScreen::showError(const QString &message)
{
    m_status->setStyleSheet(QStringLiteral("color: #C62828; padding: 4px;"));
    m_status->setText(message);
    const int generation = ++m_statusGeneration;
    QTimer::singleShot(4000, this, [this, generation] {
        if (generation == m_statusGeneration)
            m_status->clear();
    });
}

void AccountScreen::refreshAll()
{
    refreshProfile();
    refreshGroup();
    refreshDevices();
    refreshSessions();
}

void AccountScreen::refreshProfile()
{
    QPointer<AccountScreen> self(this);
    m_client->authClient()->fetchCurrentUser([self](const User &user) {
        if (!self)
            return;
        self->m_displayName = user.displayName;
        self->m_nameLabel->setText(user.displayName.isEmpty() ? tr("(not set)") : user.displayName);
        self->m_emailLabel->setText(user.email);
    });
}

void AccountScreen::refreshGroup()
{
    QPointer<AccountScreen> self(this);
    m_client->accountClient()->getGroup([self](const Group &group) {
        if (self)
            self->showGroup(group);
    });
}

void AccountScreen::refreshDevices()
{
    QPointer<AccountScreen> self(this);
    m_client->accountClient()->getDevices([self](const QList<Device> &devices) {
        if (self)
            self->showDevices(devices);
    });
}

void AccountScreen::refreshSessions()
{
    QPointer<AccountScreen> self(this);
    m_client->authClient()->listSessions([self](const QList<Session> &sessions) {
        if (self)
            self->showSessions(sessions);
    });
}

void AccountScreen::showGroup(const Group &group)
{
    clearLayout(m_groupBody);
    if (group.id.isEmpty()) {
        addSection(m_groupBody, tr("No Group"),
            tr("You're not part of a group. The group owner can invite you, or you can "
               "join with an invite code."));
        auto *join = new QPushButton(tr("Join with Invite Code"));
        addRow(m_groupBody)->addWidget(join, 0, Qt::AlignLeft);
        connect(join, &QPushButton::clicked, this, &AccountScreen::joinGroup);
        return;
    }
    const bool owner = isGroupOwner();
    addSection(m_groupBody, group.name,
        tr("%1 of %2 seats used").arg(group.members.size()).arg(group.maxSeats));
    addSection(m_groupBody, tr("Members"), QString());
    for (const GroupMember &member : group.members) {
        const QString shown = member.displayName.isEmpty() ? member.email : member.displayName;
        QHBoxLayout *row = addRow(m_groupBody);
        QVBoxLayout *column = textColumn(row);
        column->addWidget(new QLabel(shown));
        if (!member.email.isEmpty() && member.email != shown)
            column->addWidget(secondaryLabel(member.email, nullptr, -1));
        if (member.role == QLatin1String("owner")) {
            row->addWidget(badge(tr("Owner"), "#00897B", nullptr));
        } else if (owner) {
            auto *remove = new QPushButton(tr("Remove"));
            row->addWidget(remove);
            const QString accountId = member.accountId;
            connect(remove, &QPushButton::clicked, this, [this, shown, accountId] {
                const auto answer = QMessageBox::question(this, tr("Remove Member"),
                    tr("Remove %1 from the group?").arg(shown), QMessageBox::Yes | QMessageBox::No,
                    QMessageBox::No);
                if (answer != QMessageBox::Yes)
                    return;
                m_client->accountClient()->removeMember(accountId);
                showSuccess(tr("%1 removed.").arg(shown));
                QTimer::singleShot(DelayedRefreshMs, this, &AccountScreen::refreshGroup);
            });
        }
    }
    if (owner) {
        if (!group.pendingInvitations.isEmpty()) {
            addSection(m_groupBody, tr("Pending Invitations"), QString());
            for (const GroupInvitation &invitation : group.pendingInvitations) {
                QHBoxLayout *row = addRow(m_groupBody);
                row->addWidget(new QLabel(invitation.invitedEmail.isEmpty()
                                       ? tr("Invite code: %1").arg(invitation.inviteCode)
                                       : invitation.invitedEmail),
                    1);
                auto *revoke = new QPushButton(tr("Revoke"));
                row->addWidget(revoke);
                const QString id = invitation.id;
                connect(revoke, &QPushButton::clicked, this, [this, id] {
                    m_client->accountClient()->revokeInvitation(id);
                    showSuccess(tr("Invitation revoked."));
                    QTimer::singleShot(DelayedRefreshMs, this, &AccountScreen::refreshGroup);
                });
            }
        }
        addSection(m_groupBody, tr("Invite Members"), QString());
        QHBoxLayout *row = addRow(m_groupBody);
        auto *byEmail = new QPushButton(tr("Invite by Email"));
        auto *code = new QPushButton(tr("Generate Invite Code"));
        row->addWidget(byEmail);
        row->addWidget(code);
        row->addStretch(1);
        connect(byEmail, &QPushButton::clicked, this, &AccountScreen::inviteByEmail);
        connect(code, &QPushButton::clicked, this, &AccountScreen::generateInviteCode);
    } else {
        auto *leave = new QPushButton(tr("Leave Group"));
        addRow(m_groupBody)->addWidget(leave, 0, Qt::AlignLeft);
        connect(leave, &QPushButton::clicked, this, &AccountScreen::leaveGroup);
    }
}

void AccountScreen::showDevices(const QList<Device> &devices)
{
    clearLayout(m_devicesBody);
    if (devices.isEmpty()) {
        addRow(m_devicesBody)->addWidget(secondaryLabel(tr("No devices registered."), nullptr));
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Device &device : devices) {
        const QString shown
            = device.deviceName.isEmpty() ? tr("Unknown Device") : device.deviceName;
        QHBoxLayout *row = addRow(m_devicesBody);
        QVBoxLayout *column = textColumn(row);
        auto *name = new QLabel(QStringLiteral("<b>%1</b>").arg(shown.toHtmlEscaped()));
        name->setTextFormat(Qt::RichText);
        column->addWidget(name);
        QString details = device.platform;
        if (!device.appVersion.isEmpty())
            details += QStringLiteral("  ·  v%1").arg(device.appVersion);
        column->addWidget(secondaryLabel(details, nullptr, -1));
        column->addWidget(secondaryLabel(sessionTimeText(device.lastSyncAt, now), nullptr, -1));
        auto *remove = new QPushButton(tr("Remove"));
        row->addWidget(remove);
        const QString id = device.id;
        connect(remove, &QPushButton::clicked, this, [this, shown, id] {
            const auto answer = QMessageBox::question(this, tr("Remove Device"),
                tr("Remove %1?").arg(shown), QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (answer != QMessageBox::Yes)
                return;
            m_client->accountClient()->removeDevice(id);
            showSuccess(tr("Device removed."));
            QTimer::singleShot(DelayedRefreshMs, this, &AccountScreen::refreshDevices);
        });
    }
}

void AccountScreen::showSessions(const QList<Session> &sessions)
{
    clearLayout(m_sessionsBody);
    if (sessions.isEmpty()) {
        addRow(m_sessionsBody)->addWidget(secondaryLabel(tr("No active sessions."), nullptr));
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Session &session : sessions) {
        QString agent = session.userAgent;
        if (agent.isEmpty())
            agent = tr("Unknown client");
        else if (agent.size() > 60)
            agent = agent.left(60) + QStringLiteral("...");
        QHBoxLayout *row = addRow(m_sessionsBody);
        QVBoxLayout *column = textColumn(row);
        column->addWidget(new QLabel(agent));
        QString details
            = session.isCurrent ? tr("This session") : sessionTimeText(session.lastActiveAt, now);
        if (!session.ipAddress.isEmpty())
            details += QStringLiteral("  ·  %1").arg(session.ipAddress);
        column->addWidget(secondaryLabel(details, nullptr, -1));
        if (session.isCurrent) {
            row->addWidget(badge(tr("Current"), "#2E7D32", nullptr));
            continue;
        }
        auto *revoke = new QPushButton(tr("Revoke"));
        row->addWidget(revoke);
        const QString id = session.id;
        connect(revoke, &QPushButton::clicked, this, [this, id] {
            m_client->authClient()->revokeSession(id);
            showSuccess(tr("Session revoked."));
            QTimer::singleShot(DelayedRefreshMs, this, &AccountScreen::refreshSessions);
        });
    }
}

void AccountScreen::editDisplayName()
{
    bool accepted = false;
    const QString name = QInputDialog::getText(this, tr("Edit Display Name"), tr("Display name:"),
        QLineEdit::Normal, m_displayName, &accepted)
                             .trimmed();
    if (!accepted || name.isEmpty())
        return;
    QPointer<AccountScreen> self(this);
    m_client->authClient()->updateProfile(name, [self, name](const User &user) {
        if (!self)
            return;
        if (user.displayName == name) {
            self->showSuccess(tr("Display name updated."));
            self->refreshProfile();
        } else {
            self->showError(tr("Failed to update profile."));
        }
    });
}

void AccountScreen::changePassword()
{
    bool accepted = false;
    const QString current = QInputDialog::getText(this, tr("Change Password"),
        tr("Current password:"), QLineEdit::Password, QString(), &accepted);
    if (!accepted || current.isEmpty())
        return;
    const QString next = QInputDialog::getText(this, tr("Change Password"),
        tr("New password (min 8 characters):"), QLineEdit::Password, QString(), &accepted);
    if (!accepted || next.isEmpty())
        return;
    if (next.size() < 8) {
        showError(tr("Password must be at least 8 characters."));
        return;
    }
    const QString confirmation = QInputDialog::getText(this, tr("Change Password"),
        tr("Confirm new password:"), QLineEdit::Password, QString(), &accepted);
    if (!accepted)
        return;
    if (confirmation != next) {
        showError(tr("Passwords do not match."));
        return;
    }
    QPointer<AccountScreen> self(this);
    m_client->authClient()->changePassword(current, next, [self](bool ok) {
        if (!self)
            return;
        if (ok)
            self->showSuccess(tr("Password changed."));
        else
            self->showError(tr("Failed to change password."));
    });
}

void AccountScreen::joinGroup()
{
    bool accepted = false;
    const QString code = QInputDialog::getText(
        this, tr("Join Group"), tr("Enter invite code:"), QLineEdit::Normal, QString(), &accepted)
                             .trimmed();
    if (!accepted || code.isEmpty())
        return;
    QPointer<AccountScreen> self(this);
    m_client->accountClient()->joinGroup(code, [self](bool ok) {
        if (!self)
            return;
        if (ok) {
            self->showSuccess(tr("Joined group."));
            self->refreshGroup();
        } else {
            self->showError(tr("Invalid or expired invite code."));
        }
    });
}

void AccountScreen::inviteByEmail()
{
    bool accepted = false;
    const QString email = QInputDialog::getText(
        this, tr("Invite by Email"), tr("Email address:"), QLineEdit::Normal, QString(), &accepted)
                              .trimmed();
    if (!accepted || email.isEmpty())
        return;
    QPointer<AccountScreen> self(this);
    m_client->accountClient()->inviteByEmail(email, [self](const GroupInvitation &invitation) {
        if (!self)
            return;
        if (!invitation.id.isEmpty()) {
            self->showSuccess(tr("Invitation sent."));
            self->refreshGroup();
        } else {
            self->showError(tr("Failed to send invitation."));
        }
    });
}

void AccountScreen::generateInviteCode()
{
    QPointer<AccountScreen> self(this);
    m_client->accountClient()->generateInviteCode([self](const GroupInvitation &invitation) {
        if (!self)
            return;
        if (invitation.inviteCode.isEmpty()) {
            self->showError(tr("Failed to generate code."));
            return;
        }
        QMessageBox::information(self, tr("Invite Code"),
            tr("Share this code with the person you want to invite:\n\n%1")
                .arg(invitation.inviteCode));
    });
}

void AccountScreen::leaveGroup()
{
    const auto answer = QMessageBox::question(this, tr("Leave Group"),
        tr("Leave this group? You will lose access to shared data."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    m_client->accountClient()->leaveGroup();
    showSuccess(tr("Left group."));
    QTimer::singleShot(DelayedRefreshMs, this, &AccountScreen::refreshGroup);
}

void AccountScreen::deleteAccount()
{
    bool accepted = false;
    const QString text = QInputDialog::getText(this, tr("Delete Account"),
        tr("This will schedule your account for permanent deletion after 30 days.\n\nType DELETE "
           "to confirm:"),
        QLineEdit::Normal, QString(), &accepted);
    if (!accepted || text != QLatin1String("DELETE"))
        return;
    QPointer<AccountScreen> self(this);
    m_client->accountClient()->deleteAccount([self](bool ok) {
        if (!self)
            return;
        if (!ok) {
            self->showError(tr("Failed to delete account."));
            return;
        }
        QMessageBox::information(self, tr("Account Scheduled for Deletion"),
            tr("Your account will be permanently deleted in 30 days. You can "
               "recover it by signing in before then."));
        emit self->logoutRequested();
    });
}

} // namespace BrevAccount
