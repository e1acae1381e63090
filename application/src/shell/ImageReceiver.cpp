#include "shell/ImageReceiver.h"

#include "document/EncodedImage.h"
#include "document/ExifOrientation.h"
#include "document/KsSourceImage.h"
#include "document/Prompt.h"
#include "document/QtImageFiles.h"
#include "document/SourceImageFiles.h"
#include "document/UserFiles.h"
#include "shell/KsMainWindow.h"
#include "shell/NetworkImageGetter.h"

#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QProgressDialog>
#include <QUrlQuery>

#include <string>

ImageReceiver::ImageReceiver(const QMimeData* data, QObject* parent) : QObject(parent)
{
    if (!data)
        return;
    if (data->hasImage())
        takeCarriedImage(data);
    // Qt reports dropped URLs as text too; only real text is read as an address. Read as it
    // stands: a word or a file name is no host, so it must not be made into a web address.
    if (data->hasFormat(QStringLiteral("text/plain")))
        addUrl(QUrl(data->text().trimmed(), QUrl::TolerantMode));
    if (data->hasUrls())
        for (const QUrl& url : data->urls())
            addUrl(url);
}

ImageReceiver::~ImageReceiver()
{
    if (m_progress) {
        disconnect(m_progress.data(), &QProgressDialog::canceled, this, &ImageReceiver::cancelSlot);
        delete m_progress.data();
    }
}

void ImageReceiver::receiveMimeData(QDropEvent* event)
{
    const QMimeData* data = event->mimeData();
    if (!data || !(data->hasUrls() || data->hasImage() || data->hasText()))
        return;
    event->setDropAction(event->proposedAction());
    event->accept();
    if (data->hasUrls() || data->hasImage())
        create(data);
}

ImageReceiver* ImageReceiver::create(const QMimeData* data)
{
    auto* receiver = new ImageReceiver(data);
    if (KsMainWindow* window = KsMainWindow::instance())
        connect(receiver, &ImageReceiver::bestImage, window, &KsMainWindow::receivedImageSlot);
    connect(receiver, &ImageReceiver::finished, receiver, &QObject::deleteLater);
    receiver->start();
    return receiver;
}

bool ImageReceiver::isNetworkUrl(const QUrl& url)
{
    return !url.host().isEmpty()
           && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("ftp"));
}

void ImageReceiver::addUrl(const QUrl& url)
{
    if (!url.isValid() || m_seen.contains(url))
        return;
    m_seen.append(url);
    const QUrlQuery query(url);
    if (!query.isEmpty()) {
        // An image search's result page names the image itself in its query.
        for (const auto& item : query.queryItems(QUrl::FullyDecoded))
            if (item.second.contains(QLatin1Char('.')) && item.second.contains(QLatin1Char(':')))
                addUrl(QUrl::fromEncoded(item.second.toUtf8()));
        return;
    }
    if (isNetworkUrl(url)) {
        const QUrl decoded(QUrl::fromPercentEncoding(url.toString().toUtf8()), QUrl::TolerantMode);
        auto* getter = new NetworkImageGetter(decoded);
        m_getters.append(getter);
        connect(getter, &NetworkImageGetter::imageReceived, this, &ImageReceiver::imageReceivedSlot);
        connect(getter, &NetworkImageGetter::notEnoughMemory, this, &ImageReceiver::notEnoughMemorySlot);
        connect(getter, &NetworkImageGetter::finished, getter, &QObject::deleteLater);
        connect(getter, &QObject::destroyed, this, &ImageReceiver::possiblyFinished);
        getter->start();
        return;
    }
    const QString path = url.toLocalFile();
    if (path.isEmpty())
        return;
    // Read here on the GUI thread: a FIFO would hold the program for good.
    if (!userfiles::mayOpen(path, "Dropped file"))
        return;
    // PNG and TIFF are read as the File menu reads them, never by Qt's reader: Qt reads no TIFF
    // here, and takes whatever memory a PNG's chunks claim.
    const std::string localPath = QFile::encodeName(path).toStdString();
    const bool ownFormat = sourceimagefiles::looksLikePng(localPath) || sourceimagefiles::looksLikeTiff(localPath);
    QImage image;
    if (!ownFormat) {
        // Weighed from its header first, as from the File menu: a few megabytes of JPEG may
        // claim gigabytes of pixels.
        if (!qtImageFileFits(path, KsMainWindow::instance())) {
            m_warned = true;
            return;
        }
        image = readQtImageFile(path);
    }
    if (!image.isNull()) {
        // A photo is turned upright as it would be when opened from the File menu.
        applyExifOrientation(path, image);
    } else if (ownFormat || !QImageReader::imageFormat(path).isEmpty()) {
        // A picture of ours, or one Qt refused as damaged: the File menu's reader tells the
        // user its name and the reason when it cannot read it either.
        KsSourceImage source(path);
        if (source.isValid())
            image = source.qImage().copy();
        else
            m_warned = true;
    }
    imageReceivedSlot(NamedImage(image, url));
}

