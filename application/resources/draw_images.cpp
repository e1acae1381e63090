// Draws the application's pictures (tool icons, cursor pictures, slider handles, small button
// icons and the splash screen) into images/. Run by hand through draw_images.sh when a picture
// changes; the PNGs it writes are committed, so that the build never needs this program.
//
// Cursor pictures are pairs: the data picture is black where the cursor is black and white
// elsewhere, the mask picture black where the cursor is opaque. Both are opaque 32 x 32.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

QString g_outDir;
int g_failures = 0;

void save(const QImage& image, const char* name)
{
    const QString path = g_outDir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++g_failures;
    }
}

QImage canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

void drawIcon(const char* name, int w, int h, const std::function<void(QPainter&)>& body)
{
    QImage image = canvas(w, h);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        body(p);
    }
    save(image, name);
}

// ---------------------------------------------------------------------------------------------
// Colours. One per mask kind, as the canvas shows the masks.

const QColor kKeep(40, 160, 60);
const QColor kDelete(205, 45, 45);
const QColor kBlend(45, 105, 215);
const QColor kErase(120, 120, 120);
const QColor kInk(45, 45, 50);
const QColor kPatch(235, 150, 20);
const QColor kEdge(200, 40, 170);

// ---------------------------------------------------------------------------------------------
// Tool icons, 24 x 24.

// A paint brush lying from the top-right corner towards the middle, its tip in the kind colour.
void brush(QPainter& p, const QColor& tip)
{
    p.save();
    p.translate(17.5, 6.5);
    p.rotate(45);
    // Handle.
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(150, 100, 60));
    p.drawRoundedRect(QRectF(-1.8, -8, 3.6, 8), 1.5, 1.5);
    // Ferrule.
    p.setBrush(QColor(190, 190, 195));
    p.drawRect(QRectF(-2.2, 0, 4.4, 2.5));
    // Bristles.
    QPainterPath bristles;
    bristles.moveTo(-2.2, 2.5);
    bristles.lineTo(2.2, 2.5);
    bristles.quadTo(2.2, 6.5, 0, 8.5);
    bristles.quadTo(-2.2, 6.5, -2.2, 2.5);
    p.setBrush(tip);
    p.drawPath(bristles);
    p.restore();
}

