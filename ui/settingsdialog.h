#pragma once

#include <QDialog>
#include <QList>

class AppState;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QVBoxLayout;

// The preferences window: five pages picked from a category list. Every control writes its
// preference the moment it changes; there is nothing to confirm.
class SettingsDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsDialog)

public:
    enum Page { AppearancePage, EditorPage, WindowPage, SyncPage, AccountPage };

    explicit SettingsDialog(AppState *appState, QWidget *parent = nullptr);

    QListWidget *categoryList() const { return m_categories; }
    QStackedWidget *pages() const { return m_pages; }

public slots:
    void onCategoryChanged(int row);

signals:
    // The account buttons; the main window runs them as its own account commands.
    void signInRequested();
    void signOutRequested();
    void manageAccountRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    QWidget *buildAppearancePage();
    QWidget *buildEditorPage();
    QWidget *buildWindowPage();
    QWidget *buildSyncPage();
    QWidget *buildAccountPage();
    QVBoxLayout *startPage(QWidget *page, const QString &title);
    void addSection(QVBoxLayout *layout, const QString &title, const QString &description);
    QLabel *addHint(QVBoxLayout *layout, const QString &text);
    void addIndented(QVBoxLayout *layout, QWidget *control);
    void connectBool(QCheckBox *box, const QString &key, bool defaultValue);

    void refreshSyncPage();
    void refreshAccountPage();
    void applyStyle();

    AppState *m_appState; // not owned
    QListWidget *m_categories = nullptr;
    QStackedWidget *m_pages = nullptr;
    QComboBox *m_themeCombo = nullptr;
    QComboBox *m_fontSizeCombo = nullptr;
    QLabel *m_syncStatusLabel = nullptr;
    QPushButton *m_syncNowButton = nullptr;
    QCheckBox *m_autoSyncBox = nullptr;
    QSpinBox *m_intervalSpin = nullptr;
    QLabel *m_signedInValue = nullptr;
    QPushButton *m_manageButton = nullptr;
    QPushButton *m_signInButton = nullptr;
    QPushButton *m_signOutButton = nullptr;
    // Drawn in the placeholder-text colour, which follows the theme.
    QList<QLabel *> m_quietLabels;
    bool m_styling = false;
};
