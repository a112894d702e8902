#include "mailcompose.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>
#include <QUrl>

namespace {

constexpr qint64 ChunkLines = 512; // base64 lines encoded per read
constexpr int Base64LineBytes = 57; // 76 characters a line
constexpr int MaxLine = 998; // RFC 5322: characters a line, its CRLF not counted

// The one rule for text that goes out as it is (7 bit): ASCII without NUL, CR only before LF,
// lines of at most MaxLine characters. Checks byte c after `previous` ('\n' at the start) and
// advances `line`, the length of the line so far. Returns the problem, if any.
std::optional<QString> sevenBitProblem(char previous, char c, int &line)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80)
        return QStringLiteral("holds bytes above 127");
    if (u == 0)
        return QStringLiteral("holds NUL bytes");
    if (previous == '\r' && c != '\n')
        return QStringLiteral("holds a carriage return that does not end a line");
    if (c == '\n' || c == '\r') {
        line = 0;
        return std::nullopt;
    }
    if (++line > MaxLine)
        return QStringLiteral("has lines longer than 998 characters");
    return std::nullopt;
}

MailFailure invalid(const QString &text)
{
    return MailFailure{MailError::InvalidMessage, text};
}

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'))
           || text.contains(QChar(0));
}

bool isPlainAscii(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 126 || (c.unicode() < 32 && c != QLatin1Char('\t')))
            return false;
    }
    return true;
}

QByteArray randomHex(int bytes)
{
    QByteArray raw(bytes, '\0');
    for (char &c : raw)
        c = char(QRandomGenerator::system()->bounded(256));
    return raw.toHex();
}

// A token of RFC 2045 (type, subtype).
bool isToken(const QString &text)
{
    static const QRegularExpression token(QStringLiteral("^[A-Za-z0-9!#$%&'*+.^_`{|}~-]+$"));
    return token.match(text).hasMatch();
}

QByteArray quoted(const QString &text)
{
    QByteArray out = "\"";
    for (char c : text.toLatin1()) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

QByteArray textPart(const QByteArray &subtype, const QString &text)
{
    const QByteArray body = MailEncoding::crlf(text);
    bool sevenBit = true;
    int line = 0;
    char previous = '\n';
    for (char c : body) {
        if (sevenBitProblem(previous, c, line)) {
            sevenBit = false;
            break;
        }
        previous = c;
    }
    QByteArray out = "Content-Type: text/" + subtype + "; charset=utf-8\r\n";
    if (sevenBit)
        out += "Content-Transfer-Encoding: 7bit\r\n\r\n" + body;
    else
        out += "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + MailEncoding::quotedPrintable(body);
    return out;
}

// Checks that a whole file can be sent as 7-bit text. Returns the problem, if any.
std::optional<QString> sevenBitProblem(QFile &file)
{
    char previous = '\n';
    int line = 0;
    QByteArray chunk;
    while (!(chunk = file.read(64 * 1024)).isEmpty()) {
        for (char c : chunk) {
            if (auto problem = sevenBitProblem(previous, c, line))
                return problem;
            previous = c;
        }
    }
    if (previous == '\r')
        return QStringLiteral("holds a carriage return that does not end a line");
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("could not be read (%1)").arg(file.errorString());
    return std::nullopt;
}

QByteArray addressHeader(const QByteArray &name, const QList<MailAddress> &addresses)
{
    QByteArray out = name + ": ";
    int lineLength = out.size();
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        const MailAddress &a = addresses.at(i);
        QByteArray item;
        if (a.displayName.isEmpty()) {
            item = a.address;
        } else {
            static const QRegularExpression atom(QStringLiteral("^[A-Za-z0-9!#$%&'*+/=?^_`{|}~ -]+$"));
            if (!isPlainAscii(a.displayName) || a.displayName.contains(QLatin1String("=?")))
                item = MailEncoding::encodedWords(a.displayName);
            else if (atom.match(a.displayName).hasMatch())
                item = a.displayName.toLatin1();
            else
                item = quoted(a.displayName);
            item += " <" + a.address + '>';
        }
        if (i > 0) {
            out += ',';
            ++lineLength;
            if (lineLength + 1 + item.size() > 78) {
                out += "\r\n";
                lineLength = 0;
            }
            out += ' ';
            ++lineLength;
        }
        out += item;
        const qsizetype lastBreak = item.lastIndexOf('\n');
        lineLength = lastBreak >= 0 ? int(item.size() - lastBreak - 1) : lineLength + int(item.size());
    }
    return out;
}

