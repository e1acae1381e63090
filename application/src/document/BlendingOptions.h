#pragma once
// The edge-blending settings of the image or of one patch: how the Blend areas of the cut-out
// are matted. Owns its two override colours, so it is not copyable.

#include <QVariant>
#include <QVariantMap>

#include <memory>

class GmColor;

class BlendingOptions {
public:
    BlendingOptions();
    // Reads a map written by toMap. The options that came later (choices, membrane, uniform
    // background) keep their defaults when absent.
    explicit BlendingOptions(const QVariant& map);
    ~BlendingOptions();
    BlendingOptions(const BlendingOptions&) = delete;
    BlendingOptions& operator=(const BlendingOptions&) = delete;

    // Takes every value of the other record, the override colours' included (the colour
    // objects stay this record's own).
    void assign(const BlendingOptions& other);

    // Floats are written as doubles; the colours as their GmColor maps.
    QVariantMap toMap() const;

    float autoBlendWidth = 0.75f;
    float blendRatio = 0.2f;
    bool isPatchBlendRatioTrackingImage = false;
    int feather = 5;
    bool isChoices = false;
    float choices1 = 0.5f;
    float choices2 = 0.5f;
    bool isMembrane = false;
    float membrane1 = 0.5f;
    bool isUniformBg = false;
    bool fgChecked = false;
    bool bgChecked = false;

    GmColor* fgOverride() const { return m_fgOverride.get(); }
    GmColor* bgOverride() const { return m_bgOverride.get(); }

private:
    std::unique_ptr<GmColor> m_fgOverride;
    std::unique_ptr<GmColor> m_bgOverride;
};
