#pragma once
// A small HTTP server on 127.0.0.1 for the browser tests: fixed pages by path, requests that
// are held until the test releases them (a slow page), answers sent half at once and half on
// release (a slow download), pages behind a Basic sign-in, and a log of the paths asked for.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

class PageServer : public QObject
{
public:
    explicit PageServer(QObject *parent = nullptr);
    bool start();
    // "http://127.0.0.1:PORT", no trailing "/".
    QString base() const;

    // A page with a title (the body repeats it).
    void setHtml(const QString &path, const QString &title);
    void setContent(const QString &path, const QByteArray &contentType, const QByteArray &body);
    // Requests for the path are answered only by release().
    void hold(const QString &path);
    // The answer for the path comes in two halves: the second on release().
    void trickle(const QString &path);
    void release();
    // The path answers 401 with a Basic challenge for the realm until "user:password" is given.
    void requireSignIn(const QString &path, const QByteArray &realm, const QByteArray &userAndPassword);

    // Paths requested, in order ("/favicon.ico" left out).
    QStringList requests;
    int count(const QString &path) const { return int(requests.count(path)); }

private:
    struct Content
    {
        QByteArray type;
        QByteArray body;
    };
    void onConnection();
    void onReadable(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path, const QByteArray &request = {});

    QTcpServer m_server;
    QHash<QString, Content> m_pages;
    QStringList m_held;
    QStringList m_trickled;
    QList<QPair<QPointer<QTcpSocket>, QString>> m_waiting;
    QList<QPair<QPointer<QTcpSocket>, QByteArray>> m_rest;
    struct SignIn
    {
        QByteArray realm;
        QByteArray credentials;
    };
    QHash<QString, SignIn> m_signIns;
};
