#include "shell/NetworkImageGetter.h"

#include "document/EncodedImage.h"
#include "shell/Klogger.h"

#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

qint64 g_sizeLimit = 0;

} // namespace

const qint64 NetworkImageGetter::defaultSizeLimit = qint64(512) * 1024 * 1024;

qint64 NetworkImageGetter::sizeLimit()
{
    return g_sizeLimit > 0 ? g_sizeLimit : defaultSizeLimit;
}

void NetworkImageGetter::setSizeLimit(qint64 bytes)
{
    g_sizeLimit = bytes;
}

NetworkImageGetter::NetworkImageGetter(const QUrl& url, QObject* parent)
    : QObject(parent), m_url(url), m_manager(new QNetworkAccessManager(this))
{
    connect(m_manager, &QNetworkAccessManager::finished, this, &NetworkImageGetter::replyFinished);
}

NetworkImageGetter::~NetworkImageGetter() = default;

void NetworkImageGetter::start()
{
    m_state = HeaderRequested;
    m_manager->head(QNetworkRequest(m_url));
}

void NetworkImageGetter::replyFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    // A body that passed the limit in its last piece ends here too, before it is decoded.
    if (m_state == ImageRequested && (m_tooLarge || reply->bytesAvailable() > sizeLimit())) {
        logUndecodable(QStringLiteral("larger than %1 bytes").arg(sizeLimit()));
        emit finished();
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        emit finished();
        return;
    }
    switch (m_state) {
    case HeaderRequested:
        headerReceived(reply);
        return;
    case ImageRequested:
        imageBodyReceived(reply);
        return;
    default:
        emit finished();
    }
}

void NetworkImageGetter::headerReceived(QNetworkReply* reply)
{
    const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    if (!contentType.contains(QLatin1String("image"))) {
        logUnsupported(contentType);
        emit finished();
        return;
    }
    // PNG and TIFF have readers of their own; Qt's reads the others.
    QList<QByteArray> formats{QByteArrayLiteral("png"), QByteArrayLiteral("tiff")};
    formats += QImageReader::supportedImageFormats();
    for (const QByteArray& format : formats) {
        if (contentType.contains(QString::fromLatin1(format))) {
            m_format = format;
            m_state = ImageRequested;
            QNetworkReply* body = m_manager->get(QNetworkRequest(m_url));
            watchSize(body);
            return;
        }
    }
    logUnsupported(contentType);
    emit finished();
}

void NetworkImageGetter::watchSize(QNetworkReply* reply)
{
    const auto check = [this, reply](qint64 bytes) {
        if (bytes > sizeLimit() && !m_tooLarge) {
            m_tooLarge = true;
            reply->abort();
        }
    };
    // The announced length stops a large transfer before its body arrives; the count of
    // bytes received stops one that announced none.
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, check] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            check(length.toLongLong());
    });
    connect(reply, &QNetworkReply::downloadProgress, this,
            [check](qint64 received, qint64 total) { check(qMax(received, total)); });
}

void NetworkImageGetter::imageBodyReceived(QNetworkReply* reply)
{
    const EncodedImage decoded = EncodedImage::read(reply->readAll(), m_format);
    m_image = decoded.image;
    if (decoded.shortage.isSet()) {
        logUndecodable(QStringLiteral("not enough memory"));
        emit notEnoughMemory(m_url.toDisplayString(), decoded.shortage);
    } else if (m_image.isNull()) {
        logUndecodable(decoded.reason);
    } else {
        emit imageReceived(NamedImage(m_image, m_url));
    }
    emit finished();
}

void NetworkImageGetter::logUnsupported(const QString& contentType) const
{
    Klogger::stream() << "NetworkImageGetter: Failed to load image " << m_url.toString()
                      << " Unsupported content type: " << contentType << Klogger::endl;
}

void NetworkImageGetter::logUndecodable(const QString& reason) const
{
    QTextStream& line = Klogger::stream();
    line << "NetworkImageGetter: Failed to load image " << m_url.toString() << ", format: "
         << QString::fromLatin1(m_format);
    if (!reason.isEmpty())
        line << " (" << reason << ')';
    line << Klogger::endl;
}
