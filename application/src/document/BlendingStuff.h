#pragma once
// The holder of an image's or a patch's blending options, as projects store it: the options
// map under "bos_".

#include "document/BlendingOptions.h"

#include <QVariant>

class BlendingStuff {
public:
    BlendingStuff() = default;
    explicit BlendingStuff(const QVariant& variant);
    virtual ~BlendingStuff();
    BlendingStuff(const BlendingStuff&) = delete;
    BlendingStuff& operator=(const BlendingStuff&) = delete;

    BlendingOptions& options() { return m_options; }
    const BlendingOptions& options() const { return m_options; }

    QVariant toVariant() const;

private:
    BlendingOptions m_options;
};
