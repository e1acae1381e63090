#include "UrlCatcher.h"

#include <QDesktopServices>

namespace testsupport {

UrlCatcher::UrlCatcher(const QStringList& schemes) : m_schemes(schemes)
{
    for (const QString& scheme : m_schemes)
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
}

UrlCatcher::~UrlCatcher()
{
    for (const QString& scheme : m_schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void UrlCatcher::openUrl(const QUrl& url)
{
    m_urls.append(url);
}

} // namespace testsupport