const QSet<QString> &headersWrittenByTheMailer()
{
    static const QSet<QString> names{
        QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("cc"), QStringLiteral("bcc"),
        QStringLiteral("subject"), QStringLiteral("date"), QStringLiteral("message-id"),
        QStringLiteral("mime-version"), QStringLiteral("content-type"),
        QStringLiteral("content-transfer-encoding"), QStringLiteral("content-disposition")};
    return names;
}

} // namespace

// --- endpoints -----------------------------------------------------------------------------

QByteArray MailEndpoint::url(const char *plainScheme, const char *tlsScheme) const
{
    QByteArray hostPart = asciiHost;
    if (hostPart.contains(':'))
        hostPart = '[' + hostPart + ']';
    return QByteArray(implicitTls ? tlsScheme : plainScheme) + "://" + hostPart + ':'
           + QByteArray::number(port);
}

QString MailEndpoint::display() const
{
    return (host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host)
           + QLatin1Char(':') + QString::number(port);
}

std::variant<MailEndpoint, MailFailure> parseEndpoint(const QString &text, const QString &what,
                                                      int defaultPort, const QString &plainScheme,
                                                      const QString &tlsScheme, int tlsPort)
{
    if (hasLineBreak(text))
        return invalid(QStringLiteral("The %1 name contains a line break").arg(what));
    QString rest = text.trimmed();
    if (rest.isEmpty())
        return invalid(QStringLiteral("No %1 was given").arg(what));
    const MailFailure bad = invalid(
        QStringLiteral("\"%1\" is not a valid %2: give a host name or address, optionally followed by "
                       "\":\" and a port")
            .arg(rest, what));

    MailEndpoint endpoint;
    bool schemeGiven = false;
    for (const QString &scheme : {plainScheme, tlsScheme}) {
        const QString prefix = scheme + QStringLiteral("://");
        if (rest.startsWith(prefix, Qt::CaseInsensitive)) {
            schemeGiven = true;
            endpoint.implicitTls = (scheme == tlsScheme);
            rest = rest.mid(prefix.size());
        }
    }
    while (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);

    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return bad;
        endpoint.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return bad;
            portText = after.mid(1);
        }
        static const QRegularExpression v6(QStringLiteral("^[0-9A-Fa-f:.]+$"));
        if (!v6.match(endpoint.host).hasMatch() || !endpoint.host.contains(QLatin1Char(':')))
            return bad;
        endpoint.asciiHost = endpoint.host.toLatin1();
    } else {
        const qsizetype colons = rest.count(QLatin1Char(':'));
        if (colons == 1) {
            endpoint.host = rest.section(QLatin1Char(':'), 0, 0);
            portText = rest.section(QLatin1Char(':'), 1);
        } else if (colons == 0) {
            endpoint.host = rest;
        } else {
            return bad; // an IPv6 address needs its brackets when a port may follow
        }
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_.-]*[A-Za-z0-9_])?$"));
        if (isPlainAscii(endpoint.host)) {
            if (!name.match(endpoint.host).hasMatch())
                return bad;
            endpoint.asciiHost = endpoint.host.toLatin1();
        } else {
            endpoint.asciiHost = QUrl::toAce(endpoint.host);
            if (endpoint.asciiHost.isEmpty() || !name.match(QString::fromLatin1(endpoint.asciiHost)).hasMatch())
                return bad;
        }
    }
    endpoint.port = defaultPort;
    if (!portText.isEmpty() || rest.endsWith(QLatin1Char(':'))) {
        bool ok = false;
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
        const int port = digits.match(portText).hasMatch() ? portText.toInt(&ok) : 0;
        if (!ok || port < 1 || port > 65535)
            return bad;
        endpoint.port = port;
    }
    if (!schemeGiven && endpoint.port == tlsPort)
        endpoint.implicitTls = true;
    return endpoint;
}

// --- addresses -----------------------------------------------------------------------------

