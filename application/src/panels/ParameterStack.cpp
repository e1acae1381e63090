#include "panels/ParameterStack.h"

#include "document/KsAppPreferences.h"
#include "panels/PersistentWidget.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>

namespace {

using PersistentSpinBox = PersistentWidget<QSpinBox, int>;

bool persistOptionsOn()
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    return preferences && preferences->persistOptions();
}

} // namespace

ParameterStack::ParameterStack(int orientation, int styleFlags, QWidget* parent)
    : QWidget(parent),
      m_orientation(orientation),
      m_styleFlags(styleFlags),
      m_grid(new QGridLayout(this))
{
    m_grid->setContentsMargins(0, 0, 0, 0);
}

ParameterStack::~ParameterStack()
{
    // The preference counts as it stands now: turned off during the run, nothing is written.
    // Once the preferences are gone the choice made at construction stands.
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    if (!preferences)
        return;
    for (const Row& row : qAsConst(m_rows))
        row.spin->setPersist(row.persist && preferences->persistOptions());
}

bool ParameterStack::addSlider(const QString& name, const QString& labelText, int minimum,
                               int maximum, int defaultValue, const QString& suffix,
                               const QObject* receiver, const char* slot, bool persist)
{
    if (m_rows.contains(name))
        return false;

    Row row;
    row.persist = persist;
    row.label = new QLabel(labelText, this);
    auto* spin = new PersistentSpinBox(m_settingsGroup, name, defaultValue,
                                       persist && persistOptionsOn());
    spin->setParent(this);
    spin->setRange(minimum, maximum);
    spin->setSuffix(suffix);
    row.spin = spin;
    row.slider = new QSlider(Qt::Horizontal, this);
    row.slider->setRange(minimum, maximum);
    row.slider->setValue(spin->value());
    connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), row.slider, &QSlider::setValue);
    connect(row.slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);

    const bool vertical = m_orientation == Vertical;
    if (!m_rows.isEmpty()) {
        auto* separator = new QFrame(this);
        separator->setFrameShape(vertical ? QFrame::HLine : QFrame::VLine);
        separator->setFrameShadow((m_styleFlags & SunkenSeparators) ? QFrame::Sunken
                                                                    : QFrame::Plain);
        if (vertical) {
            m_grid->addWidget(separator, m_nextRow, m_nextColumn, 1, 3);
            ++m_nextRow;
        } else {
            m_grid->addWidget(separator, m_nextRow, m_nextColumn);
            ++m_nextColumn;
        }
    }

    m_grid->addWidget(row.label, m_nextRow, m_nextColumn);
    m_grid->setColumnMinimumWidth(m_nextColumn, row.label->minimumWidth() + 50);
    ++m_nextColumn;

    if (m_styleFlags & ShowSliders) {
        m_grid->addWidget(row.slider, m_nextRow, m_nextColumn);
        m_grid->setColumnStretch(m_nextColumn, 1);
        ++m_nextColumn;
    } else {
        row.slider->hide();
    }

    m_grid->addWidget(spin, m_nextRow, m_nextColumn);
    if (m_styleFlags & HideSpinBoxes)
        spin->hide();
    ++m_nextRow;
    if (vertical)
        m_nextColumn = 0;

    m_rows.insert(name, row);
    connectValue(name, receiver, slot);

    if (vertical) {
        ++m_nextRow;
    } else {
        ++m_nextColumn;
        m_nextRow = 0;
    }
    return true;
}

bool ParameterStack::connectValue(const QString& name, const QObject* receiver, const char* slot)
{
    const Row* found = row(name);
    if (!found || !found->spin)
        return false;
    if (!receiver || !slot)
        return true;
    return static_cast<bool>(
        QObject::connect(found->spin, SIGNAL(valueChanged(int)), receiver, slot));
}

bool ParameterStack::value(const QString& name, int& value) const
{
    const Row* found = row(name);
    if (!found || !found->spin)
        return false;
    value = found->spin->value();
    return true;
}

bool ParameterStack::setValue(const QString& name, int value)
{
    const Row* found = row(name);
    if (!found || !found->spin)
        return false;
    found->spin->setValue(value);
    return true;
}

bool ParameterStack::setHelp(const QString& name, const QString& toolTip,
                             const QString& whatsThis)
{
    const Row* found = row(name);
    if (!found)
        return false;
    for (QWidget* widget : {static_cast<QWidget*>(found->label),
                            static_cast<QWidget*>(found->slider),
                            static_cast<QWidget*>(found->spin)}) {
        widget->setToolTip(toolTip);
        widget->setWhatsThis(whatsThis);
    }
    return true;
}

bool ParameterStack::setRowEnabled(const QString& name, bool enabled)
{
    const Row* found = row(name);
    if (!found)
        return false;
    found->label->setEnabled(enabled);
    found->slider->setEnabled(enabled);
    found->spin->setEnabled(enabled);
    return true;
}

QSpinBox* ParameterStack::spinBox(const QString& name) const
{
    const Row* found = row(name);
    return found ? found->spin : nullptr;
}

QSlider* ParameterStack::slider(const QString& name) const
{
    const Row* found = row(name);
    return found ? found->slider : nullptr;
}

QLabel* ParameterStack::label(const QString& name) const
{
    const Row* found = row(name);
    return found ? found->label : nullptr;
}

const ParameterStack::Row* ParameterStack::row(const QString& name) const
{
    const auto it = m_rows.constFind(name);
    return it == m_rows.constEnd() ? nullptr : &it.value();
}