// Exact: a solid stroke exactly where the brush went.
void reachExact(QPainter& p, const QColor& c)
{
    QPainterPath stroke;
    stroke.moveTo(3, 20);
    stroke.cubicTo(6, 14, 9, 21, 12.5, 14.5);
    p.setPen(QPen(c, 3.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(stroke);
}

// Local: the stroke floods the neighbouring area it touches.
void reachLocal(QPainter& p, const QColor& c)
{
    QPainterPath area;
    area.moveTo(1.5, 17);
    area.cubicTo(1.5, 11, 8, 9.5, 13, 12);
    area.cubicTo(16.5, 14, 15.5, 21, 11, 22.5);
    area.cubicTo(6, 24, 1.5, 22, 1.5, 17);
    QColor fill = c;
    fill.setAlpha(110);
    p.setPen(QPen(c, 1.2));
    p.setBrush(fill);
    p.drawPath(area);
    reachExact(p, c);
}

// Global: matching patches everywhere in the picture.
void reachGlobal(QPainter& p, const QColor& c)
{
    QColor fill = c;
    fill.setAlpha(150);
    p.setPen(QPen(c, 1.2));
    p.setBrush(fill);
    p.drawEllipse(QRectF(1.5, 1.5, 7, 6));
    p.drawEllipse(QRectF(15.5, 16, 7, 6.5));
    p.drawEllipse(QRectF(1.5, 13, 12, 9.5));
    reachExact(p, c);
}

void brushTool(const char* name, const QColor& c, void (*reach)(QPainter&, const QColor&))
{
    drawIcon(name, 24, 24, [&](QPainter& p) {
        reach(p, c);
        brush(p, c);
    });
}

QPainterPath magnifierPath(QPointF centre, qreal radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

void magnifier(QPainter& p, QPointF centre, qreal radius, qreal handle, qreal width)
{
    const qreal d = radius / std::sqrt(2.0);
    p.setPen(QPen(kInk, width * 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(d, d), centre + QPointF(d + handle, d + handle));
    p.setPen(QPen(kInk, width));
    p.setBrush(QColor(220, 235, 250));
    p.drawPath(magnifierPath(centre, radius));
}

void plusMinus(QPainter& p, QPointF centre, qreal arm, bool plus, qreal width)
{
    p.setPen(QPen(kInk, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(centre - QPointF(arm, 0), centre + QPointF(arm, 0));
    if (plus)
        p.drawLine(centre - QPointF(0, arm), centre + QPointF(0, arm));
}

// An open hand seen from the palm, fingers up, thumb to the left. In a 16 x 17 box.
QPainterPath openHandPath()
{
    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    hand.addRoundedRect(QRectF(3, 7, 11, 9), 3, 3);
    hand.addRoundedRect(QRectF(3, 1.5, 2.6, 8), 1.3, 1.3);
    hand.addRoundedRect(QRectF(5.8, 0, 2.6, 9), 1.3, 1.3);
    hand.addRoundedRect(QRectF(8.6, 0.5, 2.6, 9), 1.3, 1.3);
    hand.addRoundedRect(QRectF(11.4, 2.5, 2.6, 8), 1.3, 1.3);
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-1, -1.3, 7, 2.6), 1.3, 1.3);
    QTransform t;
    t.translate(2.5, 10.5);
    t.rotate(40);
    hand.addPath(t.map(thumb));
    return hand.simplified();
}

// A closed fist, knuckles up. In a 16 x 17 box.
QPainterPath grabHandPath()
{
    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    hand.addRoundedRect(QRectF(3, 6, 12, 10), 3.5, 3.5);
    for (int i = 0; i < 4; ++i)
        hand.addRoundedRect(QRectF(3 + i * 3, 4, 3, 5), 1.5, 1.5);
    hand.addRoundedRect(QRectF(1, 8, 4, 5), 2, 2);
    return hand.simplified();
}

// A hand pointing up with its index finger, the finger's tip at (5, 1).
QPainterPath pointHandPath()
{
    QPainterPath hand;
    hand.setFillRule(Qt::WindingFill);
    hand.addRoundedRect(QRectF(3.5, 0.5, 3, 10), 1.5, 1.5);
    hand.addRoundedRect(QRectF(3, 8, 11, 9), 3, 3);
    for (int i = 0; i < 3; ++i)
        hand.addRoundedRect(QRectF(6.2 + i * 2.8, 6.5, 2.8, 4.5), 1.4, 1.4);
    hand.addRoundedRect(QRectF(0.5, 10, 4.5, 3.5), 1.7, 1.7);
    return hand.simplified();
}

// An eye-dropper from the lower-left corner (its tip) up to the upper right, in a box of side s.
void pipette(QPainter& p, qreal s, const QColor& ink, const QColor& glass, qreal width)
{
    p.save();
    p.scale(s / 24.0, s / 24.0);
    p.translate(2, 22);
    p.rotate(-45);
    p.setPen(QPen(ink, width * 24.0 / s));
    // Tip and glass tube.
    QPainterPath tube;
    tube.moveTo(0, 0);
    tube.lineTo(4, -1.6);
    tube.lineTo(16, -1.6);
    tube.lineTo(16, 1.6);
    tube.lineTo(4, 1.6);
    tube.closeSubpath();
    p.setBrush(glass);
    p.drawPath(tube);
    // Collar and bulb.
    p.setBrush(ink);
    p.drawRect(QRectF(16, -3.2, 2, 6.4));
    p.drawRoundedRect(QRectF(18, -2.4, 7, 4.8), 2.4, 2.4);
    p.restore();
}

void checker(QPainter& p, const QRectF& r, qreal cell)
{
    p.save();
    p.setClipRect(r);
    p.setPen(Qt::NoPen);
    for (int y = 0; y * cell < r.height(); ++y)
        for (int x = 0; x * cell < r.width(); ++x) {
            p.setBrush(((x + y) & 1) ? QColor(200, 200, 200) : QColor(250, 250, 250));
            p.drawRect(QRectF(r.x() + x * cell, r.y() + y * cell, cell, cell));
        }
    p.restore();
}

void vertex(QPainter& p, QPointF at, const QColor& c)
{
    p.setPen(QPen(kInk, 0.8));
    p.setBrush(c);
    p.drawRect(QRectF(at.x() - 1.7, at.y() - 1.7, 3.4, 3.4));
}

QPen patchPen()
{
    QPen pen(kPatch, 1.6, Qt::CustomDashLine);
    pen.setDashPattern({2.0, 1.2});
    return pen;
}

void drawToolIcons()
{
    brushTool("tool_keep_exact", kKeep, reachExact);
    brushTool("tool_keep_local", kKeep, reachLocal);
    brushTool("tool_keep_global", kKeep, reachGlobal);
    brushTool("tool_delete_exact", kDelete, reachExact);
    brushTool("tool_delete_local", kDelete, reachLocal);
    brushTool("tool_delete_global", kDelete, reachGlobal);
    brushTool("tool_complex_exact", kBlend, reachExact);
    brushTool("tool_complex_local", kBlend, reachLocal);
    brushTool("tool_complex_global", kBlend, reachGlobal);
    brushTool("tool_erase_exact", kErase, reachExact);
    brushTool("tool_erase_local", kErase, reachLocal);
    brushTool("tool_erase_global", kErase, reachGlobal);

    drawIcon("tool_image_pan", 24, 24, [](QPainter& p) {
        p.translate(3, 3);
        p.scale(1.15, 1.1);
        p.setPen(QPen(kInk, 1.1));
        p.setBrush(QColor(250, 225, 195));
        p.drawPath(openHandPath());
        p.setPen(QPen(kInk, 0.8));
        p.drawLines(QVector<QLineF>{{5.7, 3, 5.7, 8.5}, {8.5, 2, 8.5, 8.5}, {11.3, 3, 11.3, 8.5}});
    });

    drawIcon("tool_image_zoom", 24, 24, [](QPainter& p) {
        magnifier(p, QPointF(9.5, 9.5), 7, 7, 1.6);
        plusMinus(p, QPointF(9.5, 9.5), 3.5, true, 1.8);
    });

    // Clean: a Keep area whose small holes are being filled.
    drawIcon("tool_filter_clean", 24, 24, [](QPainter& p) {
        p.setPen(QPen(kKeep.darker(130), 1.2));
        p.setBrush(kKeep);
        p.drawRoundedRect(QRectF(2.5, 4.5, 19, 15), 3, 3);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(5, 7, 3.5, 3.5));
        p.drawEllipse(QRectF(6, 13.5, 2.5, 2.5));
        p.drawEllipse(QRectF(10, 9.5, 2.5, 2.5));
        // The filled side, marked by a sparkle.
        p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
        const QPointF s(17, 12);
        p.drawLine(s - QPointF(3, 0), s + QPointF(3, 0));
        p.drawLine(s - QPointF(0, 3), s + QPointF(0, 3));
        p.drawLine(s - QPointF(1.8, 1.8), s + QPointF(1.8, 1.8));
        p.drawLine(s - QPointF(1.8, -1.8), s + QPointF(1.8, -1.8));
    });

    // Select: the pointer arrow.
    drawIcon("tool_region_select", 24, 24, [](QPainter& p) {
        QPolygonF arrow({{6, 2}, {6, 19}, {10, 15}, {13, 22}, {16, 20.5}, {13, 14}, {18.5, 14}});
        p.setPen(QPen(kInk, 1.3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.setBrush(Qt::white);
        p.drawPolygon(arrow);
    });

    // Forced edge: a drawn line with its vertices.
    drawIcon("tool_mark_edge", 24, 24, [](QPainter& p) {
        const QPolygonF line({{3.5, 19.5}, {8, 6}, {15, 16}, {20.5, 4.5}});
        p.setPen(QPen(QColor(255, 255, 255, 200), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(line);
        p.setPen(QPen(kEdge, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(line);
        for (const QPointF& v : line)
            vertex(p, v, Qt::white);
    });

    drawIcon("tool_region_rect", 24, 24, [](QPainter& p) {
        QColor fill = kPatch;
        fill.setAlpha(50);
        p.setBrush(fill);
        p.setPen(patchPen());
        p.drawRect(QRectF(3.5, 5.5, 17, 13));
        for (QPointF v : {QPointF(3.5, 5.5), QPointF(20.5, 5.5), QPointF(3.5, 18.5), QPointF(20.5, 18.5)})
            vertex(p, v, kPatch);
    });

    drawIcon("tool_region_poly", 24, 24, [](QPainter& p) {
        const QPolygonF poly({{4, 8}, {13, 2.5}, {21, 10}, {17, 21}, {6, 18}});
        QColor fill = kPatch;
        fill.setAlpha(50);
        p.setBrush(fill);
        p.setPen(patchPen());
        p.drawPolygon(poly);
        for (const QPointF& v : poly)
            vertex(p, v, kPatch);
    });

    // Patch brush: a patch outline painted with the brush.
    drawIcon("tool_region_exact", 24, 24, [](QPainter& p) {
        QPainterPath area;
        area.moveTo(2, 16);
        area.cubicTo(2, 9, 9, 8, 13, 11);
        area.cubicTo(17, 14, 16, 22, 10, 22);
        area.cubicTo(5, 22.5, 2, 21, 2, 16);
        QColor fill = kPatch;
        fill.setAlpha(60);
        p.setBrush(fill);
        p.setPen(patchPen());
        p.drawPath(area);
        brush(p, kPatch);
    });

    // Preview cut-out: a dashed frame with the cut-out object over transparency.
    drawIcon("tool_mark_preview", 24, 24, [](QPainter& p) {
        const QRectF frame(2.5, 2.5, 19, 19);
        checker(p, frame, 3);
        p.setPen(QPen(kKeep.darker(140), 1));
        p.setBrush(QColor(90, 170, 230));
        p.drawEllipse(QRectF(6, 6, 12, 12));
        p.setBrush(Qt::NoBrush);
        p.setPen(patchPen());
        p.drawRect(frame);
    });

    drawIcon("pipette", 24, 24, [](QPainter& p) {
        pipette(p, 24, kInk, QColor(200, 225, 245), 1.2);
    });
}

// ---------------------------------------------------------------------------------------------
// Cursor pictures, 32 x 32. Drawn without smoothing, so that every pixel is black or white.

QImage monoCanvas()
{
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// Writes a data picture (white inside, black outline unless outline is false) and a mask
// picture (the shape with its outline) for a shape. extra draws more black onto the data picture.
void cursorPair(const char* dataName, const char* maskName, const QPainterPath& shape,
                const std::function<void(QPainter&)>& extra = {}, bool outline = true)
{
    QImage data = monoCanvas();
    {
        QPainter p(&data);
        p.setPen(outline ? QPen(Qt::black, 1) : QPen(Qt::white, 1));
        p.setBrush(Qt::white);
        p.drawPath(shape);
        p.setPen(QPen(Qt::black, 1));
        if (extra)
            extra(p);
    }
    save(data, dataName);
    if (maskName) {
        QImage mask = monoCanvas();
        QPainter p(&mask);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::black);
        p.drawPath(shape);
        p.end();
        save(mask, maskName);
    }
}

// Lines between the fingers, drawn over the outline of a hand.
std::function<void(QPainter&)> fingerGaps(std::initializer_list<QLineF> lines)
{
    const QVector<QLineF> copy(lines);
    return [copy](QPainter& p) { p.drawLines(copy); };
}

QPainterPath translated(const QPainterPath& path, qreal dx, qreal dy)
{
    return QTransform::fromTranslate(dx, dy).map(path);
}

void drawCursors()
{
    // The hands are drawn so that their hot spots fall as the tools expect:
    // pointing finger (5, 1), open hand (7, 7), fist (8, 9).
    cursorPair("curs_data_handpoint", "curs_mask_handpoint", pointHandPath(),
               fingerGaps({{9, 7, 9, 10}, {12, 7, 12, 10}}));
    cursorPair("curs_data_handopen", "curs_mask_handopen", translated(openHandPath(), 0, 0.5),
               fingerGaps({{6, 3, 6, 8}, {9, 2, 9, 8}, {11, 3, 11, 8}}));
    cursorPair("curs_data_handgrab", "curs_mask_handgrab", translated(grabHandPath(), 0, 0.5),
               fingerGaps({{6, 5, 6, 8}, {9, 5, 9, 8}, {12, 5, 12, 8}}));

    // Zoom: lens centred on the hot spot (6, 6), handle to the lower right; one mask for all.
    QPainterPath lens;
    lens.addEllipse(QPointF(6.5, 6.5), 6, 6);
    QPainterPath handle;
    handle.moveTo(10, 11.5);
    handle.lineTo(11.5, 10);
    handle.lineTo(18, 16.5);
    handle.lineTo(16.5, 18);
    handle.closeSubpath();
    const QPainterPath zoom = lens.united(handle).simplified();
    const auto sign = [](bool plus) {
        return [plus](QPainter& p) {
            p.setPen(QPen(Qt::black, 1));
            p.drawLine(3, 6, 9, 6);
            if (plus)
                p.drawLine(6, 3, 6, 9);
        };
    };
    cursorPair("curs_data_zoomin", "curs_mask_zoom", zoom, sign(true));
    cursorPair("curs_data_zoomout", nullptr, zoom, sign(false));
    // Unavailable: the lens crossed out.
    cursorPair("curs_data_zoomunavailable", nullptr, zoom, [](QPainter& p) {
        p.setPen(QPen(Qt::black, 1));
        p.drawLine(3, 3, 9, 9);
        p.drawLine(3, 9, 9, 3);
    });

    // Polygon: cross hairs at (5, 16) and a small polygon beside them, black lines on a white
    // rim.
    const QVector<QLineF> hairs{{5, 11, 5, 21}, {0, 16, 10, 16}};
    const QPolygonF glyph({{15, 19}, {21, 15}, {28, 19}, {26, 27}, {17, 27}, {15, 19}});
    QPainterPath lines;
    for (const QLineF& l : hairs) {
        lines.moveTo(l.p1());
        lines.lineTo(l.p2());
    }
    lines.addPolygon(glyph);
    QPainterPathStroker stroker;
    stroker.setWidth(3);
    stroker.setCapStyle(Qt::SquareCap);
    stroker.setJoinStyle(Qt::MiterJoin);
    QPainterPath rim = stroker.createStroke(lines);
    rim.setFillRule(Qt::WindingFill);
    cursorPair("curs_data_poly", "curs_mask_poly", rim.simplified(), [&](QPainter& p) {
        p.drawLines(hairs);
        p.drawPolyline(glyph);
    }, false);

    // Pipette: its tip at (0, 31).
    QPainterPath dropper;
    {
        QPainterPath body;
        body.setFillRule(Qt::WindingFill);
        body.moveTo(0, 0);
        body.lineTo(5, -2);
        body.lineTo(21, -2);
        body.lineTo(21, 2);
        body.lineTo(5, 2);
        body.closeSubpath();
        body.addRect(QRectF(21, -4, 3, 8));
        body.addRoundedRect(QRectF(24, -3, 9, 6), 3, 3);
        QTransform t;
        t.translate(0, 32);
        t.rotate(-45);
        dropper = t.map(body).simplified();
    }
    cursorPair("curs_data_pipette", "curs_mask_pipette", dropper, [&](QPainter& p) {
        // The collar and bulb are solid black, the tube stays white.
        QPainterPath solid;
        solid.addRect(QRectF(21, -4, 3, 8));
        solid.addRoundedRect(QRectF(24, -3, 9, 6), 3, 3);
        QTransform t;
        t.translate(0, 32);
        t.rotate(-45);
        p.setBrush(Qt::black);
        p.drawPath(t.map(solid));
    });
}

// ---------------------------------------------------------------------------------------------
// Slider handles and small button icons.

void drawSmallPictures()
{
    const auto handle = [](const char* name, int w, int h) {
        drawIcon(name, w, h, [w, h](QPainter& p) {
            const QRectF r(0.5, 0.5, w - 1, h - 1);
            QLinearGradient g(r.topLeft(), w > h ? r.bottomLeft() : r.topRight());
            g.setColorAt(0, QColor(250, 250, 252));
            g.setColorAt(1, QColor(190, 195, 205));
            p.setPen(QPen(QColor(95, 100, 110), 1));
            p.setBrush(g);
            p.drawRoundedRect(r, 2.5, 2.5);
            // Three grip lines across the handle.
            p.setPen(QPen(QColor(120, 125, 135), 1));
            for (int i = -1; i <= 1; ++i) {
                if (w < h) {
                    const qreal y = h / 2.0 + i * 3;
                    p.drawLine(QPointF(3, y), QPointF(w - 3, y));
                } else {
                    const qreal x = w / 2.0 + i * 3;
                    p.drawLine(QPointF(x, 3), QPointF(x, h - 3));
                }
            }
        });
    };
    handle("slider_handle_horizontal", 11, 19);
    handle("slider_handle_vertical", 19, 11);

    drawIcon("nav_zoom_in", 16, 16, [](QPainter& p) {
        magnifier(p, QPointF(6.5, 6.5), 5, 4.5, 1.2);
        plusMinus(p, QPointF(6.5, 6.5), 2.6, true, 1.4);
    });
    drawIcon("nav_zoom_out", 16, 16, [](QPainter& p) {
        magnifier(p, QPointF(6.5, 6.5), 5, 4.5, 1.2);
        plusMinus(p, QPointF(6.5, 6.5), 2.6, false, 1.4);
    });

    // Two chevrons: pointing down to show more, up to hide it again.
    const auto chevrons = [](QPainter& p, bool down) {
        p.setPen(QPen(kInk, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        for (qreal y : {4.0, 9.0}) {
            const qreal tip = down ? y + 3.5 : y;
            const qreal base = down ? y : y + 3.5;
            p.drawPolyline(QPolygonF({{3.5, base}, {8, tip}, {12.5, base}}));
        }
    };
    drawIcon("2arrow-show-icon-16x16", 16, 16, [&](QPainter& p) { chevrons(p, true); });
    drawIcon("2arrow-hide-icon-16x16", 16, 16, [&](QPainter& p) { chevrons(p, false); });
}

// ---------------------------------------------------------------------------------------------
// The background picker's checkerboard backdrop and its swap arrow.

void drawBackgroundPictures()
{
    // Four 8 x 8 squares, so that the texture tiles into an even checkerboard. Two tones, black
    // and white: read as a bitmap, the swatch's colour paints the black squares.
    QImage board(16, 16, QImage::Format_Mono);
    board.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    board.fill(0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if ((x < 8) == (y < 8))
                board.setPixel(x, y, 1);
    save(board, "background_checker");

    // A quarter-circle arrow with a head at either end: one pointing left at the front swatch,
    // one pointing down at the back swatch.
    drawIcon("background_swap", 16, 16, [](QPainter& p) {
        p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::FlatCap));
        p.setBrush(Qt::NoBrush);
        QPainterPath arc;
        arc.moveTo(5, 3.5);
        arc.arcTo(QRectF(-4, 3.5, 16.5, 16.5), 90, -90);
        p.drawPath(arc);
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawPolygon(QPolygonF({{0.5, 3.5}, {5.5, 0.5}, {5.5, 6.5}}));
        p.drawPolygon(QPolygonF({{12.5, 15.5}, {9.5, 10.5}, {15.5, 10.5}}));
    });
}


// ---------------------------------------------------------------------------------------------
// The colour workspace: mask buckets, the two display modes, the view eyes and the sampler.

// A paint bucket tipped to the right, pouring the kind colour (an empty bucket without one).
void bucket(const char* name, const QColor& paint)
{
    drawIcon(name, 22, 19, [paint](QPainter& p) {
        p.setPen(QPen(kInk, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(paint.isValid() ? paint.lighter(130) : QColor(235, 235, 235));
        p.drawPolygon(QPolygonF({{3, 6}, {13, 6}, {12, 17}, {4, 17}}));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4, 1, 8, 9), 0, 180 * 16);
        if (paint.isValid()) {
            p.setPen(Qt::NoPen);
            p.setBrush(paint);
            QPainterPath pour;
            pour.moveTo(13, 6);
            pour.cubicTo(17, 6, 19, 9, 19, 13);
            pour.lineTo(17, 13);
            pour.cubicTo(17, 10, 15, 8.5, 13, 8.5);
            pour.closeSubpath();
            p.drawPath(pour);
            p.drawEllipse(QRectF(16.5, 13.5, 3.5, 4.5));
        }
    });
}

// An open eye whose iris has the class colour.
void eye(const char* name, const QColor& iris)
{
    drawIcon(name, 16, 16, [iris](QPainter& p) {
        QPainterPath lid;
        lid.moveTo(1, 8);
        lid.quadTo(8, 1, 15, 8);
        lid.quadTo(8, 15, 1, 8);
        p.setPen(QPen(kInk, 1.1));
        p.setBrush(Qt::white);
        p.drawPath(lid);
        p.setBrush(iris);
        p.drawEllipse(QPointF(8, 8), 3.2, 3.2);
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawEllipse(QPointF(8, 8), 1.2, 1.2);
    });
}

void drawColourWorkspacePictures()
{
    bucket("bucket_keep", kKeep);
    bucket("bucket_delete", kDelete);
    bucket("bucket_blend", kBlend);
    bucket("bucket_unassigned", QColor());

    // Histogram: bars of rising and falling height; colour map: a grid of coloured cells.
    drawIcon("cws_histogram_mode", 32, 16, [](QPainter& p) {
        const int heights[] = {3, 6, 10, 13, 9, 5, 8, 11, 6, 3};
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 10; ++i) {
            p.setBrush(QColor::fromHsv(i * 30, 170, 210));
            p.drawRect(QRectF(2 + i * 2.8, 15 - heights[i], 2.4, heights[i]));
        }
        p.setPen(QPen(kInk, 1));
        p.drawLine(QPointF(1, 15.5), QPointF(31, 15.5));
    });
    drawIcon("cws_colourmap_mode", 32, 16, [](QPainter& p) {
        p.setPen(Qt::NoPen);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) {
                p.setBrush(QColor::fromHsl(x * 40, 180, 60 + y * 40));
                p.drawRect(QRectF(4 + x * 3, 1 + (3 - y) * 3.5, 3, 3.5));
            }
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kInk, 1));
        p.drawRect(QRectF(3.5, 0.5, 25, 15));
    });

    eye("grey-eye-16x16", QColor(150, 150, 150));
    eye("green-eye-16x16", kKeep);
    eye("red-eye-16x16", kDelete);
    eye("blue-eye-16x16", kBlend);

    drawIcon("pipette-box-icon", 24, 24, [](QPainter& p) {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(250, 250, 245));
        p.drawRoundedRect(QRectF(0.5, 0.5, 23, 23), 3, 3);
        pipette(p, 24, kInk, QColor(250, 230, 120), 1.2);
    });
}

// ---------------------------------------------------------------------------------------------
// The main window's command icons, 24 x 24, and the Open command's 16 x 13 open folder.

// A curved arrow: round the top from one side to the other, its head pointing down.
void curvedArrow(QPainter& p, bool leftwards)
{
    p.save();
    if (leftwards) {
        p.translate(24, 0);
        p.scale(-1, 1);
    }
    p.setPen(QPen(QColor(40, 95, 180), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath arc;
    arc.moveTo(5, 18);
    arc.cubicTo(4, 8, 15, 4, 18, 12);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 95, 180));
    p.drawPolygon(QPolygonF({{13.5, 11}, {22, 10}, {18.5, 18}}));
    p.restore();
}

// A clean icon: a mask-coloured area with two holes and the sparkle; the last-selection one
// shows a brush stroke instead of an area.
void cleanIcon(const char* name, const QColor& c, bool stroke)
{
    drawIcon(name, 24, 24, [&](QPainter& p) {
        p.setPen(QPen(c.darker(130), 1.2));
        p.setBrush(c);
        if (stroke) {
            QPainterPath path;
            path.moveTo(3, 18);
            path.cubicTo(6, 6, 12, 20, 17, 6);
            p.setPen(QPen(c, 6, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawPath(path);
        } else {
            p.drawRoundedRect(QRectF(2.5, 4.5, 19, 15), 3, 3);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(5, 8, 3, 3));
        p.drawEllipse(QRectF(10, 12, 2.5, 2.5));
        p.setPen(QPen(stroke ? kInk : Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
        const QPointF s(18, 16);
        p.drawLine(s - QPointF(3, 0), s + QPointF(3, 0));
        p.drawLine(s - QPointF(0, 3), s + QPointF(0, 3));
        p.drawLine(s - QPointF(1.8, 1.8), s + QPointF(1.8, 1.8));
        p.drawLine(s - QPointF(1.8, -1.8), s + QPointF(1.8, -1.8));
    });
}

void drawCommandIcons()
{
    drawIcon("stock_undo", 24, 24, [](QPainter& p) { curvedArrow(p, true); });
    drawIcon("stock_redo", 24, 24, [](QPainter& p) { curvedArrow(p, false); });

    // Stop: a red disc with a white cross.
    drawIcon("stock_stop", 24, 24, [](QPainter& p) {
        p.setPen(QPen(QColor(150, 20, 20), 1.2));
        p.setBrush(QColor(215, 40, 40));
        p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
        p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(16, 16));
        p.drawLine(QPointF(16, 8), QPointF(8, 16));
    });

    // Preferences: three sliders with their knobs at different places.
    drawIcon("stock_preferences", 24, 24, [](QPainter& p) {
        const qreal knobs[] = {8, 16, 11};
        for (int i = 0; i < 3; ++i) {
            const qreal y = 6 + i * 6;
            p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(3, y), QPointF(21, y));
            p.setPen(QPen(kInk, 1));
            p.setBrush(QColor(235, 235, 240));
            p.drawRoundedRect(QRectF(knobs[i] - 2.5, y - 3, 5, 6), 1.2, 1.2);
        }
    });

    drawIcon("stock_zoom-in", 24, 24, [](QPainter& p) {
        magnifier(p, QPointF(9.5, 9.5), 7, 7, 1.6);
        plusMinus(p, QPointF(9.5, 9.5), 3.5, true, 1.8);
    });
    drawIcon("stock_zoom-out", 24, 24, [](QPainter& p) {
        magnifier(p, QPointF(9.5, 9.5), 7, 7, 1.6);
        plusMinus(p, QPointF(9.5, 9.5), 3.5, false, 1.8);
    });

    // Clean All: the three mask colours side by side.
    drawIcon("tool_filter_clean_all", 24, 24, [](QPainter& p) {
        const QColor colours[] = {kKeep, kDelete, kBlend};
        for (int i = 0; i < 3; ++i) {
            p.setPen(QPen(colours[i].darker(130), 1));
            p.setBrush(colours[i]);
            p.drawRect(QRectF(2.5 + i * 6.5, 4.5, 6, 15));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(4, 8, 2.5, 2.5));
        p.drawEllipse(QRectF(11, 13, 2.5, 2.5));
        p.drawEllipse(QRectF(17, 9, 2.5, 2.5));
    });
    cleanIcon("tool_filter_clean_keep", kKeep, false);
    cleanIcon("tool_filter_clean_delete", kDelete, false);
    cleanIcon("tool_filter_clean_complex", kBlend, false);
    cleanIcon("tool_filter_clean_last", kKeep, true);

    // Create Cut-out: scissors over a dashed outline.
    drawIcon("tool_cmd_mask", 24, 24, [](QPainter& p) {
        p.setPen(QPen(kInk, 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2.5, 2.5, 19, 19));
        p.setPen(QPen(kInk, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(7, 5), QPointF(16, 16));
        p.drawLine(QPointF(17, 5), QPointF(8, 16));
        p.setPen(QPen(kDelete, 1.6));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(4.5, 15, 5, 5));
        p.drawEllipse(QRectF(14.5, 15, 5, 5));
    });

    // Open: a yellow folder with its front flap open, 16 x 13, without smoothing.
    QImage folder = canvas(16, 13);
    {
        QPainter p(&folder);
        const QColor outline(0x04, 0x04, 0x04);
        const QColor body(0x80, 0x83, 0x04);
        const QColor light(0xf3, 0xf7, 0x04);
        const QColor white(0xf3, 0xf7, 0xf3);
        p.setPen(outline);
        p.setBrush(body);
        p.drawPolygon(QPolygon({{0, 2}, {1, 1}, {5, 1}, {6, 2}, {12, 2}, {12, 11}, {0, 11}}));
        p.setPen(white);
        p.drawLine(1, 3, 5, 3);
        p.setPen(outline);
        p.setBrush(light);
        p.drawPolygon(QPolygon({{3, 5}, {15, 5}, {12, 11}, {0, 11}}));
        p.setPen(white);
        p.drawLine(4, 6, 13, 6);
    }
    save(folder, "stock_open");
}

// ---------------------------------------------------------------------------------------------
// Tool palette: the brand logo (blue and plain), the colour workspace entry and the three
// screen-mode pictures.

// A stylised falcon's wing above the product's name, 64 x 40: as wide as the palette's two
// columns.
QPainterPath wingPath()
{
    QPainterPath w;
    w.moveTo(14, 24);
    w.cubicTo(22, 8, 36, 2, 50, 3);
    w.cubicTo(40, 8, 34, 14, 31, 21);
    w.cubicTo(26, 19, 20, 21, 14, 24);
    return w;
}

void brandLogo(const char* name, const QColor& wing, const QColor& text)
{
    drawIcon(name, 64, 40, [&](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(wing);
        p.drawPath(wingPath());
        QFont font;
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.setPen(text);
        p.drawText(QRectF(0, 25, 64, 14), Qt::AlignCenter, QStringLiteral("Kestrine 3"));
    });
}

// A monitor 13 x 12: frame, screen, stand; the screen shows a title bar and a menu row as the
// mode keeps them.
void screenMode(const char* name, bool titleBar, bool menu)
{
    QImage image = canvas(13, 12);
    {
        QPainter p(&image);
        p.setPen(kInk);
        p.setBrush(QColor(235, 240, 250));
        p.drawRect(0, 0, 12, 9);
        p.fillRect(5, 10, 3, 1, kInk);
        p.fillRect(3, 11, 7, 1, kInk);
        if (titleBar)
            p.fillRect(1, 1, 11, 2, QColor(40, 95, 180));
        if (menu)
            p.fillRect(1, titleBar ? 3 : 1, 11, 1, QColor(150, 150, 160));
    }
    save(image, name);
}

void drawPalettePictures()
{
    brandLogo("brand_logo_blue", QColor(40, 95, 180), QColor(40, 95, 180));
    brandLogo("brand_logo", QColor(110, 110, 118), QColor(60, 60, 66));

    // An artist's palette with a thumb hole and four mask-coloured dabs.
    drawIcon("palette", 24, 24, [](QPainter& p) {
        QPainterPath board;
        board.addEllipse(QRectF(2, 4, 20, 16));
        QPainterPath hole;
        hole.addEllipse(QRectF(13, 13, 4, 4));
        p.setPen(QPen(QColor(130, 90, 50), 1.2));
        p.setBrush(QColor(225, 190, 140));
        p.drawPath(board.subtracted(hole));
        p.setPen(Qt::NoPen);
        const QColor dabs[] = {kKeep, kDelete, kBlend, kPatch};
        const QPointF at[] = {{7, 9}, {12, 7.5}, {17, 9}, {7, 14.5}};
        for (int i = 0; i < 4; ++i) {
            p.setBrush(dabs[i]);
            p.drawEllipse(at[i], 2.2, 2.2);
        }
    });

    screenMode("scrn-mode-nrml-13x12", true, true);
    screenMode("scrn-mode-full-menu-13x12", false, true);
    screenMode("scrn-mode-full-13x12", false, false);
}

// ---------------------------------------------------------------------------------------------
// The splash screen, 480 x 300: the brand's wing and name on a pale sky, a cut-out corner over
// the background picker's checkerboard, and the three mask colours as a stripe along the foot.

void drawSplash()
{
    const QColor brand(40, 95, 180);
    QImage image(480, 300, QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, 300);
        sky.setColorAt(0, QColor(235, 240, 250));
        sky.setColorAt(1, Qt::white);
        p.fillRect(image.rect(), sky);

        // A leaf cut out of its picture: the checkerboard shows where the picture has gone.
        const QRectF corner(310, 160, 140, 100);
        checker(p, corner, 10);
        QPainterPath leaf;
        leaf.moveTo(330, 244);
        leaf.cubicTo(338, 190, 392, 172, 432, 176);
        leaf.cubicTo(428, 220, 384, 250, 330, 244);
        p.setPen(QPen(kKeep.darker(140), 1.5));
        p.setBrush(kKeep);
        p.drawPath(leaf);
        p.setPen(QPen(kKeep.darker(160), 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(334, 240), QPointF(420, 186));
        p.setPen(patchPen());
        p.setBrush(Qt::NoBrush);
        p.drawRect(corner);

        // The wing, four times the logo's, and the name beneath it.
        p.save();
        p.translate(10, 10);
        p.scale(4, 4);
        p.setPen(Qt::NoPen);
        p.setBrush(brand);
        p.drawPath(wingPath());
        p.restore();
        QFont name;
        name.setPixelSize(46);
        name.setBold(true);
        p.setFont(name);
        p.setPen(brand);
        p.drawText(QRectF(40, 112, 260, 56), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kestrine 3"));

        const QColor stripe[] = {kKeep, kDelete, kBlend};
        for (int i = 0; i < 3; ++i)
            p.fillRect(QRectF(i * 160, 288, 160, 12), stripe[i]);
        p.setPen(QPen(brand, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(0.5, 0.5, 479, 299));
    }
    save(image, "splash");
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_outDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    drawToolIcons();
    drawCursors();
    drawSmallPictures();
    drawBackgroundPictures();
    drawColourWorkspacePictures();
    drawCommandIcons();
    drawPalettePictures();
    drawSplash();
    return g_failures == 0 ? 0 : 1;
}
