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

void PageServer::release()
{
    m_held.clear();
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
    answer(socket, path);
}

void PageServer::answer(QTcpSocket *socket, const QString &path)
{
    const auto found = m_pages.constFind(path);
    const bool ok = found != m_pages.constEnd();
    const QByteArray body = ok ? found->body
                               : QByteArray("<html><head><title>Not Found</title></head><body>Not Found</body></html>");
    const QByteArray type = ok ? found->type : QByteArray("text/html");
    QByteArray reply = ok ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
    reply += "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size())
             + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
    socket->write(reply);
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    });
}
