#pragma once
// Fetches one image from a dropped "http" or "ftp" address: a HEAD request first, and a GET
// only when the content type names an image format we can read. Emits finished() once, after
// the image (if any); the receiver that made it deletes it then. A body larger than the size
// limit is never held: the transfer is aborted as soon as its announced or received size
// passes it. The body is read as a file would be (EncodedImage): weighed from its header
// before it is decoded, PNG and TIFF by the program's own readers.

#include "document/ImageMemory.h"
#include "document/NamedImage.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

class NetworkImageGetter : public QObject {
    Q_OBJECT
public:
    enum State { Idle = 0, HeaderRequested = 1, ImageRequested = 2 };

    explicit NetworkImageGetter(const QUrl& url, QObject* parent = nullptr);
    ~NetworkImageGetter() override;

    // Sends the header request.
    void start();

    const QUrl& url() const { return m_url; }
    int state() const { return m_state; }
    const QByteArray& format() const { return m_format; }

    // 512 MiB: the most a fetched image may take before it is decoded.
    static const qint64 defaultSizeLimit;
    static qint64 sizeLimit();
    // Tests only: another limit; zero or less restores the default.
    static void setSizeLimit(qint64 bytes);

signals:
    void imageReceived(const NamedImage& image);
    // The image does not fit in the memory available; nothing of it was decoded.
    void notEnoughMemory(const QString& name, const imagememory::Shortage& shortage);
    void finished();

public slots:
    void replyFinished(QNetworkReply* reply);

private:
    void headerReceived(QNetworkReply* reply);
    void imageBodyReceived(QNetworkReply* reply);
    // Aborts the image transfer once its size passes the limit.
    void watchSize(QNetworkReply* reply);
    void logUnsupported(const QString& contentType) const;
    void logUndecodable(const QString& reason = QString()) const;

    QUrl m_url;
    QNetworkAccessManager* m_manager;
    QImage m_image;
    int m_state = Idle;
    QByteArray m_format;
    bool m_tooLarge = false;
};
