#pragma once
// One swatch of the background picker: a persistent named colour ("Colors/" + key name) with
// an optional backdrop picture that is tiled in place of the plain colour. A two-tone backdrop
// (a bitmap) takes the colour on its set bits and leaves the others clear.

#include "document/GmColor.h"

#include <QPixmap>

class BackgroundSwatch : public GmColor {
    Q_OBJECT
public:
    BackgroundSwatch(const QString& keyName, const QString& description,
                     const QColor& defaultColor, const QPixmap& backdrop = QPixmap(),
                     QObject* parent = nullptr);

    // Null when the swatch is a plain colour.
    const QPixmap& backdrop() const { return m_backdrop; }

private:
    QPixmap m_backdrop;
};
