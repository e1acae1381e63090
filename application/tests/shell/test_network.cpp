// The web requests on their own, against a scripted server on the loopback interface: the
// update and news request's suppression, page digest and failures, the image getter's header
// and body requests with the size limit, and the receiver that picks the largest candidate of
// a drop.

#include "shell/HttpRequest.h"
#include "shell/ImageReceiver.h"
#include "shell/NetworkImageGetter.h"

#include "HttpResponder.h"
#include "RunLog.h"
#include "ScriptedPrompt.h"
#include "Wait.h"
#include "ScratchFiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QMimeData>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

using testsupport::flushDeferredDeletes;
using testsupport::HttpResponder;
using testsupport::runLogHas;
using testsupport::ScriptedPrompt;
using testsupport::waitDeleted;
using testsupport::waitUntil;

using testsupport::scratchPath;

namespace {

const QString newsPath = QStringLiteral("/news.htm");

// Lets a request that should not be sent have every chance to be.
void settle(int milliseconds = 300)
{
    waitUntil([] { return false; }, milliseconds);
}

QUrl localPng(const QString& name, int width, int height, QColor colour = Qt::red)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    const QString path = scratchPath(name);
    image.save(path, "PNG");
    return QUrl::fromLocalFile(path);
}

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.isListening());
        QSettings().clear();
    }
    void TearDown() override
    {
        QSettings().clear();
        NetworkImageGetter::setSizeLimit(0);
        flushDeferredDeletes();
    }

    // "/slow.png", a 40 x 30 picture that comes after the delay.
    void serveSlowPng(int delay)
    {
        HttpResponder::Answer slow;
        slow.contentType = "image/png";
        slow.body = HttpResponder::pngBytes(40, 30);
        slow.delay = delay;
        m_server.answer("/slow.png", slow);
    }

    // A news request whose receiver answers as told and records what it was offered.
    struct Offers {
        QStringList bodies;
        QList<bool> forced;
        bool accept = true;
    };
    void listen(HttpRequest& request, Offers& offers)
    {
        QObject::connect(
            &request, &HttpRequest::response, &request,
            [&offers](const QString& body, bool forced) {
                offers.bodies.append(body);
                offers.forced.append(forced);
                return offers.accept;
            },
            Qt::DirectConnection);
    }
    bool finished(HttpRequest& request, int requests)
    {
        return waitUntil([&] { return m_server.count() >= requests && !request.isBusy(); }, 10000);
    }

    HttpResponder m_server;
};

// ---- Update and news requests -------------------------------------------------------------------

TEST_F(NetworkTest, ASuppressedRequestSendsOnlyWhenForced)
{
    QSettings().setValue("NewsSupressUntil", quint64(QDateTime::currentSecsSinceEpoch() + 86400));
    m_server.answer(newsPath, HttpResponder::page("<html>news</html>"));
    HttpRequest request(m_server.url(newsPath), "News", true);
    request.kickOffTransfer();
    settle();
    EXPECT_EQ(m_server.count(), 0);
    EXPECT_FALSE(request.isBusy());
    request.kickOffTransfer(true);
    ASSERT_TRUE(finished(request, 1));
    EXPECT_EQ(m_server.requests(), QStringList{"GET " + newsPath});
    EXPECT_TRUE(runLogHas(QStringLiteral("News Current : ")));
}

TEST_F(NetworkTest, AKickWhileAReplyIsInFlightSendsNothing)
{
    HttpResponder::Answer slow = HttpResponder::page("<html>news</html>");
    slow.delay = 400;
    m_server.answer(newsPath, slow);
    HttpRequest request(m_server.url(newsPath), "News", true);
    Offers offers;
    listen(request, offers);
    request.kickOffTransfer();
    ASSERT_TRUE(waitUntil([&] { return m_server.count() == 1; }));
    request.kickOffTransfer();
    request.kickOffTransfer(true);
    ASSERT_TRUE(finished(request, 1));
    settle();
    EXPECT_EQ(m_server.count(), 1);
    EXPECT_EQ(offers.bodies.size(), 1);
}

