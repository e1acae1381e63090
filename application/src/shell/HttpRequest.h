#pragma once
// One fixed web address fetched with GET on request: the update and news checks. Remembers,
// per request group, until when the user asked not to be reminded ("<group>SupressUntil") and,
// when caching, the digest of the last page the user accepted ("<group>Cache") so the same
// page is not offered twice. A forced transfer ignores both.

#include <QObject>
#include <QSettings>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

class HttpRequest : public QObject {
    Q_OBJECT
public:
    HttpRequest(const QString& url, const QString& group, bool cache, QObject* parent = nullptr);
    ~HttpRequest() override;

    const QString& url() const { return m_url; }
    const QString& group() const { return m_group; }
    bool isCaching() const { return m_cache; }
    bool isForced() const { return m_force; }
    void setForce(bool force) { m_force = force; }
    // A reply is in flight; kicks are ignored until it has finished.
    bool isBusy() const { return m_reply != nullptr; }
    bool isSuppressed();

    int statusCode() const { return m_statusCode; }
    const QString& reason() const { return m_reason; }
    const QString& body() const { return m_body; }

    // The digest the cache compares: MD5 of the UTF-8 text from the first "<html" through the
    // first "</html>"; empty unless both are found in that order.
    static QByteArray pageDigest(const QString& body);

signals:
    // The page, for the receiver to offer; it answers whether the user accepted it. Connect
    // directly only: the answer is read on return.
    bool response(const QString& body, bool forced);
    void httpStatusCode(int code);

public slots:
    void kickOffTransfer(bool force);
    void kickOffTransfer();
    // No unforced transfer for the given number of days from now.
    void supress(int days);
    void getFinishedSlot(QNetworkReply* reply);

private:
    void startTransfer();
    QString key(const char* word) const;

    QNetworkAccessManager* m_manager;
    QString m_url;
    QString m_group;
    bool m_cache;
    QNetworkReply* m_reply = nullptr;
    int m_statusCode = 0;
    QString m_reason;
    QString m_body;
    QSettings m_settings;
    bool m_force = false;
};
