#include "shell/KsAppPrefsDialog.h"

#include "document/GmColor.h"
#include "document/KsAppPreferences.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The tab that was current when the dialog last closed, for this run only.
int g_lastTabIndex = 0;

void commitColors(const KsAppPreferences& preferences)
{
    for (GmColor* color : preferences.colors())
        color->commitChangeSlot();
}

void revertColors(const KsAppPreferences& preferences)
{
    for (GmColor* color : preferences.colors())
        color->revertChangeSlot();
}

} // namespace

KsAppPrefsDialog::KsAppPrefsDialog(QWidget* parent)
    : QDialog(parent),
      m_preferences(KsAppPreferences::instance())
{
    setWindowTitle(tr("Workspace Settings"));

    m_tabs = new QTabWidget(this);
    m_tabs->addTab(createGeneralPage(), tr("General"));
    m_tabs->addTab(createColorsPage(), tr("Colors"));
    m_tabs->setCurrentIndex(g_lastTabIndex);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
                                         Qt::Horizontal, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
}

KsAppPrefsDialog::~KsAppPrefsDialog()
{
    g_lastTabIndex = m_tabs->currentIndex();
    // The buttons belong to their colours and serve the next dialog too.
    for (const QPointer<QToolButton>& button : qAsConst(m_colorButtons)) {
        if (!button)
            continue;
        m_colorGrid->removeWidget(button);
        button->setParent(nullptr);
    }
}

QWidget* KsAppPrefsDialog::createGeneralPage()
{
    auto* page = new QWidget;

    auto* startUp = new QGroupBox(tr("Start Up"), page);
    m_useDefaults = new QRadioButton(tr("Use Defaults"), startUp);
    m_restoreLastSession = new QRadioButton(tr("Restore from Last Session"), startUp);
    const bool persist = m_preferences && m_preferences->persistOptions();
    (persist ? m_restoreLastSession : m_useDefaults)->setChecked(true);
    auto* choices = new QVBoxLayout;
    choices->addWidget(m_useDefaults);
    choices->addWidget(m_restoreLastSession);
    auto* icon = new QLabel(startUp);
    icon->setPixmap(QMessageBox::standardIcon(QMessageBox::Information));
    icon->setAlignment(Qt::AlignTop);
    auto* note = new QLabel(tr("These apply to options found on the 'Edge Finding' and 'Edge "
                               "Blending' windows, and the 'Workspace Resolution'"),
                            startUp);
    note->setWordWrap(true);
    auto* startUpLayout = new QHBoxLayout(startUp);
    startUpLayout->addLayout(choices);
    startUpLayout->addWidget(icon);
    startUpLayout->addWidget(note, 1);

    auto* options = new QGroupBox(tr("Options"), page);
    m_tabletPressure = new QCheckBox(tr("Wacom Pen pressure controls Brush Size"), options);
    m_tabletPressure->setChecked(m_preferences && m_preferences->useTabletPressure());
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addWidget(m_tabletPressure);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(startUp);
    layout->addWidget(options);
    layout->addStretch();
    return page;
}

QWidget* KsAppPrefsDialog::createColorsPage()
{
    auto* page = new QWidget;
    auto* box = new QGroupBox(page);
    m_colorGrid = new QGridLayout(box);
    auto* restoreDefaults = new QPushButton(tr("Restore Defaults"), page);

    const QList<GmColor*> colors = m_preferences ? m_preferences->colors() : QList<GmColor*>();
    for (int i = 0; i < colors.size(); ++i) {
        GmColor* color = colors.at(i);
        const int row = i / 2;
        const int column = 2 * (i % 2);
        QToolButton* button = color->toolButton(box);
        m_colorButtons.append(button);
        m_colorGrid->addWidget(button, row, column, Qt::AlignLeft);
        auto* label = new QLabel(color->description(), box);
        label->setToolTip(color->description());
        m_colorGrid->addWidget(label, row, column + 1, Qt::AlignLeft);
        connect(restoreDefaults, &QPushButton::clicked, color, &GmColor::restoreDefaultSlot);
    }

    auto* restoreRow = new QHBoxLayout;
    restoreRow->addStretch();
    restoreRow->addWidget(restoreDefaults);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(box);
    layout->addLayout(restoreRow);
    layout->addStretch();
    return page;
}

int KsAppPrefsDialog::exec()
{
    KsAppPreferences* preferences = m_preferences;
    QPointer<KsAppPrefsDialog> alive(this);
    const int result = QDialog::exec();
    if (!preferences)
        return result;
    if (!alive) {
        // Gone while open (its parent closed): nothing was confirmed.
        revertColors(*preferences);
        return result;
    }
    if (result == QDialog::Accepted) {
        preferences->setPersistOptions(m_restoreLastSession->isChecked());
        preferences->setUseTabletPressure(m_tabletPressure->isChecked());
        commitColors(*preferences);
    } else {
        revertColors(*preferences);
    }
    return result;
}