TEST_F(NetworkTest, AnAcceptedPageIsNotOfferedAgainUnlessForced)
{
    const QByteArray first = "<!DOCTYPE x><html><p>Version 9 is out</p></html>\ntrailer 1";
    m_server.answer(newsPath, HttpResponder::page(first));
    HttpRequest request(m_server.url(newsPath), "News", true);
    Offers offers;
    listen(request, offers);

    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 1));
    ASSERT_EQ(offers.bodies, QStringList{QString::fromUtf8(first)});
    EXPECT_EQ(offers.forced, QList<bool>{false});
    const QByteArray digest =
        QCryptographicHash::hash("<html><p>Version 9 is out</p></html>", QCryptographicHash::Md5);
    EXPECT_EQ(QSettings().value("NewsCache").toByteArray(), digest);

    // Only the text outside the markers differs: the same page.
    m_server.answer(newsPath, HttpResponder::page("preamble <html><p>Version 9 is out</p></html> trailer 2"));
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 2));
    EXPECT_EQ(offers.bodies.size(), 1);

    request.kickOffTransfer(true);
    ASSERT_TRUE(finished(request, 3));
    ASSERT_EQ(offers.bodies.size(), 2);
    EXPECT_EQ(offers.forced.last(), true);

    m_server.answer(newsPath, HttpResponder::page("<html><p>Version 10 is out</p></html>"));
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 4));
    EXPECT_EQ(offers.bodies.size(), 3);
}

TEST_F(NetworkTest, ADeclinedPageIsOfferedAgainAndAPageWithoutItsEndAlways)
{
    HttpRequest request(m_server.url(newsPath), "News", true);
    Offers offers;
    offers.accept = false;
    listen(request, offers);
    m_server.answer(newsPath, HttpResponder::page("<html><p>news</p></html>"));
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 1));
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 2));
    EXPECT_EQ(offers.bodies.size(), 2);
    EXPECT_FALSE(QSettings().contains("NewsCache"));

    offers.accept = true;
    m_server.answer(newsPath, HttpResponder::page("<html><p>cut short"));
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 3));
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 4));
    EXPECT_EQ(offers.bodies.size(), 4);
    EXPECT_TRUE(QSettings().value("NewsCache").toByteArray().isEmpty());
}

TEST_F(NetworkTest, ANon200AnswerIsLoggedAndNotOffered)
{
    m_server.answer(newsPath, HttpResponder::page("<html>gone</html>", 404, "Not Found"));
    HttpRequest request(m_server.url(newsPath), "News", true);
    Offers offers;
    listen(request, offers);
    QSignalSpy codes(&request, &HttpRequest::httpStatusCode);
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 1));
    ASSERT_EQ(codes.size(), 1);
    EXPECT_EQ(codes.at(0).at(0).toInt(), 404);
    EXPECT_TRUE(offers.bodies.isEmpty());
    EXPECT_EQ(request.reason(), QStringLiteral("Not Found"));
    EXPECT_TRUE(runLogHas(QStringLiteral("Http request for %1 return no error but non-200 status code 404 - Not Found")
                              .arg(m_server.url(newsPath))));
}

TEST_F(NetworkTest, ADroppedConnectionIsLoggedAndTheNextKickSendsAgain)
{
    HttpResponder::Answer drop;
    drop.drop = true;
    m_server.answer(newsPath, drop);
    HttpRequest request(m_server.url(newsPath), "News", true);
    Offers offers;
    listen(request, offers);
    QSignalSpy codes(&request, &HttpRequest::httpStatusCode);
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 1));
    EXPECT_TRUE(codes.isEmpty());
    EXPECT_TRUE(offers.bodies.isEmpty());
    EXPECT_TRUE(runLogHas(QStringLiteral("Error getting URL: %1. ").arg(m_server.url(newsPath))));

    m_server.answer(newsPath, HttpResponder::page("<html>back</html>"));
    request.kickOffTransfer();
    ASSERT_TRUE(finished(request, 2));
    EXPECT_EQ(offers.bodies.size(), 1);
}

