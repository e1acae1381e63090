#pragma once
// The GUI's view of the engine's status bytes: an 8-bit indexed image over the engine's own
// memory (index = status byte) coloured by class with the mask opacity, a snapshot taken after
// every status change, the classes present, the trimap export, a status image waiting to be
// sent, and the colour workspace's highlight with its two workers.

#include "document/Set1DThread.h"
#include "document/Set2DThread.h"

#include <QColor>
#include <QImage>
#include <QObject>

#include <functional>
#include <vector>

class GmModel;
class GmRegion;
class QAbstractSlider;
struct DvImage;

class GmStatusArray : public QObject {
    Q_OBJECT
public:
    // The view options' mask-opacity slider, or null while there is none.
    using OpacitySliderLookup = std::function<QAbstractSlider*()>;
    // The active patch's mask at the working resolution, placed by its offset, or a null image
    // when no patch is active or it has no mask.
    using PatchMaskLookup = std::function<QImage()>;

    explicit GmStatusArray(GmModel* model, QObject* parent = nullptr);
    ~GmStatusArray() override;

    static void setOpacitySliderLookup(OpacitySliderLookup lookup);
    static void setPatchMaskLookup(PatchMaskLookup lookup);
    // The lookup's answer now; a null image while no lookup is set.
    static QImage activePatchMask();

    // Takes the engine's record (null: no session). Fills the array, sends a waiting status
    // image and refreshes.
    void setStatusImage(DvImage* record);
    DvImage* engineStatusImage() const { return m_engineStatusImage; }

    // After every status change: the classes present, then the snapshot, then statusChanged.
    void refresh();

    // The statuses over the engine's bytes, coloured; null without a session. Read it only
    // between engine commands.
    const QImage* statusImage() const { return m_statusImage.isNull() ? nullptr : &m_statusImage; }
    // A copy of the statuses as of the last refresh; safe to read at any time.
    const QImage& snapshot() const { return m_snapshot; }
    const QImage* highlightImage() const { return m_highlightImage.isNull() ? nullptr : &m_highlightImage; }
    // OR of the class bits (1, 2, 4, 8) over all pixels.
    quint8 statusesPresent() const { return m_statusesPresent; }
    QColor highlightColour() const { return m_highlightColour; }

    // The trimap: white where the status is exactly Keep, black where exactly Delete, grey
    // everywhere else.
    QImage toGreyMaskImage() const;

    // Before a cut-out: a patch whose earlier preview still holds (same blending, same classes
    // inside it) gets the decided bit (64) on every pixel of its mask, written into the engine's
    // bytes, so that the engine keeps what the preview made there. Other patches are left alone.
    void markPatchDecided(GmRegion* patch);

    // A project's statuses: sent as soon as a status image exists.
    void setPendingStatusImage(const QImage& status);
    const QImage& pendingStatusImage() const { return m_pendingStatusImage; }
    void submitPendingStatusImage();

    // The colour a status class or the highlight is shown in: the colour's hue and value, its
    // saturation scaled by sqrt(k) and alpha k, where k = (1 - w) t + w and t is the opacity
    // slider's position (0.5 without a slider).
    static QColor saturationScaledColour(const QColor& colour, double w);

    const Set1DThread& oneDThread() const { return m_oneDThread; }
    const Set2DThread& twoDThread() const { return m_twoDThread; }
    bool isHighlightRunning() const { return m_oneDThread.isRunning() || m_twoDThread.isRunning(); }
    // Lets both highlight runs finish (no abort), so that the highlight image is complete.
    void waitForHighlight();

signals:
    void statusChanged();
    void statusesPresentChanged(quint8 statusesPresent);

public slots:
    void opacityChanged(int value);
    void highlightColourChanged(QColor colour);
    void highlightChanged(const std::vector<bool>& bins, Ht::colour::channel channel, quint8 status);
    void highlightChanged(const QImage& map, Ht::colour::channel channel1, Ht::colour::channel channel2,
                          quint8 status);
    void unHighlight();
    void setColours();
    void threadFinished();

private:
    void stopHighlight();
    // Whether a highlight run may start; clears the bits outside a patch mask and returns the
    // area and the mask to run over.
    bool prepareHighlight(QImage& patchMask, QRect& area);
    void connectOpacitySlider();
    QImage wrapEngineBytes() const;

    GmModel* m_model;
    bool m_opacityConnected = false;
    DvImage* m_engineStatusImage = nullptr;
    QImage m_statusImage;
    QImage m_snapshot;
    QImage m_pendingStatusImage;
    quint8 m_statusesPresent = 0;
    QImage m_highlightImage;
    // The snapshot a highlight run reads, held for the run's length.
    QImage m_highlightSnapshot;
    QColor m_highlightColour;
    QVector<QRgb> m_colourTable;
    // Declared last: they stop before the images they read go.
    Set1DThread m_oneDThread;
    Set2DThread m_twoDThread;
};
