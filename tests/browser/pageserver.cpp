#include "pageserver.h"

#include <QTcpSocket>

PageServer::PageServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &PageServer::onConnection);
}

bool PageServer::start()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString PageServer::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void PageServer::setHtml(const QString &path, const QString &title)
{
    const QString html = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                                        "<body><h1>%1</h1><p id=\"part\">Served for the test.</p></body></html>")
                             .arg(title.toHtmlEscaped());
    setContent(path, "text/html; charset=utf-8", html.toUtf8());
}

void PageServer::setContent(const QString &path, const QByteArray &contentType, const QByteArray &body)
{
    m_pages.insert(path, {contentType, body});
}

void PageServer::hold(const QString &path)
{
    m_held << path;
}

void PageServer::trickle(const QString &path)
{
    m_trickled << path;
}

void PageServer::requireSignIn(const QString &path, const QByteArray &realm, const QByteArray &userAndPassword)
{
    m_signIns.insert(path, {realm, userAndPassword});
}

void PageServer::release()
{
    m_held.clear();
    m_trickled.clear();
    const auto rest = std::exchange(m_rest, {});
    for (const auto &[socket, bytes] : rest) {
        if (socket)
            socket->write(bytes);
    }
    const auto waiting = std::exchange(m_waiting, {});
    for (const auto &[socket, path] : waiting) {
        if (socket)
            answer(socket, path);
    }
}

void PageServer::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void PageServer::onReadable(QTcpSocket *socket)
{
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n") || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    QString path = words.size() >= 2 ? QString::fromLatin1(words.at(1)) : QStringLiteral("/");
    const qsizetype query = path.indexOf(QLatin1Char('?'));
    if (query >= 0)
        path.truncate(query);
    if (path != QLatin1String("/favicon.ico"))
        requests << path;
    if (m_held.contains(path)) {
        m_waiting.append({socket, path});
        return;
    }
    answer(socket, path, request);
}

void PageServer::answer(QTcpSocket *socket, const QString &path, const QByteArray &request)
{
    QByteArray reply;
    const auto signIn = m_signIns.constFind(path);
    const QByteArray expected = signIn == m_signIns.constEnd()
                                    ? QByteArray()
                                    : "Authorization: Basic " + signIn->credentials.toBase64() + "\r\n";
    if (!expected.isEmpty() && !request.contains(expected)) {
        const QByteArray body = "<html><head><title>Sign-in refused</title></head><body>401: this page needs "
                                "a user name and password</body></html>";
        reply = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"" + signIn->realm
                + "\"\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size())
                + "\r\nConnection: close\r\n\r\n" + body;
    } else {
        const auto found = m_pages.constFind(path);
        const bool ok = found != m_pages.constEnd();
        const QByteArray body = ok ? found->body
                                   : QByteArray("<html><head><title>Not Found</title></head><body>Not Found</body></html>");
        const QByteArray type = ok ? found->type : QByteArray("text/html");
        reply = ok ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
        reply += "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size())
                 + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
    }
    if (m_trickled.contains(path)) {
        const qsizetype half = reply.size() - (reply.size() - reply.indexOf("\r\n\r\n") - 4) / 2;
        m_rest.append({socket, reply.mid(half)});
        reply.truncate(half);
    }
    socket->write(reply);
    connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] {
        if (socket->bytesToWrite() > 0)
            return;
        for (const auto &[waiting, bytes] : std::as_const(m_rest)) {
            if (waiting == socket)
                return; // the rest is still to come
        }
        socket->disconnectFromHost();
    });
}
