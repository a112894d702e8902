#include "mailsender.h"

#include "mailcompose.h"

#include <QMetaObject>
#include <QRegularExpression>
#include <QSysInfo>

#include <curl/curl.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

struct MailSender::Shared
{
    std::mutex mutex;
    MailSender *owner = nullptr; // cleared when the sender goes away
    std::atomic<bool> cancel{false};
    std::thread thread;
    // The connections the send has open (under `mutex`): a sender going away shuts them
    // down, so that whatever the library is waiting for there ends at once; it polls the
    // cancel flag only between waits, and some waits (a server that does not answer the
    // end of the message) last up to the reply time-out.
    std::vector<curl_socket_t> sockets;
    // The largest message each server ("host:port") said it accepts (EHLO SIZE), under `mutex`:
    // a message known to be larger is refused before connecting again.
    std::map<QString, qint64> sizeLimits;
};

namespace {

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QByteArray ehloDomain()
{
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$"));
    const QString host = QSysInfo::machineHostName();
    return valid.match(host).hasMatch() ? host.toLatin1() : QByteArray("localhost");
}

// "1.7 MB", "32 MB", "900 KB": a message size rounded up, a limit rounded down, so that a
// message over the limit never reads as the same size.
QString sizeText(qint64 bytes, bool roundUp)
{
    const bool megabytes = bytes >= 1024 * 1024;
    const double units = double(bytes) / (megabytes ? 1024.0 * 1024.0 : 1024.0);
    const double tenths = roundUp ? std::ceil(units * 10) : std::floor(units * 10);
    QString number = QString::number(tenths / 10, 'f', 1);
    if (number.endsWith(QLatin1String(".0")))
        number.chop(2);
    return number + (megabytes ? QStringLiteral(" MB") : QStringLiteral(" KB"));
}

QString tooLarge(qint64 message, qint64 limit)
{
    return QStringLiteral("The message is %1; the server accepts at most %2")
        .arg(sizeText(message, true), sizeText(limit, false));
}

// " (detail)", or nothing for an empty detail.
QString inParentheses(const QString &detail)
{
    return detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(detail);
}

struct SlistDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

} // namespace

// One send, run on its own thread. It reports to the sender through queued calls, and only
// while the sender exists.
class MailTransfer
{
public:
    MailTransfer(MailJob job, std::shared_ptr<MailSender::Shared> shared)
        : m_job(std::move(job))
        , m_shared(std::move(shared))
    {
    }

    void run();

private:
    enum class Stage { Pop, Smtp };

    // --- events
    void post(std::function<void(MailSender *)> call)
    {
        std::lock_guard lock(m_shared->mutex);
        MailSender *owner = m_shared->owner;
        if (!owner)
            return;
        QMetaObject::invokeMethod(owner, [owner, call = std::move(call)] { call(owner); }, Qt::QueuedConnection);
    }
    void status(const QString &text)
    {
        post([text](MailSender *s) {
            s->m_status = text;
            Q_EMIT s->StatusChanged(text);
        });
    }
    void error(const MailFailure &failure)
    {
        const QString text = scrub(failure.description);
        const qint16 number = failure.number;
        post([number, text](MailSender *s) { Q_EMIT s->ErrorSMTP(number, text); });
    }

    // --- curl callbacks
    static size_t readCallback(char *buffer, size_t size, size_t count, void *self);
    static int progressCallback(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int debugCallback(CURL *, curl_infotype type, char *data, size_t size, void *self);
    static curl_socket_t openSocketCallback(void *self, curlsocktype purpose, curl_sockaddr *address);
    static int closeSocketCallback(void *self, curl_socket_t socket);
    void onProtocolLine(curl_infotype type, const QByteArray &line);

    // With `sendsPassword` the connection must be encrypted (TLS from the start or STARTTLS),
    // or nothing is sent; without, STARTTLS is used where the server offers it.
    void setCommonOptions(CURL *handle, const MailEndpoint &endpoint, const char *protocols, bool sendsPassword);
    std::optional<MailFailure> popLogIn(const MailEndpoint &pop);
    std::optional<MailFailure> smtpSend(PreparedMail &mail);
    MailFailure failureFor(CURLcode code, const MailEndpoint &endpoint);
    void abortWith(const MailFailure &failure)
    {
        if (!m_abort)
            m_abort = failure;
    }
    QString scrub(QString text) const;
    QString replyText() const;

    MailJob m_job;
    std::shared_ptr<MailSender::Shared> m_shared;
    Stage m_stage = Stage::Smtp;
    MailMessageSource *m_message = nullptr;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};

