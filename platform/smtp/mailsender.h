#pragma once
// The SMTP component: a sender object with the message's properties, ordered collections of
// attachments and custom headers, Send() and five events (Qt signals, delivered on the thread
// that owns the sender, normally the user-interface thread).
//
//   auto *smtp = new MailSender(window);
//   connect(smtp, &MailSender::StatusChanged, window, [=] { log(smtp->status()); });
//   connect(smtp, &MailSender::ErrorSMTP, window, [=](qint16 n, const QString &text) { ... });
//   smtp->setServer("mail.example.org:587");
//   smtp->setMailFrom("ann@example.org");
//   smtp->setSendTo("bob@example.org");
//   smtp->attachments().append({"/home/ann/report.doc.zip", "report.doc.zip",
//                               "application/octet-stream", MailAttachment::Base64});
//   smtp->Send();   // returns at once; the events follow
//
// Send() takes its own copy of the properties and collections at once (the message is fixed
// then) and empties Attachments and CustomHeaders, so rows added afterwards belong to the next
// message. The transfer runs on a worker thread with libcurl: STARTTLS whenever the server
// offers it, certificates checked, every wait bounded by the time-outs. A password (Login,
// Plain, POP) goes only over an encrypted connection: a server that offers none gets nothing. Every failure, the
// fields checked before connecting included, arrives as ErrorSMTP (numbers in mailtypes.h); its
// description carries the server's reply when there is one and never a password or log-in data.

#include "mailtypes.h"

#include <QObject>
#include <functional>
#include <memory>

class MailSender : public QObject
{
    Q_OBJECT

public:
    enum AuthType : qint32 { AuthNone = 0, AuthPop = 1, AuthLogin = 2, AuthPlain = 3 };

    explicit MailSender(QObject *parent = nullptr);
    // Stops a running transfer (it ends without sending) and waits for its thread.
    ~MailSender() override;

    // Server: "host", "host:port" (25 by default), "[v6 address]:port"; "smtps://host" or port
    // 465 for TLS from the first byte.
    void setServer(const QString &value) { m_job.server = value; }
    QString server() const { return m_job.server; }
    void setMailFrom(const QString &value) { m_job.mailFrom = value; }
    QString mailFrom() const { return m_job.mailFrom; }
    // Address lists: separated by "," or ";", each "addr@host" or "Name <addr@host>".
    void setSendTo(const QString &value) { m_job.sendTo = value; }
    QString sendTo() const { return m_job.sendTo; }
    void setCC(const QString &value) { m_job.cc = value; }
    QString cc() const { return m_job.cc; }
    // BCC recipients get the message but appear in no header.
    void setBCC(const QString &value) { m_job.bcc = value; }
    QString bcc() const { return m_job.bcc; }
    void setMessageSubject(const QString &value) { m_job.subject = value; }
    QString messageSubject() const { return m_job.subject; }
    void setMessageText(const QString &value) { m_job.text = value; }
    QString messageText() const { return m_job.text; }
    // With an HTML text the message carries both as alternatives; empty: plain text only.
    void setMessageHTML(const QString &value) { m_job.html = value; }
    QString messageHTML() const { return m_job.html; }
    void setUsername(const QString &value) { m_job.username = value; }
    QString username() const { return m_job.username; }
    void setPassword(const QString &value) { m_job.password = value; }
    QString password() const { return m_job.password; }
    // The POP3 server for AuthPop: "host" or "host:port" (110 by default; 995 or pop3s:// TLS).
    void setPOPServer(const QString &value) { m_job.popServer = value; }
    QString popServer() const { return m_job.popServer; }
    void setAuthType(qint32 value) { m_job.authType = value; }
    qint32 authType() const { return m_job.authType; }

    QList<MailAttachment> &attachments() { return m_job.attachments; }
    QList<MailHeader> &customHeaders() { return m_job.headers; }

    // Connection settings: a PEM file of certificates to trust instead of the system's, and the
    // time-outs in seconds (connecting; waiting for a reply or for upload progress).
    void setCaCertificates(const QString &pemFile) { m_job.caCertificates = pemFile; }
    void setTimeouts(int connectSeconds, int replySeconds);

    // The current status line.
    QString status() const { return m_status; }
    bool isBusy() const { return m_busy; }

    void Send();

Q_SIGNALS:
    void ConnectSMTP();
    void SendSMTP();
    void CloseSMTP();
    void StatusChanged(const QString &status);
    void ErrorSMTP(qint16 number, const QString &description);
    // After the last event of a send: whether the server accepted the message.
    void sendFinished(bool delivered);

protected:
    // Runs `transfer` on a thread of its own; throws (std::system_error) when none can be started.
    virtual void startWorker(std::function<void()> transfer);

private:
    friend class MailTransfer;
    void finishTransfer(bool delivered);

    struct Shared;
    MailJob m_job;
    QString m_status;
    bool m_busy = false;
    std::shared_ptr<Shared> m_shared;
};
