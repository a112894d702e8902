#pragma once
// Real mail servers for the tests, on 127.0.0.1 and a free port: aiosmtpd (SMTP, with log-in,
// STARTTLS or TLS from the start), a server that never answers, and dovecot (POP3). Each peer
// stops when its object goes away. Also: a certificate made with openssl, and Python's e-mail
// parser as the judge of what arrived.

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class MailPeer
{
public:
    // mailpeer.py's arguments after the script; the folder for received mail is passed by the
    // caller where the mode needs one.
    explicit MailPeer(const QStringList &arguments);
    ~MailPeer();
    MailPeer(const MailPeer &) = delete;
    MailPeer &operator=(const MailPeer &) = delete;

    bool isReady() const { return m_port > 0; }
    int port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString errors() const { return m_errors; }

    static std::unique_ptr<MailPeer> smtp(const QString &folder, const QStringList &options = {});
    static std::unique_ptr<MailPeer> silent();
    // With a certificate and key, the server offers STLS.
    static std::unique_ptr<MailPeer> pop3(const QString &folder, const QString &user, const QString &password,
                                          const QString &certificate = {}, const QString &key = {});

private:
    QProcess m_process;
    int m_port = 0;
    QString m_errors;
};

// What arrived at an SMTP peer's folder: message N (1-based).
struct ReceivedMail
{
    QByteArray raw;
    QJsonObject envelope; // mail_from, rcpt_tos, auth {mechanism, login}, tls
    QJsonObject parsed;   // headers [[name, value]...], parts [...], defects, bare_lf, longest_line
    QString header(const QString &name) const;      // first header of that name, decoded
    QStringList headerNames() const;
    int countOf(const QString &headerName) const;
};
bool receivedMail(const QString &folder, int number, ReceivedMail *out);
int receivedCount(const QString &folder);
// The STARTTLS, AUTH (mechanism only), MAIL and DATA commands an SMTP peer received, in order.
QStringList receivedCommands(const QString &folder);

// A self-signed certificate for 127.0.0.1: cert.pem and key.pem in the folder.
bool makeCertificate(const QString &folder);