    // What the protocol stream showed so far
    bool m_connected = false;
    bool m_anyConnection = false;
    bool m_startTlsSent = false;
    bool m_secured = false;
    bool m_authOffered = false;
    bool m_inAuth = false;
    bool m_authenticated = false;
    bool m_mailFromSent = false;
    bool m_dataSent = false;
    bool m_replyComplete = true;
    bool m_quitSent = false;
    QString m_lastReply;
    QList<QByteArray> m_secrets;
    std::optional<MailFailure> m_abort;
    MailEndpoint m_endpoint;
    qint64 m_messageSize = -1;
    qint64 m_serverLimit = 0; // from this connection's EHLO; 0: none said
};

size_t MailTransfer::readCallback(char *buffer, size_t size, size_t count, void *self)
{
    auto *t = static_cast<MailTransfer *>(self);
    if (t->m_abort || t->m_shared->cancel)
        return CURL_READFUNC_ABORT;
    const qint64 got = t->m_message->read(buffer, qint64(size * count));
    if (got < 0) {
        t->abortWith(*t->m_message->failure());
        return CURL_READFUNC_ABORT;
    }
    return size_t(got);
}

int MailTransfer::progressCallback(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *t = static_cast<MailTransfer *>(self);
    return (t->m_abort || t->m_shared->cancel) ? 1 : 0;
}

curl_socket_t MailTransfer::openSocketCallback(void *self, curlsocktype, curl_sockaddr *address)
{
    auto *t = static_cast<MailTransfer *>(self);
    const curl_socket_t socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket == CURL_SOCKET_BAD)
        return socket;
    std::lock_guard lock(t->m_shared->mutex);
    t->m_shared->sockets.push_back(socket);
    if (t->m_shared->cancel)
        ::shutdown(socket, SHUT_RDWR);
    return socket;
}

int MailTransfer::closeSocketCallback(void *self, curl_socket_t socket)
{
    auto *t = static_cast<MailTransfer *>(self);
    {
        std::lock_guard lock(t->m_shared->mutex);
        std::erase(t->m_shared->sockets, socket);
    }
    return ::close(socket);
}

int MailTransfer::debugCallback(CURL *, curl_infotype type, char *data, size_t size, void *self)
{
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT)
        return 0; // message data and TLS records are never looked at
    auto *t = static_cast<MailTransfer *>(self);
    const QByteArray text(data, qsizetype(size));
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            t->onProtocolLine(type, line);
    }
    return 0;
}