std::variant<QList<MailAddress>, MailFailure> parseAddressList(const QString &text, const QString &field)
{
    if (hasLineBreak(text))
        return invalid(QStringLiteral("The %1 address contains a line break").arg(field));
    QStringList items;
    QString current;
    bool inQuote = false, inAngle = false, escaped = false;
    for (QChar c : text) {
        if (escaped) {
            escaped = false;
        } else if (inQuote && c == QLatin1Char('\\')) {
            escaped = true;
        } else if (c == QLatin1Char('"') && !inAngle) {
            inQuote = !inQuote;
        } else if (!inQuote && c == QLatin1Char('<')) {
            inAngle = true;
        } else if (!inQuote && c == QLatin1Char('>')) {
            inAngle = false;
        } else if (!inQuote && !inAngle && (c == QLatin1Char(',') || c == QLatin1Char(';'))) {
            items << current;
            current.clear();
            continue;
        }
        current += c;
    }
    items << current;

    QList<MailAddress> result;
    for (QString item : items) {
        item = item.trimmed();
        if (item.isEmpty())
            continue;
        const auto bad = invalid(QStringLiteral("The %1 address \"%2\" is not a valid e-mail address")
                                     .arg(field, item));
        MailAddress address;
        QString mailbox = item;
        const qsizetype open = item.lastIndexOf(QLatin1Char('<'));
        if (open >= 0) {
            if (!item.endsWith(QLatin1Char('>')))
                return bad;
            mailbox = item.mid(open + 1, item.size() - open - 2).trimmed();
            QString display = item.left(open).trimmed();
            if (display.size() >= 2 && display.startsWith(QLatin1Char('"')) && display.endsWith(QLatin1Char('"'))) {
                display = display.mid(1, display.size() - 2);
                static const QRegularExpression escape(QStringLiteral("\\\\(.)"));
                display.replace(escape, QStringLiteral("\\1"));
            }
            address.displayName = display;
        }
        const qsizetype at = mailbox.lastIndexOf(QLatin1Char('@'));
        if (at <= 0 || at == mailbox.size() - 1)
            return bad;
        const QString local = mailbox.left(at);
        const QString domain = mailbox.mid(at + 1);
        static const QRegularExpression localChars(QStringLiteral("^[A-Za-z0-9!#$%&'*+/=?^_`{|}~.-]+$"));
        if (!localChars.match(local).hasMatch()) {
            if (!isPlainAscii(local))
                return invalid(QStringLiteral("The %1 address \"%2\" has characters outside ASCII before "
                                              "the \"@\", which this mailer cannot send")
                                   .arg(field, item));
            return bad;
        }
        QByteArray asciiDomain;
        static const QRegularExpression domainChars(QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9_]([A-Za-z0-9_.-]*[A-Za-z0-9_])?)$"));
        if (isPlainAscii(domain)) {
            asciiDomain = domain.toLatin1();
        } else {
            asciiDomain = QUrl::toAce(domain);
        }
        if (asciiDomain.isEmpty() || !domainChars.match(QString::fromLatin1(asciiDomain)).hasMatch())
            return bad;
        address.address = local.toLatin1() + '@' + asciiDomain;
        result << address;
    }
    return result;
}

// --- encodings -----------------------------------------------------------------------------

namespace MailEncoding {

QByteArray crlf(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + utf8.size() / 40 + 2);
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8.at(i);
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < utf8.size() && utf8.at(i + 1) == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray encodedWords(const QString &text)
{
    // Words of whole characters, at most 42 UTF-8 bytes (56 base64 characters) each.
    QList<QByteArray> words;
    QByteArray word;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QByteArray bytes = text.mid(i, length).toUtf8();
        if (word.size() + bytes.size() > 42) {
            words << word;
            word.clear();
        }
        word += bytes;
        i += length;
    }
    if (!word.isEmpty() || words.isEmpty())
        words << word;
    QByteArray out;
    for (const QByteArray &w : words) {
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + w.toBase64() + "?=";
    }
    return out;
}

QByteArray unstructured(const QByteArray &name, const QString &value)
{
    const QByteArray start = name + ": ";
    if (!isPlainAscii(value) || value.contains(QLatin1String("=?")))
        return start + encodedWords(value);
    const QByteArray ascii = value.toLatin1();
    if (start.size() + ascii.size() <= 78)
        return start + ascii;
    // Fold before blanks so that lines stay short; a word too long for one line goes encoded.
    QByteArray out = start;
    int lineLength = int(start.size());
    const QList<QByteArray> words = ascii.split(' ');
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QByteArray &w = words.at(i);
        if (i > 0) {
            if (lineLength + 1 + w.size() > 78 && lineLength > 1) {
                out += "\r\n";
                lineLength = 0;
            }
            out += ' ';
            ++lineLength;
        }
        out += w;
        lineLength += int(w.size());
        if (lineLength > MaxLine)
            return start + encodedWords(value);
    }
    return out;
}

