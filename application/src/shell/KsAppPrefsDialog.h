#pragma once
// The modal "Workspace Settings" dialog over the preferences record: the start-up option, the
// pen-pressure option and the seven named colours. A colour changed here takes effect at once;
// exec() commits everything on OK and takes every colour back on Cancel. The dialog owns no
// colour: the colours' tool buttons are lent to it and handed back when it goes. It writes
// nothing to the settings; the preferences do at shut-down.

#include <QDialog>
#include <QList>
#include <QPointer>

class KsAppPreferences;
class QCheckBox;
class QGridLayout;
class QRadioButton;
class QTabWidget;
class QToolButton;

class KsAppPrefsDialog : public QDialog {
    Q_OBJECT
public:
    // Edits the process-wide preferences; without any, it shows the options unset and commits
    // nothing.
    explicit KsAppPrefsDialog(QWidget* parent = nullptr);
    ~KsAppPrefsDialog() override;

    // Runs the dialog, then commits (Accepted) or reverts (Rejected); returns the result.
    int exec() override;

private:
    QWidget* createGeneralPage();
    QWidget* createColorsPage();

    KsAppPreferences* m_preferences;
    QTabWidget* m_tabs = nullptr;
    QRadioButton* m_useDefaults = nullptr;
    QRadioButton* m_restoreLastSession = nullptr;
    QCheckBox* m_tabletPressure = nullptr;
    QGridLayout* m_colorGrid = nullptr;
    // The colours' buttons, guarded: their colours may go first.
    QList<QPointer<QToolButton>> m_colorButtons;
};
