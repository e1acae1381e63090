#include "document/NamedImage.h"

NamedImage::NamedImage(const QImage& image, const QUrl& url) : QImage(image), m_url(url) {}

QString NamedImage::name() const
{
    return m_url.fileName();
}
