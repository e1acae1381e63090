#pragma once
// The "Edge Blending" panel: the image's blend mask width and Feather/Smart ratio, kept
// between runs with the workspace preference "PersistOptions". Disabled until an image arrives.

#include "panels/GmSubWindow.h"

class CommonBlendOptsWidget;

class ImageBlendingWindow : public GmSubWindow {
    Q_OBJECT
public:
    ImageBlendingWindow(QWidget* parent, QWidget* actionHost = nullptr, const QString& shortcut = QString());

    // "Edge Blending", the panel's title and, untranslated, its name.
    static QString title(bool translated);

    bool hasDefaultSize() const override;

    CommonBlendOptsWidget* blendOptions() const { return m_options; }

private:
    CommonBlendOptsWidget* m_options;
};
