#pragma once
// The mask brushes' base: a brushing tool with a mask kind (Keep 2, Delete 4, Blend 8, Erase 1)
// and a reach (0 Exact, 1 Local, 2 Global). A finished stroke becomes one selection command;
// the brush's "Protect Mask" boxes say which marked statuses the stroke may overwrite.

#include "tools/BrushingTool.h"


#include <QCheckBox>
#include <QPointer>

class GmRegion;


class SelectTool : public BrushingTool {
    Q_OBJECT
public:
    // colourIndex: the named colour of the stroke, or -1 for gray (the Erase brushes).
    SelectTool(const QString& name, const QString& displayName, const QIcon& icon, const QString& shortcut,
               const QString& helpText, int kind, int reach, int colourIndex, QActionGroup* actionGroup = nullptr,
               QWidget* menuWidget = nullptr, QWidget* barWidget = nullptr, ToolOptions* toolOptions = nullptr);
    // The boxes write their state (with the preference to keep options on) as the page goes.
    ~SelectTool() override;

    // The kind as a status value.
    virtual int maskKind() const;
    virtual int brushMode() const;
    virtual bool mayOverwriteKeep() const;
    virtual bool mayOverwriteDelete() const;
    virtual bool mayOverwriteBlend() const;
    virtual bool needsSegmentation() const;
    virtual bool protectKeepByDefault() const;
    virtual bool protectDeleteByDefault() const;
    virtual bool protectBlendByDefault() const;

    // The statuses a stroke may overwrite now: Unassigned always, the others unless protected.
    quint8 overwriteMask() const;
    QCheckBox* protectKeepBox() const { return m_keepBox; }
    QCheckBox* protectDeleteBox() const { return m_deleteBox; }
    QCheckBox* protectBlendBox() const { return m_blendBox; }

    QWidget* createOptionsPage() override;
    void beginStroke(const ImagePointF& point) override;
    void finishStroke() override;
    bool usesStrength() const override;
    bool isAvailable() const override;
    int arrowTargetDisplayState(ArrowTarget* target) const override;
    QColor outlineColour() const override;
    QColor strokeColour() const override;

public slots:
    void protectKeepChangedSlot(int state);
    void protectDeleteChangedSlot(int state);
    void protectComplexChangedSlot(int state);

private:
    QCheckBox* makeProtectBox(const QString& maskName, const QString& translatedName, bool byDefault);

    int m_kind;
    int m_reach;
    int m_colourIndex;
    QPointer<QCheckBox> m_keepBox;
    QPointer<QCheckBox> m_deleteBox;
    QPointer<QCheckBox> m_blendBox;
    // The patch the stroke made inactive when it began outside it.
    QPointer<GmRegion> m_patchBeforeStroke;
    QString m_keepName;
    QString m_deleteName;
    QString m_blendName;
    QString m_protectTip;
    QString m_protectHelp;
};
