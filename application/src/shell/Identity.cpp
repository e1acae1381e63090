#include "shell/Identity.h"

namespace {

QString g_webRoot;

} // namespace

QString organizationName()
{
    return QStringLiteral("OrlenthTech");
}

QString organizationDomain()
{
    return QStringLiteral("orlenthtech.example");
}

QString applicationName()
{
    return QStringLiteral("Kestrine3");
}

QString supportAddress()
{
    return QStringLiteral("support@orlenthtech.example");
}

QString versionNumber()
{
    return QStringLiteral("3.3.8");
}

QString versionLine()
{
    return QStringLiteral("Version: ") + versionNumber() + QStringLiteral(" (") + sourceRevision()
           + QStringLiteral("); Linux");
}

QString currentFolderName()
{
    return QStringLiteral("current");
}

QString editionKey()
{
    return QStringLiteral("ks_3");
}

QString webRoot()
{
    return g_webRoot.isEmpty() ? QStringLiteral("http://www.orlenthtech.example") : g_webRoot;
}

void setWebRoot(const QString& root)
{
    g_webRoot = root;
}

QString webPageUrl(const QString& path)
{
    return QStringLiteral("%1/%2").arg(webRoot(), path);
}
