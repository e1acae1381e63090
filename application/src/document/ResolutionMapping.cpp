#include "document/ResolutionMapping.h"

#include "document/GmModel.h"
#include "document/KsSourceImage.h"

#include <cmath>

namespace {

double divisor()
{
    return GmModel::instance()->resolution();
}

} // namespace

QPointF dividePointF(const QPointF& p, double s)
{
    const double f = 1.0 / s;
    return QPointF(p.x() * f, p.y() * f);
}

QPointF toWorkspacePoint(const QPointF& p)
{
    return dividePointF(p, divisor());
}

QPointF scalePointByResolution(const QPointF& p)
{
    return p * divisor();
}

QRectF scaleRectByResolution(const QRectF& r)
{
    const double d = divisor();
    return QRectF(r.x() * d, r.y() * d, r.width() * d, r.height() * d);
}

QRectF unscaleRectByResolution(const QRectF& r)
{
    const double d = divisor();
    return QRectF(r.x() / d, r.y() / d, r.width() / d, r.height() / d);
}

QRectF roundRectF(const QRectF& r)
{
    QRectF out;
    out.setCoords(std::floor(r.left() + 0.5), std::floor(r.top() + 0.5), std::floor(r.right() + 0.5),
                  std::floor(r.bottom() + 0.5));
    return out;
}

QPointF roundedPointScaledByResolution(const QPointF& p)
{
    return QPointF(std::floor(p.x() + 0.5), std::floor(p.y() + 0.5)) * divisor();
}

void alignRectToPixels(QRectF& r)
{
    r.setCoords(std::floor(r.left()), std::floor(r.top()), std::ceil(r.right()), std::ceil(r.bottom()));
}

QRectF growRect(const QRectF& r, double m)
{
    return r.adjusted(-m, -m, m, m);
}

QRect workingImageRect()
{
    GmModel* model = GmModel::instance();
    const KsSourceImage* source = model->source();
    if (!source || !source->isValid())
        return QRect();
    const int d = model->resolution();
    return QRect(0, 0, (source->width() + d - 1) / d, (source->height() + d - 1) / d);
}

QRectF imageRect()
{
    const KsSourceImage* source = GmModel::instance()->source();
    if (!source || !source->isValid())
        return QRectF();
    return QRectF(0, 0, source->width(), source->height());
}

namespace ks {

bool rectsOverlap(const QRectF& a, const QRectF& b)
{
    if (a.width() < 0 || a.height() < 0 || b.width() < 0 || b.height() < 0)
        return false;
    return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom() && b.top() <= a.bottom();
}

double squaredDistanceToSegment(const QPointF& p, const QPointF& a, const QPointF& b)
{
    const QPointF ab = b - a;
    const double len2 = QPointF::dotProduct(ab, ab);
    double t = len2 > 0 ? QPointF::dotProduct(p - a, ab) / len2 : 0.0;
    t = qBound(0.0, t, 1.0);
    const QPointF q = a + ab * t - p;
    return QPointF::dotProduct(q, q);
}

} // namespace ks