TEST_F(NetworkTest, SupressStoresNowPlusTheDays)
{
    HttpRequest request(m_server.url(newsPath), "Update", false);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    request.supress(1);
    const qint64 stored = qint64(QSettings().value("UpdateSupressUntil").toULongLong());
    EXPECT_GE(stored, before + 86400);
    EXPECT_LE(stored, QDateTime::currentSecsSinceEpoch() + 86400);
    EXPECT_TRUE(request.isSuppressed());
}

// ---- Image getter -------------------------------------------------------------------------------

struct GetterRun {
    explicit GetterRun(const QUrl& url) : getter(new NetworkImageGetter(url))
    {
        QObject::connect(getter, &NetworkImageGetter::imageReceived, getter,
                         [this](const NamedImage& image) { images.append(image); });
        QObject::connect(getter, &NetworkImageGetter::finished, getter, [this] { ++finishes; });
        QObject::connect(getter, &NetworkImageGetter::finished, getter, &QObject::deleteLater);
        getter->start();
    }
    bool done() { return waitDeleted(getter, 10000); }

    QPointer<NetworkImageGetter> getter;
    QList<NamedImage> images;
    int finishes = 0;
};

TEST_F(NetworkTest, AnHtmlHeaderEndsTheGetterWithoutAnImageRequest)
{
    m_server.answer("/page.htm", HttpResponder::page("<html></html>"));
    GetterRun run(QUrl(m_server.url("/page.htm")));
    ASSERT_TRUE(run.done());
    EXPECT_EQ(m_server.requests(), QStringList{"HEAD /page.htm"});
    EXPECT_TRUE(run.images.isEmpty());
    EXPECT_EQ(run.finishes, 1);
    EXPECT_TRUE(runLogHas(QStringLiteral("NetworkImageGetter: Failed to load image %1 Unsupported content type: text/html")
                              .arg(m_server.url("/page.htm"))));
}

TEST_F(NetworkTest, APngHeaderLeadsToAGetDecodedAsPng)
{
    m_server.servePng("/big.png", 30, 20);
    GetterRun run(QUrl(m_server.url("/big.png")));
    QByteArray format;
    QObject::connect(run.getter, &NetworkImageGetter::imageReceived, run.getter,
                     [&] { format = run.getter->format(); });
    ASSERT_TRUE(run.done());
    EXPECT_EQ(m_server.requests(), (QStringList{"HEAD /big.png", "GET /big.png"}));
    EXPECT_EQ(format, QByteArray("png"));
    ASSERT_EQ(run.images.size(), 1);
    EXPECT_EQ(run.images[0].size(), QSize(30, 20));
    EXPECT_EQ(run.images[0].url(), QUrl(m_server.url("/big.png")));
    EXPECT_EQ(run.images[0].name(), QStringLiteral("big.png"));
    EXPECT_EQ(run.finishes, 1);
}

TEST_F(NetworkTest, AnUndecodableBodyIsLoggedWithItsFormat)
{
    HttpResponder::Answer broken;
    broken.contentType = "image/png";
    broken.body = "not a png";
    m_server.answer("/broken.png", broken);
    GetterRun run(QUrl(m_server.url("/broken.png")));
    ASSERT_TRUE(run.done());
    EXPECT_TRUE(run.images.isEmpty());
    EXPECT_TRUE(runLogHas(QStringLiteral("NetworkImageGetter: Failed to load image %1, format: png")
                              .arg(m_server.url("/broken.png"))));
}

