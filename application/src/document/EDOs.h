#pragma once
// The four edge-detection options of an image or a patch, each a GmValue<int>, and the edge
// width in image coordinates. The analysis command reads the applied values; the edge-finding
// panel edits the current ones.

#include "document/GmValue.h"

#include <QObject>
#include <QVariant>

#include <array>

class EDOs : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultSensitivity = 50;
    static constexpr int defaultWidth = 3;
    static constexpr int defaultTexture = 1;
    static constexpr int defaultContrast = 1;
    static constexpr int defaultWidthInImageCoords = -1;
    // The process-wide factor on the sensitivity scale when deciding whether edges are shown.
    static constexpr float edgeScaleFactor = 1.0f;

    // Whether drawing the analysed edges is useful at a sensitivity: at the finest setting
    // they are too dense to show. In single precision as the shell's view options decide it
    // (100 gives false, 99 true).
    static bool vectorEdgesUseful(int sensitivity);

    explicit EDOs(QObject* parent = nullptr);
    // Reads a map written by toVariant; a missing key keeps its default.
    explicit EDOs(const QVariant& map, QObject* parent = nullptr);

    GmValue<int>& sensitivity() { return m_sensitivity; }
    GmValue<int>& width() { return m_width; }
    GmValue<int>& texture() { return m_texture; }
    GmValue<int>& contrast() { return m_contrast; }
    const GmValue<int>& sensitivity() const { return m_sensitivity; }
    const GmValue<int>& width() const { return m_width; }
    const GmValue<int>& texture() const { return m_texture; }
    const GmValue<int>& contrast() const { return m_contrast; }
    int widthInImageCoords() const { return m_widthInImageCoords; }
    void setWidthInImageCoords(int width) { m_widthInImageCoords = width; }

    // The four options in the order sensitivity, width, texture, contrast.
    const std::array<GmValueB*, 4>& values() const { return m_values; }

    void applyAll();
    void storeAll();
    void restoreAll();
    void revertAll();
    void setDefaultAll();
    // True when any option's test is true.
    bool isModified() const;
    bool isNonDefault() const;

    // Copies all four states of every option and widthInImageCoords.
    void assign(const EDOs& other);

    QVariant toVariant() const;

private:
    GmValue<int> m_sensitivity{defaultSensitivity};
    GmValue<int> m_width{defaultWidth};
    GmValue<int> m_texture{defaultTexture};
    GmValue<int> m_contrast{defaultContrast};
    int m_widthInImageCoords = defaultWidthInImageCoords;
    const std::array<GmValueB*, 4> m_values{&m_sensitivity, &m_width, &m_texture, &m_contrast};
};
