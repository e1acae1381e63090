#include "panels/BlendOptsWidget.h"

#include "document/BlendingStuff.h"
#include "document/GmModel.h"
#include "document/GmRegion.h"
#include "document/KsAppPreferences.h"

#include <QPainter>
#include <QStyleOption>
#include <QVBoxLayout>

BlendOptsWidget::BlendOptsWidget(bool persistable, QWidget* parent)
    : QWidget(parent), m_persistable(persistable)
{
}

BlendOptsWidget::~BlendOptsWidget() = default;

BlendingOptions* BlendOptsWidget::imageRecord()
{
    return &GmModel::instance()->blending()->options();
}

BlendingOptions* BlendOptsWidget::patchOrImageRecord()
{
    if (GmRegion* patch = GmModel::instance()->activeRegion())
        return &patch->blending().options();
    return imageRecord();
}

bool BlendOptsWidget::persistOptions()
{
    const KsAppPreferences* preferences = KsAppPreferences::instance();
    return preferences && preferences->persistOptions();
}

BlendingOptions* BlendOptsWidget::recordInFocus() const
{
    return patchOrImageRecord();
}

void BlendOptsWidget::ensureBuilt()
{
    if (layout())
        return;
    auto* box = new QVBoxLayout;
    box->setContentsMargins(0, 0, 0, 0);
    setLayout(box);
    buildControls(box);
    if (m_persistable && persistOptions())
        readSettings(recordInFocus());
    else
        showSettings(recordInFocus());
}

void BlendOptsWidget::paintEvent(QPaintEvent*)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}
