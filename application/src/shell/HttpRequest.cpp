#include "shell/HttpRequest.h"

#include "shell/Klogger.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

HttpRequest::HttpRequest(const QString& url, const QString& group, bool cache, QObject* parent)
    : QObject(parent), m_manager(new QNetworkAccessManager(this)), m_url(url), m_group(group), m_cache(cache)
{
    connect(m_manager, &QNetworkAccessManager::finished, this, &HttpRequest::getFinishedSlot);
}

HttpRequest::~HttpRequest()
{
    disconnect(m_manager, &QNetworkAccessManager::finished, this, &HttpRequest::getFinishedSlot);
    delete m_manager;
}

QString HttpRequest::key(const char* word) const
{
    return m_group + QLatin1String(word);
}

void HttpRequest::kickOffTransfer(bool force)
{
    m_force = force;
    if (!isBusy())
        startTransfer();
}

void HttpRequest::kickOffTransfer()
{
    m_force = false;
    if (!isBusy())
        startTransfer();
}

bool HttpRequest::isSuppressed()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QVariant stored = m_settings.value(key("SupressUntil"));
    const QDateTime threshold =
        stored.isValid() ? QDateTime::fromSecsSinceEpoch(qint64(stored.toULongLong())) : now;
    Klogger::stream() << m_group << " Current : " << now.toString() << " Threshold: " << threshold.toString()
                      << Klogger::endl;
    return now < threshold;
}

void HttpRequest::supress(int days)
{
    const QDateTime until = QDateTime::currentDateTime().addDays(days);
    m_settings.setValue(key("SupressUntil"), quint64(until.toSecsSinceEpoch()));
    m_settings.sync();
    Klogger::stream() << m_group << " supressed until " << until.toString() << Klogger::endl;
}

void HttpRequest::startTransfer()
{
    if (!m_force && isSuppressed())
        return;
    m_statusCode = 0;
    m_reason.clear();
    m_body.clear();
    m_reply = m_manager->get(QNetworkRequest(QUrl(m_url)));
}

QByteArray HttpRequest::pageDigest(const QString& body)
{
    const int start = body.indexOf(QLatin1String("<html"));
    const QLatin1String endMarker("</html>");
    const int end = body.indexOf(endMarker);
    if (start < 0 || end < 0 || end + endMarker.size() <= start)
        return QByteArray();
    const QString page = body.mid(start, end + endMarker.size() - start);
    return QCryptographicHash::hash(page.toUtf8(), QCryptographicHash::Md5);
}

void HttpRequest::getFinishedSlot(QNetworkReply* reply)
{
    if (!reply)
        return;
    if (reply != m_reply) {
        reply->deleteLater();
        return;
    }
    // An HTTP error status (404 and the like) is an answer, not a failure to get one.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() != QNetworkReply::NoError && !status.isValid()) {
        Klogger::stream() << QStringLiteral("Error getting URL: %1. %2").arg(m_url, reply->errorString())
                          << Klogger::endl;
    } else {
        m_body = QString::fromUtf8(reply->readAll());
        m_statusCode = status.toInt();
        m_reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        emit httpStatusCode(m_statusCode);
        if (m_statusCode != 200) {
            Klogger::stream() << QStringLiteral("Http request for %1 return no error but non-200 status code %2 - %3")
                                     .arg(m_url, QString::number(m_statusCode), m_reason)
                              << Klogger::endl;
        } else {
            const QByteArray digest = m_cache ? pageDigest(m_body) : QByteArray();
            const bool unchanged = m_cache && !digest.isEmpty()
                                   && digest == m_settings.value(key("Cache")).toByteArray();
            if (!unchanged || m_force) {
                // The receiver may run a modal prompt; a kick meanwhile still finds this reply
                // in flight and sends nothing.
                const bool accepted = emit response(m_body, m_force);
                if (m_cache && accepted) {
                    m_settings.setValue(key("Cache"), digest);
                    m_settings.sync();
                }
            }
        }
    }
    m_reply = nullptr;
    reply->deleteLater();
}