QByteArray parameter(const QByteArray &name, const QString &value)
{
    if (isPlainAscii(value) && !value.contains(QLatin1Char('\t')) && value.size() <= 200)
        return name + '=' + quoted(value);
    QByteArray encoded;
    for (char c : value.toUtf8()) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')
            || QByteArray("!#$&+-.^_`|~").contains(c))
            encoded += c;
        else
            encoded += '%' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
    }
    if (encoded.size() <= 60)
        return name + "*=UTF-8''" + encoded;
    QByteArray out;
    int section = 0;
    for (qsizetype at = 0; at < encoded.size(); ++section) {
        qsizetype take = qMin<qsizetype>(60, encoded.size() - at);
        // Never split a %XX escape between two sections.
        const qsizetype percent = encoded.lastIndexOf('%', at + take - 1);
        if (percent >= at && percent + 3 > at + take)
            take = percent - at;
        if (!out.isEmpty())
            out += ";\r\n ";
        out += name + '*' + QByteArray::number(section) + "*=" + (section == 0 ? "UTF-8''" : "")
               + encoded.mid(at, take);
        at += take;
    }
    return out;
}

QByteArray quotedPrintable(const QByteArray &crlfText)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(crlfText.size() * 3 / 2);
    const QList<QByteArray> lines = crlfText.split('\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        QByteArray line = lines.at(l);
        const bool hardBreak = l + 1 < lines.size();
        if (hardBreak && line.endsWith('\r'))
            line.chop(1);
        QByteArray encodedLine;
        int lineLength = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const unsigned char u = static_cast<unsigned char>(line.at(i));
            const bool last = (i + 1 == line.size());
            QByteArray piece;
            if ((u >= 33 && u <= 126 && u != '=') || ((u == ' ' || u == '\t') && !last))
                piece = QByteArray(1, char(u));
            else
                piece = QByteArray("=") + hex[u >> 4] + hex[u & 15];
            if (lineLength + piece.size() > 75) {
                encodedLine += "=\r\n";
                lineLength = 0;
            }
            encodedLine += piece;
            lineLength += int(piece.size());
        }
        out += encodedLine;
        if (hardBreak)
            out += "\r\n";
    }
    return out;
}

