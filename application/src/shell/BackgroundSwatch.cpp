#include "shell/BackgroundSwatch.h"

BackgroundSwatch::BackgroundSwatch(const QString& keyName, const QString& description,
                                   const QColor& defaultColor, const QPixmap& backdrop,
                                   QObject* parent)
    : GmColor(keyName, description, defaultColor, 1, parent),
      m_backdrop(backdrop)
{
}
