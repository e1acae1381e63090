#pragma once
// The "Patch Properties" panel: the active patch's own edge finding ("Analyze Patch
// Separately"), its blending and its protection; the page "No Active Patch" while there is
// none. It shows itself when a patch becomes ready unless the user closed it, only in the
// Workspace tab, and a restored state never makes it visible.

#include "panels/GmSubWindow.h"

class CommonBlendOptsWidget;
class EdgeDetectionOptions;
class GmRegion;
class QCheckBox;
class QGroupBox;
class QStackedWidget;
class QTabWidget;
class RegionBlendOptsWidget;

class RegionalProperties : public GmSubWindow {
    Q_OBJECT
public:
    RegionalProperties(QWidget* parent, QWidget* actionHost = nullptr, const QString& shortcut = QString());
    ~RegionalProperties() override;

    enum Page { NoPatchPage = 0, PatchPage = 1 };

    bool hasDefaultSize() const override;
    // The Workspace tab only.
    int usableViewTabs() const override;
    bool restoresVisibility() const override;

    // Whether showing the analysed edges of the bound record is useful at its current
    // sensitivity; false without a live record.
    bool vectorEdgesAvailable() const;

    EdgeDetectionOptions* edgeOptions() const { return m_edgeOptions; }
    CommonBlendOptsWidget* commonBlending() const { return m_commonBlending; }
    RegionBlendOptsWidget* patchBlending() const { return m_patchBlending; }
    QGroupBox* analyseSeparatelyBox() const { return m_smegBox; }
    QStackedWidget* pages() const { return m_pages; }
    QTabWidget* tabs() const { return m_tabs; }
    QCheckBox* protectBox() const { return m_protectBox; }

public slots:
    // Hands the new divisor to the edge options.
    void resolutionChangedSlot(int previousDivisor, int newDivisor);
    void updateVisibilitySlot();
    void activeRegionChangedSlot(GmRegion* patch);
    void protectionChangedSlot(GmRegion* patch);
    void regSmegCheckBoxStateChangedSlot();
    void protectionCheckBoxClickedSlot(bool on);

private:
    QWidget* buildNoPatchPage();
    QWidget* buildEdgeFindingPage();
    QWidget* buildBlendingPage();
    QWidget* buildPatchPage();
    void loadPatchPage(GmRegion* patch);
    // The edge options are usable while the box asks for the patch's own edge finding.
    void followAnalyseSeparatelyBox();

    EdgeDetectionOptions* m_edgeOptions = nullptr;
    CommonBlendOptsWidget* m_commonBlending = nullptr;
    RegionBlendOptsWidget* m_patchBlending = nullptr;
    QGroupBox* m_smegBox = nullptr;
    QStackedWidget* m_pages = nullptr;
    QTabWidget* m_tabs = nullptr;
    QCheckBox* m_protectBox = nullptr;
};