void ImageReceiver::takeCarriedImage(const QMimeData* data)
{
    // Another program's drop carries the picture as the bytes of a file, which Qt would decode
    // whatever memory it claims: they are read as a fetched picture's are.
    bool carriesBytes = false;
    for (const QString& format : data->formats()) {
        if (!format.startsWith(QLatin1String("image/")))
            continue;
        const QByteArray bytes = data->data(format);
        if (bytes.isEmpty())
            continue;
        carriesBytes = true;
        const EncodedImage decoded = EncodedImage::read(bytes, format.mid(6).toLatin1());
        if (decoded.shortage.isSet()) {
            notEnoughMemorySlot(tr("(the dropped picture)"), decoded.shortage);
            return;
        }
        if (!decoded.image.isNull()) {
            m_best = NamedImage(decoded.image, QUrl());
            return;
        }
        qWarning("ImageReceiver: the dropped %s cannot be read: %s", qUtf8Printable(format),
                 qUtf8Printable(decoded.reason));
    }
    // A drag within the program holds the picture itself.
    if (!carriesBytes)
        m_best = NamedImage(qvariant_cast<QImage>(data->imageData()), QUrl());
}

void ImageReceiver::notEnoughMemorySlot(const QString& name, const imagememory::Shortage& shortage)
{
    m_warned = true;
    imagememory::tell(name, shortage, KsMainWindow::instance());
}

void ImageReceiver::imageReceivedSlot(const NamedImage& image)
{
    if (image.isNull())
        return;
    const qint64 pixels = qint64(image.width()) * image.height();
    const qint64 bestPixels = m_best.isNull() ? 0 : qint64(m_best.width()) * m_best.height();
    if (pixels > bestPixels)
        m_best = image;
}

void ImageReceiver::start()
{
    if (!m_getters.isEmpty()) {
        const QString label = m_best.isNull() ? tr("Loading images from the Internet")
                                              : tr("Searching for larger image");
        m_progress = new QProgressDialog(label, tr("Cancel"), 0, m_getters.size(), KsMainWindow::instance());
        connect(m_progress.data(), &QProgressDialog::canceled, this, &ImageReceiver::cancelSlot);
    }
    possiblyFinished();
}

void ImageReceiver::possiblyFinished()
{
    if (m_finished)
        return;
    int gone = 0;
    for (const QPointer<NetworkImageGetter>& getter : m_getters)
        if (!getter)
            ++gone;
    if (m_progress)
        m_progress->setValue(gone);
    if (gone == m_getters.size()) {
        m_finished = true;
        cancelSlot();
        if (m_handingOn)
            m_finishDeferred = true;
        else
            emit finished();
    }
}

void ImageReceiver::cancelSlot()
{
    if (m_best.isNull()) {
        // Once per drop: a cancel with nothing found and the fetches' end say the same.
        if (!m_warned) {
            m_warned = true;
            Prompt::warning(KsMainWindow::instance(), tr("Image dropped"), tr("Image could not be opened"));
        }
        return;
    }
    if (!m_emitted) {
        m_emitted = true;
        // The main window asks about unsaved changes first, running the event loop: the last
        // fetch may end meanwhile. The receiver, and the progress dialog whose Cancel may have
        // brought us here, stay until the image has been taken.
        m_handingOn = true;
        emit bestImage(m_best);
        m_handingOn = false;
        if (m_finishDeferred)
            emit finished();
    }
}
