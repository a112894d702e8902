#pragma once
// The values a mail sender works with: attachments, custom headers, the numbered failures it
// reports, and the copy of everything that one send takes at its start.

#include <QList>
#include <QString>

struct MailAttachment
{
    enum Encoding : qint32 { Base64 = 0, SevenBit = 1 };

    QString path;     // the file to attach
    QString name;     // the name the recipient sees; empty: the file's own name
    QString type;     // content type; empty: application/octet-stream
    qint32 encoding = Base64;
};

struct MailHeader
{
    QString name;
    QString value;
};

// The numbers ErrorSMTP reports.
namespace MailError {
enum : qint16 {
    InvalidMessage = 1,    // a field, address or header that cannot go into a message
    AttachmentProblem = 2, // an attachment that is not a readable file or not 7-bit clean
    Busy = 3,              // Send() while a message is being sent
    ServerNotFound = 10,   // the host name does not resolve
    ConnectFailed = 11,    // refused, unreachable, or the connection broke
    TimedOut = 12,         // the server stopped answering
    SecureFailed = 13,     // TLS could not be set up (certificate included)
    LoginFailed = 14,      // log-in refused or impossible
    SenderRefused = 15,
    RecipientRefused = 16,
    MessageRefused = 17,
    Cancelled = 18,        // the sender was closed while sending
    Other = 19,
};
}

struct MailFailure
{
    qint16 number = MailError::Other;
    QString description;
};

// Everything one send needs, copied when Send() is called.
struct MailJob
{
    QString server;
    QString mailFrom;
    QString sendTo;
    QString cc;
    QString bcc;
    QString subject;
    QString text;
    QString html;
    QString username;
    QString password;
    QString popServer;
    qint32 authType = 0; // 0 none, 1 POP before SMTP, 2 AUTH LOGIN, 3 AUTH PLAIN
    QList<MailAttachment> attachments;
    QList<MailHeader> headers;

    // Connection settings
    QString caCertificates; // a PEM file to trust instead of the system's certificates
    int connectTimeout = 30; // seconds
    int replyTimeout = 60;   // seconds without an answer or without upload progress
};
