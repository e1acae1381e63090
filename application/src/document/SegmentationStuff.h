#pragma once
// The segmentation record of the image or of one patch: its edge-detection options, its
// engine sessions and the outline of the regions its analysis found.

#include "document/EDOs.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QVariant>

#include <memory>

class DravikCommand;
class GmRegion;
class Shape;
struct DvSession;

class SegmentationStuff : public QObject {
    Q_OBJECT
public:
    // A patch's record (parent set) starts from the image record's options, its current values
    // those the image applied.
    explicit SegmentationStuff(GmRegion* parent = nullptr);
    // From a map written by toVariant; sessions are not saved.
    SegmentationStuff(const QVariant& map, GmRegion* parent);
    // The meta-type's copy: a fresh record without parent.
    SegmentationStuff(const SegmentationStuff& other);
    ~SegmentationStuff() override;
    SegmentationStuff& operator=(const SegmentationStuff&) = delete;

    QVariant toVariant() const;

    GmRegion* parentRegion() const { return m_parent; }
    EDOs& edos() { return m_edos; }
    const EDOs& edos() const { return m_edos; }
    // The outline pieces of the analysed regions, in image coordinates, drawn by the canvas;
    // null before any session was set.
    const Shape* edgeOutline() const { return m_edgeOutline.get(); }

    DvSession* session() const { return m_session; }
    void setSession(DvSession* session) { m_session = session; }
    DvSession* analysisSession() const { return m_analysisSession; }
    void setAnalysisSession(DvSession* session) { m_analysisSession = session; }

    bool isChecked() const { return m_isChecked; }
    void setChecked(bool checked) { m_isChecked = checked; }

    void setAnalysisCommand(DravikCommand* command) { m_analysisCommand = command; }
    DravikCommand* analysisCommand() const { return m_analysisCommand; }
    bool hasPendingAnalysis() const { return !m_analysisCommand.isNull(); }
    // The engine has finished an analysis in the record's analysis session. Read it only while
    // no analysis of the record is pending: that one may be writing the flag.
    bool isAnalysed() const;

    // Applies the edited options and submits an analysis with them, cancelling one still
    // waiting. panel (any object with a setEnablednessOfButtons slot) may be null; it is asked
    // to update its buttons now and again when the analysis has gone, as is every panel that
    // submitted an analysis this one replaces.
    void submitAnalysis(QObject* panel);

    // An analysis begins: the old outline goes.
    void analysisStarted();
    // After any change of the sessions: the outline follows the analysis session. Call only
    // between engine commands.
    void sessionChanged();

private:
    Shape& outline();

    GmRegion* m_parent = nullptr;
    EDOs m_edos;
    std::unique_ptr<Shape> m_edgeOutline;
    DvSession* m_session = nullptr;
    DvSession* m_analysisSession = nullptr;
    bool m_isChecked = false;
    QPointer<DravikCommand> m_analysisCommand;
    QList<QPointer<QObject>> m_waitingPanels;
};

Q_DECLARE_METATYPE(SegmentationStuff)
