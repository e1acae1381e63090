#include "panels/ImageBlendingWindow.h"

#include "panels/CommonBlendOptsWidget.h"

ImageBlendingWindow::ImageBlendingWindow(QWidget* parent, QWidget* actionHost, const QString& shortcut)
    : GmSubWindow(title(false), title(true), actionHost, shortcut, parent),
      m_options(new CommonBlendOptsWidget(true, true))
{
    setWidget(m_options);
}

QString ImageBlendingWindow::title(bool translated)
{
    return translated ? tr("Edge Blending", "[ks3]") : QStringLiteral("Edge Blending");
}

bool ImageBlendingWindow::hasDefaultSize() const
{
    return false;
}
