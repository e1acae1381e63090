#pragma once
// A scripted web server on 127.0.0.1 for tests, so that no test reaches the network: answers
// HEAD and GET per path with a status, reason, content type, body and delay, can drop the
// connection or announce a length it never sends, and counts the requests. Runs on the
// calling thread's event loop; every answer closes its connection.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

namespace testsupport {

class HttpResponder : public QObject {
    Q_OBJECT
public:
    struct Answer {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray contentType;
        QByteArray body;
        // Milliseconds before the answer is written.
        int delay = 0;
        // Close the connection without answering.
        bool drop = false;
        // No Content-Length header: the body ends when the connection closes.
        bool withoutLength = false;
        // A Content-Length other than the body's; the connection then stays open after the
        // body until the client goes.
        qint64 announcedLength = -1;
    };

    // An HTML page with the status.
    static Answer page(const QByteArray& body, int status = 200, const QByteArray& reason = "OK")
    {
        Answer answer;
        answer.status = status;
        answer.reason = reason;
        answer.contentType = "text/html";
        answer.body = body;
        return answer;
    }

    // Listens on the port, or on any free one.
    explicit HttpResponder(quint16 port = 0);
    // A port free now, for an address that must be known before the responder can start
    // (before the Qt application exists).
    static quint16 freePort();
    ~HttpResponder() override;

    bool isListening() const;
    quint16 port() const;
    // "http://127.0.0.1:<port>".
    QString root() const;
    // The root followed by the path ("/big.png").
    QString url(const QString& path) const;

    // The answer to requests for the path (query included when given); method "HEAD", "GET",
    // or empty for both. Requests without a scripted answer get 404.
    void answer(const QString& path, const Answer& answer, const QByteArray& method = QByteArray());
    // A PNG of the size, with the content type image/png, for HEAD and GET.
    void servePng(const QString& path, int width, int height);

    // "GET /big.png" per request, in arrival order.
    const QStringList& requests() const { return m_requests; }
    int count(const QByteArray& method, const QString& path = QString()) const;
    int count() const { return m_requests.size(); }
    void clear() { m_requests.clear(); }

    static QByteArray pngBytes(int width, int height);

private:
    void readRequest(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const QByteArray& method, const Answer& answer);

    QTcpServer* m_server;
    QHash<QString, Answer> m_answers;
    QStringList m_requests;
};

} // namespace testsupport
