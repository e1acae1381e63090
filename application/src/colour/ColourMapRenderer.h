#pragma once
// The colour display's renderer: counts the pixels of the working image (or of a patch of it)
// into a table of colour cells over an ordered pair of channels, and draws that table as a
// stacked histogram or as a two-dimensional colour map. GUI thread only.
//
// The table is a flat n x n array (n = 256 >> shift bins per channel) walked in key order,
// horizontal bin first, so drawing costs the same whatever the image size.

#include <QColor>
#include <QImage>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

class QPainter;

class ColourMapRenderer {
public:
    // One cell's sums; once the table is built each sum holds its average. 64-bit, so that a
    // one-colour backdrop of any size cannot overflow its cell. For an RGB pair sum0 is the
    // channel on neither axis and sum1, sum2 stay 0; for an HSL pair sum0..sum2 are red,
    // green and blue.
    struct Cell {
        quint64 sum0 = 0;
        quint64 count = 0;
        quint64 sum1 = 0;
        quint64 sum2 = 0;

        void add(quint32 a, quint32 b, quint32 c)
        {
            sum0 += a;
            sum1 += b;
            sum2 += c;
            ++count;
        }
        void average()
        {
            if (count == 0)
                return;
            sum0 /= count;
            sum1 /= count;
            sum2 /= count;
        }
    };

    // What a rebuild counts. working: 32-bit (A)RGB; status: 8 bits per pixel, one status byte
    // per pixel, the working image's size; patchMask: optional, 8-bit (or 1-bit), 0 outside
    // the patch, placed in working coordinates by its offset(). A missing or null working or
    // status image, or a status image of another size, counts nothing. The images need only
    // live through the rebuild that reads them.
    struct Inputs {
        const QImage* working = nullptr;
        const QImage* status = nullptr;
        const QImage* patchMask = nullptr;
    };
    using InputSource = std::function<Inputs()>;

    enum DrawMode { HistogramMode = 0, ColourMapMode = 1 };
    static constexpr int backgroundChoices = 3;

    ColourMapRenderer();

    // Called by every rebuild, lazy ones included, for the images to count.
    void setInputSource(InputSource source) { m_inputSource = std::move(source); }

    // These only store; the owner asks for the rebuild.
    void setChannels(int horizontal, int vertical);
    void setColourBits(int bits);  // kept within 1..8; shift follows
    void setStatusMask(quint8 mask) { m_statusMask = mask; }
    void requestRebuild() { m_rebuildRequested = true; }

    // Empties the table and counts the input source's images (or the given ones) into it.
    void rebuild();
    void rebuild(const Inputs& inputs);

    // Draws onto the painter's device in HistogramMode or ColourMapMode, rebuilding first when
    // a rebuild was requested.
    void draw(QPainter& painter, int mode, const QColor& background);

    int horizontalChannel() const { return m_horizontalChannel; }
    int verticalChannel() const { return m_verticalChannel; }
    int colourBits() const { return m_colourBits; }
    int shift() const { return m_shift; }
    quint8 statusMask() const { return m_statusMask; }
    bool isRebuildRequested() const { return m_rebuildRequested; }
    int binCount() const { return 256 >> m_shift; }

    // True when no pixel was counted.
    bool isEmpty() const;
    // The cell at a bin pair; an empty cell outside the table.
    const Cell& cell(int horizontalBin, int verticalBin) const;
    // The opaque colour a cell is drawn in.
    QRgb cellColour(int horizontalBin, int verticalBin) const;
    // 256 x 256, of which the top-left n x n part shows the cells (highest vertical bin at the
    // top); repainted by ColourMapMode drawing when the table or the background changed.
    const QImage& cellImage() const { return m_cellImage; }

    // The display's background choices 0 grey, 1 yellow, 2 blue; other values read as grey.
    static QColor backgroundColour(int choice);
    static QString backgroundName(int choice);

private:
    void refreshCellImage();
    void drawHistogram(QPainter& painter, int width, int height) const;
    bool isRgbPair() const;

    std::vector<Cell> m_cells;  // n x n in key order (index h * n + v); empty when nothing built
    int m_horizontalChannel = 0;
    int m_verticalChannel = 1;
    int m_colourBits = 5;
    int m_shift = 3;
    quint8 m_statusMask = 15;
    QImage m_cellImage;
    bool m_imageDirty = true;
    QColor m_imageBackground;
    bool m_rebuildRequested = false;
    InputSource m_inputSource;
};
