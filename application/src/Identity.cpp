#include "Identity.h"

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