void MailTransfer::onProtocolLine(curl_infotype type, const QByteArray &line)
{
    const QByteArray upper = line.toUpper();
    if (type == CURLINFO_HEADER_OUT) {
        m_replyComplete = true;
        if (upper.startsWith("AUTH ")) {
            m_inAuth = true;
            // "AUTH PLAIN <initial response>": everything after the mechanism is log-in data.
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() > 2)
                m_secrets << parts.mid(2).join(' ');
            return;
        }
        if (upper.startsWith("PASS ")) {
            m_secrets << line.mid(5);
            return;
        }
        if (upper.startsWith("APOP ")) {
            m_secrets << line.mid(5);
            return;
        }
        if (m_inAuth && !m_authenticated) {
            // A continuation of the log-in dialogue (user name, password, their base64 forms).
            if (!upper.startsWith("EHLO") && !upper.startsWith("MAIL FROM") && !upper.startsWith("QUIT")
                && !upper.startsWith("LIST") && !upper.startsWith("STAT")) {
                m_secrets << line;
                return;
            }
        }
        if (upper.startsWith("EHLO") || upper.startsWith("HELO")) {
            m_authOffered = false;
            if (m_startTlsSent && !m_secured) {
                m_secured = true;
                status(QStringLiteral("Secured the connection with TLS"));
            }
        } else if (upper.startsWith("STARTTLS") || upper.startsWith("STLS")) {
            m_startTlsSent = true;
        } else if (upper.startsWith("MAIL FROM")) {
            m_mailFromSent = true;
            if ((m_job.authType == MailSender::AuthLogin || m_job.authType == MailSender::AuthPlain)
                && !m_authenticated) {
                abortWith(MailFailure{MailError::LoginFailed,
                                      m_authOffered
                                          ? QStringLiteral("The log-in could not be done, so the message was not sent")
                                          : QStringLiteral("The server offers no log-in (AUTH) on this connection, "
                                                           "so the message was not sent; choose \"None\" or "
                                                           "another server")});
                return;
            }
            status(QStringLiteral("Sending the message"));
            post([](MailSender *s) { Q_EMIT s->SendSMTP(); });
        } else if (upper.startsWith("DATA")) {
            m_dataSent = true;
        } else if (upper.startsWith("QUIT")) {
            m_quitSent = true; // the goodbye is no reply worth reporting
        }
        return;
    }
    if (m_quitSent)
        return;

    // A reply line from the server.
    const QString text = QString::fromUtf8(line);
    if (m_replyComplete)
        m_lastReply = text;
    else
        m_lastReply += QLatin1Char(' ') + text;
    m_replyComplete = !(line.size() > 3 && line.at(3) == '-');
    const QByteArray code = line.left(3);

    if (upper.startsWith("250-AUTH") || upper.startsWith("250 AUTH") || upper.startsWith("250-AUTH="))
        m_authOffered = true;
    if (m_stage == Stage::Smtp && (upper.startsWith("250-SIZE ") || upper.startsWith("250 SIZE "))) {
        bool ok = false;
        const qint64 limit = line.mid(9).trimmed().toLongLong(&ok);
        if (ok && limit > 0) { // 0 or nothing: no fixed limit
            m_serverLimit = limit;
            std::lock_guard lock(m_shared->mutex);
            m_shared->sizeLimits[m_endpoint.display()] = limit;
        }
    }
    if (!m_connected && m_replyComplete && (code == "220" || line.startsWith("+OK"))) {
        m_connected = true;
        m_anyConnection = true;
        if (m_stage == Stage::Smtp) {
            post([](MailSender *s) { Q_EMIT s->ConnectSMTP(); });
            status(m_endpoint.implicitTls
                       ? QStringLiteral("Connected to %1 with TLS").arg(m_endpoint.display())
                       : QStringLiteral("Connected to %1").arg(m_endpoint.display()));
        } else {
            status(QStringLiteral("Connected to the POP server %1").arg(m_endpoint.display()));
        }
        return;
    }
    if (m_inAuth && !m_authenticated && m_replyComplete
        && (code == "235" || (m_stage == Stage::Pop && line.startsWith("+OK") && !line.startsWith("+OK "
                                                                                                  "Begin TLS")))) {
        // For POP3 the first +OK after the log-in commands ends the log-in.
        if (m_stage == Stage::Smtp || m_secrets.size() > 0) {
            m_authenticated = true;
            m_inAuth = false;
            status(m_stage == Stage::Smtp ? QStringLiteral("Logged in") : QStringLiteral("Logged in to the POP server"));
        }
    }
}

QString MailTransfer::scrub(QString text) const
{
    QList<QByteArray> secrets = m_secrets;
    if (m_job.password.size() >= 4)
        secrets << m_job.password.toUtf8();
    for (const QByteArray &secret : secrets) {
        if (secret.size() >= 4)
            text.replace(QString::fromUtf8(secret), QStringLiteral("****"));
    }
    return text;
}

