#pragma once
// Turns a MailJob into what goes over the wire: the server to talk to, the envelope and the
// message itself (RFC 5322 with MIME), checking every field first. Nothing here touches the
// network; attachments are read while the message is streamed out.

#include "mailtypes.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringList>
#include <memory>
#include <optional>
#include <variant>

struct MailEndpoint
{
    bool implicitTls = false; // smtps:// or pop3s://
    QString host;             // as typed (IPv6 without brackets)
    QByteArray asciiHost;     // for the URL
    int port = 0;
    QByteArray url(const char *plainScheme, const char *tlsScheme) const;
    QString display() const;  // "host:port"
};

// "host", "host:port", "[v6]:port", optionally with "smtp://" / "smtps://" (or the POP schemes)
// in front. Port 465 (SMTP) and 995 (POP3) mean TLS from the start.
std::variant<MailEndpoint, MailFailure> parseEndpoint(const QString &text, const QString &what,
                                                      int defaultPort, const QString &plainScheme,
                                                      const QString &tlsScheme, int tlsPort);

struct MailAddress
{
    QString displayName; // may be empty
    QByteArray address;  // local@domain, ASCII (an international domain is in its ACE form)
};
// A list separated by "," or ";" (outside quotes and angle brackets). "field" names the list in
// messages ("recipient", "CC"...).
std::variant<QList<MailAddress>, MailFailure> parseAddressList(const QString &text, const QString &field);

// The message bytes, produced piece by piece; attachments are read and encoded on the way.
class MailMessageSource
{
public:
    struct Piece
    {
        QByteArray bytes;          // literal bytes, or
        QString file;              // a file to encode
        qint32 encoding = MailAttachment::Base64;
    };
    explicit MailMessageSource(QList<Piece> pieces);
    // Fills buffer; 0 at the end; -1 on failure (see failure()).
    qint64 read(char *buffer, qint64 size);
    const std::optional<MailFailure> &failure() const { return m_failure; }
    // The whole message at once (for tests and small messages).
    QByteArray readAll();
    // The bytes the message takes on the wire, with a dot added for each line that starts with
    // one (counted where it might be added, so never less than what is sent), measured by
    // producing the message once; -1 when an attachment cannot be read. From then on read()
    // never gives more: an attachment that grew in the meantime fails the message instead.
    qint64 measureWireSize();

private:
    qint64 readPlain(char *buffer, qint64 size);
    bool fillPending();
    bool encodeChunk();
    QList<Piece> m_pieces;
    qsizetype m_next = 0;
    QByteArray m_pending;
    qsizetype m_pendingAt = 0;
    std::unique_ptr<QFile> m_file;
    qint32 m_fileEncoding = 0;
    QString m_fileName;
    bool m_firstLine = true;
    char m_lastByte = '\n';
    int m_lineLength = 0;
    std::optional<MailFailure> m_failure;
    qint64 m_wireLimit = -1;
    qint64 m_wireBytes = 0;
    char m_wireLast = '\n';
};

struct PreparedMail
{
    MailEndpoint smtp;
    std::optional<MailEndpoint> pop;
    QByteArray envelopeFrom;
    QList<QByteArray> envelopeTo; // To, CC and BCC recipients
    std::unique_ptr<MailMessageSource> message;
};

// Checks the job and lays out the message. Fails, naming the field, for a line break in any
// header, name or address, a bad server, an unreadable attachment and so on.
std::variant<PreparedMail, MailFailure> prepareMail(const MailJob &job);

namespace MailEncoding {
// RFC 2047 encoded words (UTF-8, base64) for a header's text, folded between words.
QByteArray encodedWords(const QString &text);
// An unstructured header value: kept as it is when plain ASCII fits, else encoded words.
QByteArray unstructured(const QByteArray &name, const QString &value);
// A parameter: name="value" when plain ASCII, else RFC 2231 name*=UTF-8''... (with continuations).
QByteArray parameter(const QByteArray &name, const QString &value);
// Quoted-printable for text whose lines already end in CRLF.
QByteArray quotedPrintable(const QByteArray &crlfText);
// Any line ends made CRLF.
QByteArray crlf(const QString &text);
// "Tue, 09 Dec 2025 14:03:00 +0100"
QByteArray date(const QDateTime &when);
}