TEST_F(NetworkTest, ABodyAnnouncedOverTheLimitIsAbortedAtOnce)
{
    HttpResponder::Answer huge;
    huge.contentType = "image/png";
    huge.body = HttpResponder::pngBytes(4, 4);
    huge.announcedLength = NetworkImageGetter::defaultSizeLimit + 1;
    m_server.answer("/huge.png", huge);
    GetterRun run(QUrl(m_server.url("/huge.png")));
    // The server never sends the rest: only the abort ends the getter.
    ASSERT_TRUE(run.done());
    EXPECT_TRUE(run.images.isEmpty());
    EXPECT_EQ(m_server.count("GET"), 1);
    EXPECT_TRUE(runLogHas(QStringLiteral("NetworkImageGetter: Failed to load image %1, format: png (larger than %2 bytes)")
                              .arg(m_server.url("/huge.png"))
                              .arg(NetworkImageGetter::defaultSizeLimit)));
}

TEST_F(NetworkTest, ABodyWithoutLengthThatPassesTheLimitIsAborted)
{
    NetworkImageGetter::setSizeLimit(1000);
    HttpResponder::Answer unannounced;
    unannounced.contentType = "image/png";
    unannounced.body = HttpResponder::pngBytes(200, 200) + QByteArray(4000, 'x');
    unannounced.withoutLength = true;
    m_server.answer("/long.png", unannounced);
    GetterRun run(QUrl(m_server.url("/long.png")));
    ASSERT_TRUE(run.done());
    EXPECT_TRUE(run.images.isEmpty());
    EXPECT_TRUE(runLogHas(QStringLiteral("NetworkImageGetter: Failed to load image %1, format: png (larger than 1000 bytes)")
                              .arg(m_server.url("/long.png"))));
}

// ---- Receiver -----------------------------------------------------------------------------------

void clickCancel(QProgressDialog* dialog)
{
    ASSERT_NE(dialog, nullptr);
    QPushButton* cancel = dialog->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    cancel->click();
}

struct ReceiverRun {
    explicit ReceiverRun(QMimeData* data) : receiver(new ImageReceiver(data))
    {
        QObject::connect(receiver, &ImageReceiver::bestImage, receiver,
                         [this](const NamedImage& image) { handedOn.append(image); });
        QObject::connect(receiver, &ImageReceiver::finished, receiver, &QObject::deleteLater);
        receiver->start();
    }
    bool done() { return waitDeleted(receiver, 10000); }

    QPointer<ImageReceiver> receiver;
    QList<NamedImage> handedOn;
};

TEST_F(NetworkTest, TheLargestLocalImageWinsAndTheFirstAmongEquals)
{
    ScriptedPrompt prompt;
    QMimeData data;
    const QUrl small = localPng("small.png", 10, 10);
    const QUrl large = localPng("large.png", 12, 10);
    const QUrl twin = localPng("twin.png", 12, 10, Qt::blue);
    data.setUrls({small, large, twin});
    ReceiverRun run(&data);
    ASSERT_TRUE(run.done());
    ASSERT_EQ(run.handedOn.size(), 1);
    EXPECT_EQ(run.handedOn[0].url(), large);
    EXPECT_TRUE(prompt.messages().isEmpty());
    EXPECT_EQ(m_server.count(), 0);
}

TEST_F(NetworkTest, AnAddressInTheQueryIsFetchedInsteadOfThePage)
{
    ScriptedPrompt prompt;
    m_server.servePng("/big.png", 40, 30);
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("http://search.example/?imgurl=%1&x=1").arg(m_server.url("/big.png")))});
    ReceiverRun run(&data);
    EXPECT_EQ(run.receiver->getterCount(), 1);
    ASSERT_TRUE(run.done());
    EXPECT_EQ(m_server.requests(), (QStringList{"HEAD /big.png", "GET /big.png"}));
    ASSERT_EQ(run.handedOn.size(), 1);
    EXPECT_EQ(run.handedOn[0].size(), QSize(40, 30));
}

TEST_F(NetworkTest, AnHttpsAddressAloneIsIgnoredWithOneWarning)
{
    ScriptedPrompt prompt;
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("https://127.0.0.1:%1/big.png").arg(m_server.port()))});
    ReceiverRun run(&data);
    ASSERT_TRUE(run.done());
    settle();
    EXPECT_EQ(m_server.count(), 0);
    EXPECT_TRUE(run.handedOn.isEmpty());
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].title, QStringLiteral("Image dropped"));
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Image could not be opened"));
    EXPECT_EQ(prompt.messages()[0].kind, Prompt::Warning);
}

