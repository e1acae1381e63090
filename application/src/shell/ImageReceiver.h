#pragma once
// One per drop on the canvas: gathers the candidate images (one carried by the drop, local
// files named by dropped addresses, images fetched from dropped web addresses and from web
// addresses in their queries), shows progress while fetches run, and hands on the one with the
// most pixels once. Deletes itself after its last fetch has ended.

#include "document/ImageMemory.h"
#include "document/NamedImage.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QUrl>

class NetworkImageGetter;
class QDropEvent;
class QMimeData;


class ImageReceiver : public QObject {
    Q_OBJECT
public:
    // Gathers the candidates the mime data names; fetches start with the header requests.
    explicit ImageReceiver(const QMimeData* data, QObject* parent = nullptr);
    // Takes the progress dialog with it.
    ~ImageReceiver() override;

    // The canvas's drop sink: accepts a drop carrying addresses, an image or text, and starts
    // a receiver unless it carries only text.
    static void receiveMimeData(QDropEvent* event);
    // A receiver on the data whose best image goes to the main window's received-image slot;
    // it deletes itself when finished.
    static ImageReceiver* create(const QMimeData* data);
    // An address with a host and the scheme "http" or "ftp".
    static bool isNetworkUrl(const QUrl& url);

    // Opens the progress dialog when fetches run, and finishes at once when none do.
    void start();

    const NamedImage& best() const { return m_best; }
    int getterCount() const { return m_getters.size(); }
    QProgressDialog* progressDialog() const { return m_progress; }

signals:
    // By value: a receiver may ask questions before it takes the image.
    void bestImage(NamedImage image);
    void finished();

public slots:
    void imageReceivedSlot(const NamedImage& image);
    // Tells the user that an image (named as it came) does not fit in the memory available.
    void notEnoughMemorySlot(const QString& name, const imagememory::Shortage& shortage);
    // The finish step, also the progress dialog's Cancel: hands on the best image, or warns
    // that there is none.
    void cancelSlot();
    void possiblyFinished();

private:
    void addUrl(const QUrl& url);
    // The picture the drop itself carries.
    void takeCarriedImage(const QMimeData* data);

    NamedImage m_best;
    QList<QPointer<NetworkImageGetter>> m_getters;
    QPointer<QProgressDialog> m_progress;
    // Addresses taken so far: a drop often names one address both as text and as a URL.
    QList<QUrl> m_seen;
    bool m_emitted = false;
    // The best image is being handed on; the end of the last fetch meanwhile waits for it.
    bool m_handingOn = false;
    bool m_finishDeferred = false;
    bool m_warned = false;
    bool m_finished = false;
};
