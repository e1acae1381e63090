#include "Browser.h"

#include <QDesktopServices>

namespace {

Browser::HelpRootHook& helpRootHook()
{
    static Browser::HelpRootHook hook;
    return hook;
}

} // namespace

Browser::Browser(QWidget* parent) : QTextBrowser(parent) {}

void Browser::setHelpRootHook(HelpRootHook hook)
{
    helpRootHook() = std::move(hook);
}

QString Browser::helpRoot()
{
    if (const HelpRootHook& hook = helpRootHook())
        return hook();
    return QStringLiteral("file:///Help/en");
}

QUrl Browser::linkTarget(const QUrl& url)
{
    if (!url.isRelative())
        return url;
    return QUrl(helpRoot() + QLatin1Char('/') + url.toString());
}

void Browser::setSource(const QUrl& name)
{
    if (name.isEmpty()) {
        QTextBrowser::setSource(name);
        return;
    }
    QDesktopServices::openUrl(linkTarget(name));
}
