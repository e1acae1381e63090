#pragma once
// A patch: an area of the image, marked with a rectangle, a polygon or a brush, that the engine
// treats as a sub-session of its own. It may have its own edge-finding and blending settings,
// may be protected (the engine keeps its pixels) and may be previewed alone. The concrete
// kinds (RectRegion, PolyRegion, BrushRegion) add the shape.

#include "document/ArrowTarget.h"
#include "document/BlendingStuff.h"
#include "document/SegmentationStuff.h"
#include "engine/DravikCommand.h"

#include <QList>
#include <QPointer>

#include <functional>

class PixelState;
struct DvSession;

class GmRegion : public ArrowTarget {
    Q_OBJECT
public:
    // Shows the cut-out of one patch (the preview tool, when it exists).
    using TestRenderHook = std::function<void(GmRegion* patch)>;

    GmRegion();
    // The "GmRegion" part of a project map.
    explicit GmRegion(const QVariant& map);
    ~GmRegion() override;

    static void setTestRenderHook(TestRenderHook hook);

    GmRegion* asRegion() override { return this; }
    ForcedEdge* asForcedEdge() override { return nullptr; }
    void activate() override;
    void deactivate() override;
    // The shape moved: its sessions end and begin again, and it becomes the active patch.
    void shapeChanged() override;
    bool isActive() const override;
    // Begins the sub-session, then the patch's own analysis when it has one switched on, then
    // its protection.
    void submitToEngine() override;
    // The GmRegion map: "smeg_", "blendage_", "isProtected_".
    void toVariant(QVariant& variant) const override;

    // Ends the patch's engine sessions. deleted: the patch itself when the model deletes it
    // (the command that ends the sessions then owns and deletes it); null for a plain reset,
    // after which the patch can be submitted again.
    virtual void reset(GmRegion* deleted = nullptr);
    virtual bool canTestRender() const { return false; }
    virtual void testRender() {}

    // Queues the sub-session (flag 1: with an analysis of its own); the patch becomes active
    // when the model holds it.
    void beginSubSession(int flag = 0);
    // True queues the protection; false re-sends the protections of every patch. Both emit
    // the model's protectionChanged.
    void setProtected(bool on);
    bool isProtected() const { return m_protected; }
    // The shape's raster mask filled (no pen, a solid brush) at the working resolution: what the
    // engine takes as the patch. Built once per shape and kept.
    PixelState* filledMask();
    void setFilledMaskStyle();
    // The engine's outline of the sub-session becomes the shape's outline; the area repaints.
    void setOutline(const DvSession* session);

    SegmentationStuff& segmentation() { return m_segmentation; }
    const SegmentationStuff& segmentation() const { return m_segmentation; }
    BlendingStuff& blending() { return m_blending; }
    const BlendingStuff& blending() const { return m_blending; }
    // How often the shape has changed (the colour workspace recounts on a change).
    int changeCount() const { return m_changeCount; }
    // The patch has an analysis of its own, finished, in a session of its own.
    bool hasOwnSegmentation() const;

    // Commands submitted for this patch, so that deleting it can cancel those still pending.
    void trackCommand(DravikCommand* command);
    void cancelPendingCommands();

protected:
    // The concrete class's map with "type", "GmRegion" and its shape under shapeKey.
    void writeMap(QVariant& variant, int type, const QString& shapeKey, const QVariant& shapeMap) const;
    // The "GmRegion" entry of a concrete class's map.
    static QVariant regionPart(const QVariant& map);
    // Hands this patch to the preview tool; nothing while there is none.
    void runTestRender();

private:
    void submit(DravikCommand* command);

    SegmentationStuff m_segmentation;
    BlendingStuff m_blending;
    bool m_protected = false;
    int m_changeCount = 0;
    QList<QPointer<DravikCommand>> m_commands;
};
