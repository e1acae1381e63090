#include "document/Texts.h"

#include <QCoreApplication>

QString productName()
{
    return QStringLiteral("Kestrine 3");
}

QString logTimeStamp()
{
    return logTimeStamp(QTime::currentTime());
}

QString logTimeStamp(const QTime& time)
{
    return time.toString(QStringLiteral("hh:mm:ss.zzz "));
}

QString ks::link(const QString& text, const QString& url)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text);
}

QString learnMoreParagraph(const QString& url)
{
    if (url.isEmpty())
        return QString();
    return QStringLiteral("<p>") + ks::link(ksAppTr("Learn More", "[tip]"), url)
           + QStringLiteral("</p>");
}

QString ksAppTr(const char* text, const char* disambiguation)
{
    return QCoreApplication::translate("KsApp", text, disambiguation, -1);
}

QString forcedEdgeToolTr(const char* text, const char* disambiguation)
{
    return QCoreApplication::translate("ForcedEdgeTool", text, disambiguation, -1);
}

QString edgeFindingTr(const char* text, const char* disambiguation)
{
    return QCoreApplication::translate("EdgeDetectionOptions", text, disambiguation, -1);
}
