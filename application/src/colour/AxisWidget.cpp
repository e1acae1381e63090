#include "colour/AxisWidget.h"

#include "colour/ColourDisplay.h"
#include "colour/ColourWorkspace.h"

#include <QFontMetrics>
#include <QPainter>

AxisWidget::AxisWidget(QWidget* parent) : QWidget(parent) {}

void AxisWidget::resetCachedHint()
{
    m_cachedHint = QSize(-1, -1);
    updateGeometry();
}

bool AxisWidget::inHistogramPanel() const
{
    // The panel puts the strip on its content widget, which sits in the panel.
    const QWidget* parent = parentWidget();
    const auto* panel = parent ? qobject_cast<const ColourWorkspace*>(parent->parentWidget()) : nullptr;
    return panel && panel->colourDisplay() && panel->colourDisplay()->mode() == ColourDisplay::HistogramMode;
}

QString AxisWidget::labelText() const
{
    QString name;
    switch (m_channel) {
    case Ht::colour::Hue:
        name = tr("Hue");
        break;
    case Ht::colour::Lightness:
        name = tr("Lightness");
        break;
    case Ht::colour::Saturation:
        name = tr("Saturation");
        break;
    case Ht::colour::Red:
        name = tr("Red");
        break;
    case Ht::colour::Green:
        name = tr("Green");
        break;
    case Ht::colour::Blue:
        name = tr("Blue");
        break;
    case Ht::colour::NonRGB:
        name = tr("Non RGB");
        break;
    default:
        return QString();
    }
    if (m_orientation == Qt::Vertical && inHistogramPanel())
        return tr("Frequency (") + name + QStringLiteral(")");
    return name;
}

QSize AxisWidget::sizeHint() const
{
    if (m_cachedHint.width() >= 0 && m_cachedHint.height() >= 0)
        return m_cachedHint;
    QSize hint(1, 1);
    const QFontMetrics metrics(font());
    for (const QString& label : m_labels)
        hint = hint.expandedTo(metrics.boundingRect(label).size());
    hint.rwidth() += 10;
    if (m_orientation == Qt::Vertical)
        hint.transpose();
    m_cachedHint = hint;
    return hint;
}

void AxisWidget::paintEvent(QPaintEvent*)
{
    QSize area = size();
    if (m_orientation == Qt::Vertical)
        area.transpose();
    const QString text = labelText();
    const QFontMetrics metrics(font());
    const QRect bounds = metrics.boundingRect(text);
    const int x = (area.width() - bounds.width()) / 2;
    const int y = metrics.ascent() + (area.height() - bounds.height()) / 2;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_orientation == Qt::Horizontal) {
        painter.translate(x, y);
    } else {
        painter.translate(y, bounds.width() + x);
        painter.rotate(-90);
    }
    painter.drawText(0, 0, text);
}