QString MailTransfer::replyText() const
{
    // Only a refusal is worth showing; an earlier positive reply would mislead.
    if (m_lastReply.size() >= 3 && (m_lastReply.at(0) == QLatin1Char('4') || m_lastReply.at(0) == QLatin1Char('5')
                                    || m_lastReply.startsWith(QLatin1String("-ERR"))))
        return QStringLiteral(" (server reply: %1)").arg(m_lastReply);
    return {};
}

void MailTransfer::setCommonOptions(CURL *h, const MailEndpoint &endpoint, const char *protocols, bool sendsPassword)
{
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_errorBuffer);
    if (!endpoint.implicitTls)
        curl_easy_setopt(h, CURLOPT_USE_SSL, long(sendsPassword ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    if (!m_job.caCertificates.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, m_job.caCertificates.toLocal8Bit().constData());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, long(m_job.connectTimeout));
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(m_job.replyTimeout));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(m_job.replyTimeout));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &MailTransfer::progressCallback);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &MailTransfer::openSocketCallback);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &MailTransfer::closeSocketCallback);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, this);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &MailTransfer::debugCallback);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, this);
}

MailFailure MailTransfer::failureFor(CURLcode code, const MailEndpoint &endpoint)
{
    if (m_abort)
        return *m_abort;
    const QString where = endpoint.display();
    const QString detail = QString::fromUtf8(m_errorBuffer).trimmed();
    const QString reply = replyText();
    const bool pop = (m_stage == Stage::Pop);
    const QString server = pop ? QStringLiteral("POP server") : QStringLiteral("server");
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return {MailError::ServerNotFound,
                QStringLiteral("The %1 \"%2\" was not found%3").arg(server, endpoint.host, inParentheses(detail))};
    case CURLE_COULDNT_CONNECT:
        return {MailError::ConnectFailed,
                QStringLiteral("Could not connect to the %1 %2%3").arg(server, where, inParentheses(detail))};
    case CURLE_OPERATION_TIMEDOUT:
        if (!m_connected)
            return {MailError::TimedOut,
                    QStringLiteral("The %1 %2 did not answer within the time allowed%3")
                        .arg(server, where, inParentheses(detail))};
        return {MailError::TimedOut,
                QStringLiteral("The %1 %2 stopped answering; nothing more came within %3 seconds")
                    .arg(server, where)
                    .arg(m_job.replyTimeout)};
    case CURLE_PEER_FAILED_VERIFICATION:
        return {MailError::SecureFailed,
                QStringLiteral("The certificate of the %1 %2 could not be verified, so nothing was sent%3")
                    .arg(server, where, inParentheses(detail))};
    case CURLE_USE_SSL_FAILED:
        // Encryption was required because a password was to be sent.
        if (!m_startTlsSent)
            return {MailError::SecureFailed,
                    QStringLiteral("The %1 does not offer an encrypted connection, so the password was not sent")
                        .arg(server)};
        [[fallthrough]];
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
        return {MailError::SecureFailed,
                QStringLiteral("Could not secure the connection to the %1 %2%3").arg(server, where, inParentheses(detail))};
    case CURLE_LOGIN_DENIED:
        return {MailError::LoginFailed,
                QStringLiteral("The %1 %2 refused the log-in%3").arg(server, where, reply)};
    case CURLE_AUTH_ERROR:
        return {MailError::LoginFailed,
                QStringLiteral("The %1 %2 does not offer the chosen log-in method%3").arg(server, where, reply)};
    case CURLE_ABORTED_BY_CALLBACK:
        return {MailError::Cancelled, QStringLiteral("Sending was stopped; the message was not sent")};
    case CURLE_READ_ERROR:
        if (m_message && m_message->failure())
            return *m_message->failure();
        return {MailError::AttachmentProblem, QStringLiteral("An attachment could not be read%1").arg(inParentheses(detail))};
    default:
        break;
    }
    if (m_serverLimit > 0 && m_messageSize > m_serverLimit
        && (m_dataSent || detail.startsWith(QLatin1String("MAIL failed"))))
        return {MailError::MessageRefused, tooLarge(m_messageSize, m_serverLimit) + reply};
    if (detail.startsWith(QLatin1String("MAIL failed")))
        return {MailError::SenderRefused,
                QStringLiteral("The server %1 refused the sender%2").arg(where, reply)};
    if (detail.startsWith(QLatin1String("RCPT failed")))
        return {MailError::RecipientRefused,
                QStringLiteral("The server %1 refused a recipient%2").arg(where, reply)};
    if (m_dataSent)
        return {MailError::MessageRefused,
                QStringLiteral("The server %1 did not accept the message%2%3").arg(where, reply, inParentheses(detail))};
    if (!m_connected)
        return {MailError::ConnectFailed,
                QStringLiteral("The connection to the %1 %2 failed%3").arg(server, where, inParentheses(detail))};
    return {MailError::Other, QStringLiteral("Sending through %1 failed: %2%3")
                                  .arg(where, detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail,
                                       reply)};
}

