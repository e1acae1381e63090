#include "panels/Browser.h"

#include "document/Prompt.h"
#include "document/Texts.h"

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

bool Browser::openOnDesktop(const QUrl& address, QWidget* parent)
{
    if (QDesktopServices::openUrl(address))
        return true;
    // Qt has logged why; the user would otherwise see nothing happen at all.
    const QString text = QStringLiteral("<p>")
                         + tr("No web browser could be started to open this address. You can copy it and "
                              "open it yourself:",
                              "[all]")
                         + QStringLiteral("</p><p>") + address.toDisplayString().toHtmlEscaped()
                         + QStringLiteral("</p>");
    Prompt::warningToCopy(parent, QStringLiteral("%1 - %2").arg(productName(), tr("No Web Browser", "[all]")), text);
    return false;
}

void Browser::setSource(const QUrl& name)
{
    if (name.isEmpty()) {
        QTextBrowser::setSource(name);
        return;
    }
    openOnDesktop(linkTarget(name), this);
}