TEST_F(NetworkTest, AnImageAndAnAddressSearchForALargerOne)
{
    ScriptedPrompt prompt;
    m_server.servePng("/big.png", 40, 30);
    QMimeData data;
    QImage carried(20, 20, QImage::Format_RGB32);
    carried.fill(Qt::green);
    data.setImageData(carried);
    data.setUrls({QUrl(m_server.url("/big.png"))});
    ReceiverRun run(&data);
    ASSERT_NE(run.receiver->progressDialog(), nullptr);
    EXPECT_EQ(run.receiver->progressDialog()->labelText(), QStringLiteral("Searching for larger image"));
    EXPECT_EQ(run.receiver->progressDialog()->maximum(), 1);
    ASSERT_TRUE(run.done());
    ASSERT_EQ(run.handedOn.size(), 1);
    EXPECT_EQ(run.handedOn[0].size(), QSize(40, 30));
}

TEST_F(NetworkTest, DroppedTextWithoutAHostIsNoWebAddress)
{
    ScriptedPrompt prompt;
    QImage carried(20, 20, QImage::Format_RGB32);
    carried.fill(Qt::green);
    for (const QString& text : {QStringLiteral("cat"), QStringLiteral("photo.jpg")}) {
        QMimeData data;
        data.setImageData(carried);
        data.setText(text);
        ReceiverRun run(&data);
        EXPECT_EQ(run.receiver->getterCount(), 0) << text.toStdString();
        EXPECT_EQ(run.receiver->progressDialog(), nullptr) << text.toStdString();
        ASSERT_TRUE(run.done());
        ASSERT_EQ(run.handedOn.size(), 1);
        EXPECT_EQ(run.handedOn[0].size(), QSize(20, 20));
    }
    // A web address given as text is still fetched.
    m_server.servePng("/big.png", 40, 30);
    QMimeData data;
    data.setImageData(carried);
    data.setText(m_server.url("/big.png"));
    ReceiverRun run(&data);
    EXPECT_EQ(run.receiver->getterCount(), 1);
    ASSERT_TRUE(run.done());
    ASSERT_EQ(run.handedOn.size(), 1);
    EXPECT_EQ(run.handedOn[0].size(), QSize(40, 30));
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(NetworkTest, CancelHandsOnTheBestSoFarOnceAndTheReceiverOutlivesItsGetters)
{
    ScriptedPrompt prompt;
    serveSlowPng(600);
    QMimeData data;
    data.setUrls({localPng("small.png", 10, 10), QUrl(m_server.url("/slow.png"))});
    ReceiverRun run(&data);
    ASSERT_NE(run.receiver->progressDialog(), nullptr);
    EXPECT_EQ(run.receiver->progressDialog()->labelText(), QStringLiteral("Searching for larger image"));
    clickCancel(run.receiver->progressDialog());
    ASSERT_EQ(run.handedOn.size(), 1);
    EXPECT_EQ(run.handedOn[0].size(), QSize(10, 10));
    flushDeferredDeletes();
    EXPECT_FALSE(run.receiver.isNull());
    ASSERT_TRUE(run.done());
    EXPECT_EQ(m_server.count("GET", "/slow.png"), 1);
    EXPECT_EQ(run.handedOn.size(), 1);
    EXPECT_TRUE(prompt.messages().isEmpty());
}

TEST_F(NetworkTest, TheLastFetchEndingWhileTheImageIsTakenLeavesTheReceiverUntilItIsTaken)
{
    ScriptedPrompt prompt;
    serveSlowPng(300);
    QMimeData data;
    data.setUrls({localPng("small.png", 10, 10), QUrl(m_server.url("/slow.png"))});
    auto* receiver = new ImageReceiver(&data);
    QPointer<ImageReceiver> watched(receiver);
    QPointer<QProgressDialog> dialog;
    bool keptWhileAsking = false;
    QSize taken;
    QRgb pixel = 0;
    // As the main window does: it asks about unsaved changes, in a nested loop, before it
    // reads the image; the last fetch ends meanwhile.
    QObject::connect(receiver, &ImageReceiver::bestImage, receiver, [&](const NamedImage& image) {
        QEventLoop question;
        QElapsedTimer sinceAnswer;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &question, [&] {
            if (!sinceAnswer.isValid() && m_server.count("GET", "/slow.png") == 1)
                sinceAnswer.start();
            if (watched.isNull() || (sinceAnswer.isValid() && sinceAnswer.elapsed() > 1500))
                question.quit();
        });
        poll.start(20);
        question.exec();
        keptWhileAsking = !watched.isNull() && !dialog.isNull();
        taken = image.size();
        pixel = image.pixel(0, 0);
    });
    QObject::connect(receiver, &ImageReceiver::finished, receiver, &QObject::deleteLater);
    receiver->start();
    dialog = receiver->progressDialog();
    clickCancel(dialog);
    EXPECT_TRUE(keptWhileAsking);
    EXPECT_EQ(taken, QSize(10, 10));
    EXPECT_EQ(pixel, QColor(Qt::red).rgba());
    EXPECT_EQ(m_server.count("GET", "/slow.png"), 1);
    // Once the image is taken the receiver goes, with its dialog.
    ASSERT_TRUE(waitDeleted(watched, 10000));
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(NetworkTest, CancelWithNothingFoundWarnsOnlyOnce)
{
    ScriptedPrompt prompt;
    HttpResponder::Answer slow = HttpResponder::page("<html></html>");
    slow.delay = 300;
    m_server.answer("/page.htm", slow);
    QMimeData data;
    data.setUrls({QUrl(m_server.url("/page.htm"))});
    ReceiverRun run(&data);
    EXPECT_EQ(run.receiver->progressDialog()->labelText(), QStringLiteral("Loading images from the Internet"));
    clickCancel(run.receiver->progressDialog());
    ASSERT_TRUE(run.done());
    EXPECT_EQ(prompt.messages().size(), 1);
}

TEST_F(NetworkTest, AnOversizedFetchEndsTheDropWithTheWarning)
{
    ScriptedPrompt prompt;
    HttpResponder::Answer huge;
    huge.contentType = "image/png";
    huge.announcedLength = NetworkImageGetter::defaultSizeLimit * 2;
    m_server.answer("/huge.png", huge);
    QMimeData data;
    data.setUrls({QUrl(m_server.url("/huge.png"))});
    ReceiverRun run(&data);
    ASSERT_TRUE(run.done());
    EXPECT_TRUE(run.handedOn.isEmpty());
    ASSERT_EQ(prompt.messages().size(), 1);
    EXPECT_EQ(prompt.messages()[0].text, QStringLiteral("Image could not be opened"));
}

TEST_F(NetworkTest, OnlyDropsWithAddressesImagesOrTextAreAccepted)
{
    ScriptedPrompt prompt;
    QMimeData text;
    text.setText(QStringLiteral("just some words"));
    QDropEvent textDrop(QPointF(1, 1), Qt::CopyAction | Qt::MoveAction, &text, Qt::LeftButton, Qt::NoModifier);
    textDrop.setAccepted(false);
    ImageReceiver::receiveMimeData(&textDrop);
    EXPECT_TRUE(textDrop.isAccepted());
    EXPECT_EQ(textDrop.dropAction(), Qt::CopyAction);

    QMimeData other;
    other.setData(QStringLiteral("application/x-other"), "bytes");
    QDropEvent otherDrop(QPointF(1, 1), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
    otherDrop.setAccepted(false);
    ImageReceiver::receiveMimeData(&otherDrop);
    EXPECT_FALSE(otherDrop.isAccepted());

    settle(100);
    flushDeferredDeletes();
    EXPECT_TRUE(prompt.messages().isEmpty());
    EXPECT_EQ(m_server.count(), 0);
}

} // namespace