std::optional<MailFailure> MailTransfer::popLogIn(const MailEndpoint &pop)
{
    m_stage = Stage::Pop;
    m_endpoint = pop;
    status(QStringLiteral("Connecting to the POP server %1").arg(pop.display()));
    Easy handle(curl_easy_init());
    if (!handle)
        return MailFailure{MailError::Other, QStringLiteral("The mail library could not be started")};
    CURL *h = handle.get();
    setCommonOptions(h, pop, "pop3,pop3s", true);
    curl_easy_setopt(h, CURLOPT_URL, (pop.url("pop3", "pop3s") + '/').constData());
    curl_easy_setopt(h, CURLOPT_USERNAME, m_job.username.toUtf8().constData());
    curl_easy_setopt(h, CURLOPT_PASSWORD, m_job.password.toUtf8().constData());
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L); // log in, then QUIT: no message is listed or fetched
    const CURLcode code = curl_easy_perform(h);
    std::optional<MailFailure> failure;
    if (code != CURLE_OK)
        failure = failureFor(code, pop);
    else if (!m_authenticated)
        status(QStringLiteral("Logged in to the POP server"));
    handle.reset();
    return failure;
}

std::optional<MailFailure> MailTransfer::smtpSend(PreparedMail &mail)
{
    m_stage = Stage::Smtp;
    m_endpoint = mail.smtp;
    m_connected = false;
    m_inAuth = false;
    m_authenticated = false;
    m_startTlsSent = false;
    m_secured = false;
    m_quitSent = false;
    m_lastReply.clear();
    m_errorBuffer[0] = '\0';
    m_message = mail.message.get();

    status(QStringLiteral("Connecting to %1").arg(mail.smtp.display()));
    Easy handle(curl_easy_init());
    if (!handle)
        return MailFailure{MailError::Other, QStringLiteral("The mail library could not be started")};
    CURL *h = handle.get();
    const bool logIn = m_job.authType == MailSender::AuthLogin || m_job.authType == MailSender::AuthPlain;
    setCommonOptions(h, mail.smtp, "smtp,smtps", logIn);
    curl_easy_setopt(h, CURLOPT_URL, (mail.smtp.url("smtp", "smtps") + '/' + ehloDomain()).constData());
    if (logIn) {
        curl_easy_setopt(h, CURLOPT_USERNAME, m_job.username.toUtf8().constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, m_job.password.toUtf8().constData());
        curl_easy_setopt(h, CURLOPT_LOGIN_OPTIONS,
                         m_job.authType == MailSender::AuthLogin ? "AUTH=LOGIN" : "AUTH=PLAIN");
    }
    const QByteArray from = '<' + mail.envelopeFrom + '>';
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.constData());
    std::unique_ptr<curl_slist, SlistDeleter> recipients;
    for (const QByteArray &to : mail.envelopeTo) {
        curl_slist *grown = curl_slist_append(recipients.get(), ('<' + to + '>').constData());
        if (!grown)
            return MailFailure{MailError::Other, QStringLiteral("Out of memory")};
        recipients.release();
        recipients.reset(grown);
    }
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    // Announced with MAIL FROM (SIZE=), so that a server refuses a message too large for it
    // before any of it is sent.
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_messageSize));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &MailTransfer::readCallback);
    curl_easy_setopt(h, CURLOPT_READDATA, this);

    const CURLcode code = curl_easy_perform(h);
    std::optional<MailFailure> failure;
    if (code != CURLE_OK)
        failure = failureFor(code, mail.smtp);
    else
        status(mail.envelopeTo.size() == 1
                   ? QStringLiteral("Message sent to 1 recipient")
                   : QStringLiteral("Message sent to %1 recipients").arg(mail.envelopeTo.size()));
    handle.reset(); // says QUIT and closes the connection
    m_message = nullptr;
    return failure;
}

