#include "KsWorkspace.h"

#include "ImageView.h"

KsWorkspace::KsWorkspace(ImageView* view)
    : QScrollArea(view), m_view(view)
{
    setFrameShape(QFrame::NoFrame);
    setBackgroundRole(QPalette::Dark);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}
