#pragma once
// Catches the addresses that the program asks the desktop to open (QDesktopServices::openUrl)
// while it lives, so that tests start no browser and can check what would have opened.

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace testsupport {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    explicit UrlCatcher(const QStringList& schemes = {QStringLiteral("http"),
                                                      QStringLiteral("https"),
                                                      QStringLiteral("file"),
                                                      QStringLiteral("mailto")});
    ~UrlCatcher() override;

    const QList<QUrl>& urls() const { return m_urls; }
    void clear() { m_urls.clear(); }

public slots:
    void openUrl(const QUrl& url);

private:
    QStringList m_schemes;
    QList<QUrl> m_urls;
};

} // namespace testsupport
