#pragma once
// The tip window's text browser. It never navigates: a link opens in the desktop's browser,
// a relative one as a page under the local help root.

#include <QTextBrowser>

#include <functional>

class Browser : public QTextBrowser {
    Q_OBJECT
public:
    // Gives the help root: a URL text without a trailing slash to which "/" and the page are
    // appended.
    using HelpRootHook = std::function<QString()>;

    explicit Browser(QWidget* parent = nullptr);

    // The application points this at its local help pages; without a hook (tests) the root is
    // "file:///Help/en".
    static void setHelpRootHook(HelpRootHook hook);
    static QString helpRoot();
    // What a link opens: a relative address under the help root, any other unchanged.
    static QUrl linkTarget(const QUrl& url);
    // Opens the address in the desktop's browser; when none can be started, tells the user
    // the address in a message over parent, to be copied. False when nothing was opened.
    static bool openOnDesktop(const QUrl& address, QWidget* parent);

public slots:
    // An empty source is the browser's own; any other opens on the desktop.
    void setSource(const QUrl& name) override;
};
