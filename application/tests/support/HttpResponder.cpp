#include "HttpResponder.h"

#include <QBuffer>
#include <QColor>
#include <QHostAddress>
#include <QImage>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <random>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

HttpResponder::HttpResponder(quint16 port) : m_server(new QTcpServer(this))
{
    m_server->listen(QHostAddress::LocalHost, port);
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

HttpResponder::~HttpResponder() = default;

quint16 HttpResponder::freePort()
{
    // Below the kernel's range for outgoing connections: between this call and the listen, the
    // many loopback connections of tests running beside this one could otherwise take the port
    // as their own end.
    int low = 32768;
    if (FILE* range = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        int first = 0;
        if (std::fscanf(range, "%d", &first) == 1 && first > 2048)
            low = first;
        std::fclose(range);
    }
    std::random_device seed;
    std::mt19937 pick(seed());
    std::uniform_int_distribution<int> ports(1024, low - 1);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return 0;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(ports(pick)));
        const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        close(fd);
        if (bound)
            return ntohs(address.sin_port);
    }
    return 0;
}

bool HttpResponder::isListening() const
{
    return m_server->isListening();
}

quint16 HttpResponder::port() const
{
    return m_server->serverPort();
}

QString HttpResponder::root() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

QString HttpResponder::url(const QString& path) const
{
    return root() + path;
}

void HttpResponder::answer(const QString& path, const Answer& answer, const QByteArray& method)
{
    if (method.isEmpty()) {
        m_answers.insert(QStringLiteral("HEAD ") + path, answer);
        m_answers.insert(QStringLiteral("GET ") + path, answer);
    } else {
        m_answers.insert(QString::fromLatin1(method) + QLatin1Char(' ') + path, answer);
    }
}

QByteArray HttpResponder::pngBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(40, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void HttpResponder::servePng(const QString& path, int width, int height)
{
    Answer png;
    png.contentType = "image/png";
    png.body = pngBytes(width, height);
    answer(path, png);
}

int HttpResponder::count(const QByteArray& method, const QString& path) const
{
    int n = 0;
    for (const QString& request : m_requests) {
        const int blank = request.indexOf(QLatin1Char(' '));
        if (request.left(blank).toLatin1() == method && (path.isEmpty() || request.mid(blank + 1) == path))
            ++n;
    }
    return n;
}

void HttpResponder::readRequest(QTcpSocket* socket)
{
    QByteArray received = socket->property("received").toByteArray() + socket->readAll();
    socket->setProperty("received", received);
    if (!received.contains("\r\n\r\n") || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> line = received.left(received.indexOf("\r\n")).split(' ');
    const QByteArray method = line.value(0);
    const QString target = QString::fromLatin1(line.value(1));
    m_requests.append(QString::fromLatin1(method) + QLatin1Char(' ') + target);

    const QString path = QUrl(target).path();
    Answer found;
    found.status = 404;
    found.reason = "Not Found";
    found.contentType = "text/html";
    found.body = "<html><body>Not found</body></html>";
    for (const QString& key : {QString::fromLatin1(method) + QLatin1Char(' ') + target,
                               QString::fromLatin1(method) + QLatin1Char(' ') + path}) {
        if (m_answers.contains(key)) {
            found = m_answers.value(key);
            break;
        }
    }
    QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(found.delay, this, [this, guarded, method, found] {
        if (guarded)
            respond(guarded, method, found);
    });
}

void HttpResponder::respond(QTcpSocket* socket, const QByteArray& method, const Answer& answer)
{
    if (answer.drop) {
        socket->abort();
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + answer.reason + "\r\n";
    if (!answer.contentType.isEmpty())
        head += "Content-Type: " + answer.contentType + "\r\n";
    if (!answer.withoutLength) {
        const qint64 length = answer.announcedLength >= 0 ? answer.announcedLength : answer.body.size();
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (method != "HEAD")
        socket->write(answer.body);
    // A length announced but never sent keeps the connection until the client gives up.
    if (answer.announcedLength < 0 || method == "HEAD")
        socket->disconnectFromHost();
}

} // namespace testsupport