void MailTransfer::run()
{
    bool delivered = false;
    auto prepared = prepareMail(m_job);
    if (auto *invalid = std::get_if<MailFailure>(&prepared)) {
        error(*invalid);
    } else {
        PreparedMail &mail = std::get<PreparedMail>(prepared);
        std::optional<MailFailure> failure;
        m_messageSize = mail.message->measureWireSize();
        if (m_messageSize < 0) {
            failure = mail.message->failure();
        } else {
            std::lock_guard lock(m_shared->mutex);
            const auto known = m_shared->sizeLimits.find(mail.smtp.display());
            if (known != m_shared->sizeLimits.end() && m_messageSize > known->second)
                failure = MailFailure{MailError::MessageRefused, tooLarge(m_messageSize, known->second)};
        }
        if (!failure && mail.pop) {
            failure = popLogIn(*mail.pop);
            m_connected = false;
        }
        if (!failure && !m_shared->cancel)
            failure = smtpSend(mail);
        if (!failure && m_shared->cancel)
            failure = MailFailure{MailError::Cancelled, QStringLiteral("Sending was stopped; the message was not sent")};
        if (failure)
            error(*failure);
        else
            delivered = true;
        if (m_anyConnection) {
            post([](MailSender *s) { Q_EMIT s->CloseSMTP(); });
            status(QStringLiteral("Connection closed"));
        }
    }
    post([delivered](MailSender *s) { s->finishTransfer(delivered); });
}

// --- the sender -------------------------------------------------------------------------------

MailSender::MailSender(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    initCurlOnce();
    m_shared->owner = this;
}

MailSender::~MailSender()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->owner = nullptr;
        m_shared->cancel = true;
        for (const curl_socket_t socket : m_shared->sockets)
            ::shutdown(socket, SHUT_RDWR);
    }
    if (m_shared->thread.joinable())
        m_shared->thread.join();
}

void MailSender::setTimeouts(int connectSeconds, int replySeconds)
{
    m_job.connectTimeout = qMax(1, connectSeconds);
    m_job.replyTimeout = qMax(1, replySeconds);
}

void MailSender::Send()
{
    MailJob job = m_job;
    // The message is fixed now; rows added from here on belong to the next one.
    m_job.attachments.clear();
    m_job.headers.clear();
    if (m_busy) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                Q_EMIT ErrorSMTP(MailError::Busy, QStringLiteral("A message is still being sent; this one was not "
                                                                 "sent. Try again when it has finished."));
            },
            Qt::QueuedConnection);
        return;
    }
    if (m_shared->thread.joinable())
        m_shared->thread.join();
    try {
        startWorker([job = std::move(job), shared = m_shared]() mutable {
            MailTransfer transfer(std::move(job), shared);
            transfer.run();
        });
    } catch (const std::exception &error) {
        // Nothing runs, so nothing will end this send: report it and stay ready for the next.
        const QString reason = QString::fromLocal8Bit(error.what());
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                Q_EMIT ErrorSMTP(MailError::Other,
                                 QStringLiteral("The message was not sent: the sending could not be started (%1)")
                                     .arg(reason));
                Q_EMIT sendFinished(false);
            },
            Qt::QueuedConnection);
        return;
    }
    m_busy = true;
}

void MailSender::startWorker(std::function<void()> transfer)
{
    m_shared->thread = std::thread(std::move(transfer));
}

void MailSender::finishTransfer(bool delivered)
{
    if (m_shared->thread.joinable())
        m_shared->thread.join();
    m_busy = false;
    Q_EMIT sendFinished(delivered);
}
