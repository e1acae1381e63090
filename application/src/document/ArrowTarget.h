#pragma once
// What the select tool can pick, activate and edit on the canvas: a patch (GmRegion) or a
// forced edge (ForcedEdge). The document model keeps both kinds in lists of their own and
// writes them into the project.

#include <QColor>
#include <QObject>
#include <QVariant>

class ForcedEdge;
class GmRegion;
class Shape;

class ArrowTarget : public QObject {
    Q_OBJECT
public:
    ArrowTarget() = default;
    ~ArrowTarget() override;

    virtual Shape* shape() const = 0;
    virtual GmRegion* asRegion() = 0;
    virtual ForcedEdge* asForcedEdge() = 0;
    virtual bool isBrushRegion() const { return false; }
    virtual bool isForcedEdge() const { return false; }
    // Makes this the model's active patch or forced edge (which clears the other kind).
    virtual void activate() = 0;
    // Makes none active, but only when this is the active one.
    virtual void deactivate() = 0;
    // After the user moved the shape or one of its handles.
    virtual void shapeChanged() = 0;
    // "Active Patch or Forced Edge" while active, else "Patch or Forced Edge".
    virtual QColor outlineColour() const;
    virtual bool isActive() const = 0;
    // Queues what the engine needs to know of this object in the current session.
    virtual void submitToEngine() = 0;
    // Writes the project map, "type" included.
    virtual void toVariant(QVariant& variant) const = 0;
};

// Rebuilds a patch or forced edge from its project map by its "type" (0 rectangle patch,
// 1 polygon patch, 2 brushed patch, 3 forced edge); null for any other type. The caller owns
// the result; it joins no list of the model.
ArrowTarget* createArrowTargetFromVariant(const QVariant& variant);