QByteArray date(const QDateTime &when)
{
    static const char *days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = when.date();
    const QTime t = when.time();
    const int offset = when.offsetFromUtc() / 60;
    const int absOffset = qAbs(offset);
    return QStringLiteral("%1, %2 %3 %4 %5:%6:%7 %8%9%10")
        .arg(QLatin1String(days[d.dayOfWeek() - 1]))
        .arg(d.day(), 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(months[d.month() - 1]))
        .arg(d.year())
        .arg(t.hour(), 2, 10, QLatin1Char('0'))
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'))
        .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(absOffset / 60, 2, 10, QLatin1Char('0'))
        .arg(absOffset % 60, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

} // namespace MailEncoding

// --- the message, streamed ------------------------------------------------------------------

MailMessageSource::MailMessageSource(QList<Piece> pieces)
    : m_pieces(std::move(pieces))
{
}

bool MailMessageSource::encodeChunk()
{
    if (m_fileEncoding == MailAttachment::Base64) {
        const QByteArray raw = m_file->read(Base64LineBytes * ChunkLines);
        if (raw.isEmpty())
            return false;
        for (qsizetype at = 0; at < raw.size(); at += Base64LineBytes) {
            if (!m_firstLine)
                m_pending += "\r\n";
            m_pending += raw.mid(at, Base64LineBytes).toBase64();
            m_firstLine = false;
        }
        return true;
    }
    const QByteArray raw = m_file->read(64 * 1024);
    if (raw.isEmpty())
        return false;
    for (char c : raw) {
        if (sevenBitProblem(m_lastByte, c, m_lineLength)) {
            m_failure = MailFailure{MailError::AttachmentProblem,
                                    QStringLiteral("The attachment \"%1\" changed while it was being sent "
                                                   "and is no longer 7-bit text; the message was not sent")
                                        .arg(m_fileName)};
            return false;
        }
        if (c == '\n' && m_lastByte != '\r')
            m_pending += '\r';
        m_pending += c;
        m_lastByte = c;
    }
    return true;
}

bool MailMessageSource::fillPending()
{
    m_pending.clear();
    m_pendingAt = 0;
    while (m_pending.isEmpty()) {
        if (m_file) {
            if (encodeChunk())
                continue;
            if (m_failure)
                return false;
            if (m_file->error() != QFileDevice::NoError) {
                m_failure = MailFailure{MailError::AttachmentProblem,
                                        QStringLiteral("The attachment \"%1\" could not be read: %2")
                                            .arg(m_fileName, m_file->errorString())};
                return false;
            }
            if (m_fileEncoding == MailAttachment::SevenBit && m_lastByte == '\r') {
                m_failure = MailFailure{MailError::AttachmentProblem,
                                        QStringLiteral("The attachment \"%1\" changed while it was being "
                                                       "sent and is no longer 7-bit text; the message was "
                                                       "not sent")
                                            .arg(m_fileName)};
                return false;
            }
            m_file.reset();
            continue;
        }
        if (m_next >= m_pieces.size())
            return true; // the end
        const Piece &piece = m_pieces.at(m_next++);
        if (piece.file.isEmpty()) {
            m_pending = piece.bytes;
            continue;
        }
        m_file = std::make_unique<QFile>(piece.file);
        m_fileName = piece.file;
        m_fileEncoding = piece.encoding;
        m_firstLine = true;
        m_lastByte = '\n';
        m_lineLength = 0;
        if (!m_file->open(QIODevice::ReadOnly)) {
            m_failure = MailFailure{MailError::AttachmentProblem,
                                    QStringLiteral("The attachment \"%1\" could not be opened: %2")
                                        .arg(piece.file, m_file->errorString())};
            return false;
        }
    }
    return true;
}

qint64 MailMessageSource::measureWireSize()
{
    MailMessageSource dry(m_pieces);
    char buffer[65536];
    for (;;) {
        const qint64 got = dry.read(buffer, sizeof buffer);
        if (got < 0) {
            m_failure = dry.m_failure;
            return -1;
        }
        if (got == 0)
            break;
    }
    m_wireLimit = dry.m_wireBytes;
    return m_wireLimit;
}

qint64 MailMessageSource::read(char *buffer, qint64 size)
{
    const qint64 written = readPlain(buffer, size);
    if (written <= 0)
        return written;
    for (qint64 i = 0; i < written; ++i) {
        m_wireBytes += (buffer[i] == '.' && m_wireLast == '\n') ? 2 : 1;
        m_wireLast = buffer[i];
    }
    if (m_wireLimit >= 0 && m_wireBytes > m_wireLimit) {
        m_failure = MailFailure{MailError::AttachmentProblem,
                                QStringLiteral("An attachment grew while the message was being sent; the message "
                                               "was not sent")};
        return -1;
    }
    return written;
}

qint64 MailMessageSource::readPlain(char *buffer, qint64 size)
{
    if (m_failure)
        return -1;
    qint64 written = 0;
    while (written < size) {
        if (m_pendingAt >= m_pending.size()) {
            if (!fillPending())
                return -1;
            if (m_pending.isEmpty())
                break;
        }
        const qint64 take = qMin<qint64>(size - written, m_pending.size() - m_pendingAt);
        memcpy(buffer + written, m_pending.constData() + m_pendingAt, size_t(take));
        m_pendingAt += take;
        written += take;
    }
    return written;
}

QByteArray MailMessageSource::readAll()
{
    QByteArray all;
    char buffer[16384];
    for (;;) {
        const qint64 got = read(buffer, sizeof buffer);
        if (got < 0)
            return {};
        if (got == 0)
            return all;
        all.append(buffer, got);
    }
}

// --- preparing a send ------------------------------------------------------------------------

std::variant<PreparedMail, MailFailure> prepareMail(const MailJob &job)
{
    PreparedMail mail;

    auto smtp = parseEndpoint(job.server, QStringLiteral("server"), 25, QStringLiteral("smtp"),
                              QStringLiteral("smtps"), 465);
    if (auto *failure = std::get_if<MailFailure>(&smtp))
        return *failure;
    mail.smtp = std::get<MailEndpoint>(smtp);

    if (job.authType < 0 || job.authType > 3)
        return invalid(QStringLiteral("Unknown authentication type %1 (0 none, 1 POP, 2 Login, 3 Plain)")
                           .arg(job.authType));
    if (job.authType > 0) {
        if (hasLineBreak(job.username))
            return invalid(QStringLiteral("The user name contains a line break"));
        if (hasLineBreak(job.password))
            return invalid(QStringLiteral("The password contains a line break"));
    }
    if (job.authType == 1) {
        auto pop = parseEndpoint(job.popServer, QStringLiteral("POP server"), 110, QStringLiteral("pop3"),
                                 QStringLiteral("pop3s"), 995);
        if (auto *failure = std::get_if<MailFailure>(&pop))
            return *failure;
        mail.pop = std::get<MailEndpoint>(pop);
    }

    auto parse = [](const QString &text, const QString &field, QList<MailAddress> *out)
        -> std::optional<MailFailure> {
        auto parsed = parseAddressList(text, field);
        if (auto *failure = std::get_if<MailFailure>(&parsed))
            return *failure;
        *out = std::get<QList<MailAddress>>(parsed);
        return std::nullopt;
    };
    QList<MailAddress> from, to, cc, bcc;
    for (const auto &[text, field, list] : {std::tuple{&job.mailFrom, QStringLiteral("sender"), &from},
                                            std::tuple{&job.sendTo, QStringLiteral("recipient"), &to},
                                            std::tuple{&job.cc, QStringLiteral("CC"), &cc},
                                            std::tuple{&job.bcc, QStringLiteral("BCC"), &bcc}}) {
        if (auto failure = parse(*text, field, list))
            return *failure;
    }
    if (from.isEmpty())
        return invalid(QStringLiteral("No sender address was given"));
    if (from.size() > 1)
        return invalid(QStringLiteral("Give one sender address only"));
    if (to.isEmpty())
        return invalid(QStringLiteral("No recipient address was given"));
    if (hasLineBreak(job.subject))
        return invalid(QStringLiteral("The subject contains a line break"));

    mail.envelopeFrom = from.first().address;
    QSet<QByteArray> seen;
    for (const QList<MailAddress> *list : {&to, &cc, &bcc}) {
        for (const MailAddress &a : *list) {
            const QByteArray key = a.address.toLower();
            if (!seen.contains(key)) {
                seen.insert(key);
                mail.envelopeTo << a.address;
            }
        }
    }

    // Custom headers and attachments: a refusal names the entry, its place in the list (counted
    // from 1, as the rows of the mail window's lists) and why.
    static const QRegularExpression fieldName(QStringLiteral("^[!-9;-~]{1,76}$"));
    QByteArray custom;
    for (qsizetype row = 1; row <= job.headers.size(); ++row) {
        const MailHeader &header = job.headers.at(row - 1);
        const QString which = QStringLiteral("The custom header \"%1\" (row %2)").arg(header.name).arg(row);
        if (hasLineBreak(header.name))
            return invalid(QStringLiteral("The name of the custom header in row %1 contains a line break").arg(row));
        if (hasLineBreak(header.value))
            return invalid(which + QStringLiteral(" has a line break in its value"));
        const QString name = header.name.trimmed();
        if (!fieldName.match(name).hasMatch())
            return invalid(which + QStringLiteral(" has no valid name: use letters, digits and punctuation, "
                                                  "without blanks or \":\""));
        if (headersWrittenByTheMailer().contains(name.toLower()))
            return invalid(which + QStringLiteral(" is written by the mailer itself and cannot be added as a "
                                                  "custom header"));
        custom += MailEncoding::unstructured(name.toLatin1(), header.value) + "\r\n";
    }

    // Attachments: each must be a readable regular file; 7-bit ones must be 7-bit clean.
    struct ReadyAttachment
    {
        QString path;
        QString name;
        QByteArray type;
        qint32 encoding;
    };
    QList<ReadyAttachment> attachments;
    for (qsizetype row = 1; row <= job.attachments.size(); ++row) {
        const MailAttachment &a = job.attachments.at(row - 1);
        const QFileInfo info(a.path);
        const QString which = QStringLiteral("The attachment \"%1\" (row %2)")
                                  .arg(a.path.isEmpty() ? QStringLiteral("(no path)") : a.path)
                                  .arg(row);
        auto problem = [](const QString &text) { return MailFailure{MailError::AttachmentProblem, text}; };
        if (a.path.isEmpty() || !info.exists())
            return problem(which + QStringLiteral(" does not exist"));
        if (!info.isFile())
            return problem(which + QStringLiteral(" is not a regular file"));
        QFile file(a.path);
        if (!file.open(QIODevice::ReadOnly))
            return problem(which + QStringLiteral(" cannot be read: ") + file.errorString());
        if (a.encoding != MailAttachment::Base64 && a.encoding != MailAttachment::SevenBit)
            return problem(which + QStringLiteral(" has the unknown encoding %1 (0 Base 64, 1 7 Bit)").arg(a.encoding));
        if (a.encoding == MailAttachment::SevenBit) {
            if (const auto notSevenBit = sevenBitProblem(file))
                return problem(which + QLatin1Char(' ') + *notSevenBit
                               + QStringLiteral(", so it cannot be sent as 7 Bit; choose Base 64"));
        }
        if (hasLineBreak(a.name))
            return invalid(which + QStringLiteral(" has a line break in its name"));
        if (hasLineBreak(a.type))
            return invalid(which + QStringLiteral(" has a line break in its content type"));
        const QString name = a.name.isEmpty() ? info.fileName() : a.name;
        QByteArray type = "application/octet-stream";
        const QString typeText = a.type.trimmed();
        if (!typeText.isEmpty()) {
            const QString mediaType = typeText.section(QLatin1Char(';'), 0, 0).trimmed();
            const QString params = typeText.section(QLatin1Char(';'), 1);
            if (mediaType.count(QLatin1Char('/')) != 1 || !isToken(mediaType.section(QLatin1Char('/'), 0, 0))
                || !isToken(mediaType.section(QLatin1Char('/'), 1)) || !isPlainAscii(params))
                return invalid(which + QStringLiteral(" has no valid content type: \"%1\" is not a type and a "
                                                      "subtype such as application/octet-stream")
                                           .arg(a.type));
            type = typeText.toLatin1();
        }
        attachments << ReadyAttachment{a.path, name, type, a.encoding};
    }

    // The head of the message
    QByteArray head;
    head += addressHeader("From", from) + "\r\n";
    head += addressHeader("To", to) + "\r\n";
    if (!cc.isEmpty())
        head += addressHeader("Cc", cc) + "\r\n";
    head += MailEncoding::unstructured("Subject", job.subject) + "\r\n";
    head += "Date: " + MailEncoding::date(QDateTime::currentDateTime()) + "\r\n";
    const QByteArray domain = mail.envelopeFrom.mid(mail.envelopeFrom.lastIndexOf('@') + 1);
    head += "Message-ID: <" + randomHex(12) + '.' + QByteArray::number(QDateTime::currentMSecsSinceEpoch())
            + '@' + domain + ">\r\n";
    head += custom;
    head += "MIME-Version: 1.0\r\n";

    QByteArray body;
    if (job.html.isEmpty()) {
        body = textPart("plain", job.text);
    } else {
        const QByteArray boundary = "=_alt_" + randomHex(12);
        body = "Content-Type: multipart/alternative; boundary=\"" + boundary + "\"\r\n\r\n";
        body += "--" + boundary + "\r\n" + textPart("plain", job.text);
        body += "\r\n--" + boundary + "\r\n" + textPart("html", job.html);
        body += "\r\n--" + boundary + "--\r\n";
    }

    QList<MailMessageSource::Piece> pieces;
    if (attachments.isEmpty()) {
        if (!body.endsWith("\r\n"))
            body += "\r\n";
        pieces << MailMessageSource::Piece{head + body, {}, 0};
    } else {
        const QByteArray boundary = "=_mixed_" + randomHex(12);
        head += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
        head += "This is a multi-part message in MIME format.\r\n";
        head += "--" + boundary + "\r\n" + body;
        QByteArray between;
        for (const ReadyAttachment &a : attachments) {
            between = "\r\n--" + boundary + "\r\n";
            between += "Content-Type: " + a.type + ";\r\n " + MailEncoding::parameter("name", a.name) + "\r\n";
            between += QByteArray("Content-Transfer-Encoding: ")
                       + (a.encoding == MailAttachment::SevenBit ? "7bit" : "base64") + "\r\n";
            between += "Content-Disposition: attachment;\r\n " + MailEncoding::parameter("filename", a.name)
                       + "\r\n\r\n";
            pieces << MailMessageSource::Piece{head + between, {}, 0};
            head.clear();
            pieces << MailMessageSource::Piece{{}, a.path, a.encoding};
        }
        pieces << MailMessageSource::Piece{"\r\n--" + boundary + "--\r\n", {}, 0};
    }
    mail.message = std::make_unique<MailMessageSource>(std::move(pieces));
    return mail;
}
