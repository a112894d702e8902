// The SMTP component against real servers on 127.0.0.1: aiosmtpd (plain, AUTH LOGIN/PLAIN,
// STARTTLS, TLS from the start, refusing, stalling), a server that never answers, and dovecot
// for POP before SMTP. What arrived is judged by Python's e-mail parser.

#include "mailpeers.h"
#include "mailsender.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <system_error>

namespace {

struct Outcome
{
    bool finished = false;
    bool delivered = false;
    QList<QPair<int, QString>> errors;
    QStringList statuses;
    QStringList events; // "connect", "send", "close", "status", "error", in order
    bool allOnGuiThread = true;
    qint64 milliseconds = 0;
    QString firstError() const { return errors.isEmpty() ? QString() : errors.first().second; }
    int firstNumber() const { return errors.isEmpty() ? 0 : errors.first().first; }
};

// Sends and waits for the end, recording every event.
Outcome sendAndWait(MailSender &sender, int timeoutMs = 30000)
{
    auto outcome = std::make_shared<Outcome>();
    QObject context;
    auto onGui = [outcome] {
        if (QThread::currentThread() != qApp->thread())
            outcome->allOnGuiThread = false;
    };
    QObject::connect(&sender, &MailSender::ConnectSMTP, &context, [=] { onGui(); outcome->events << "connect"; });
    QObject::connect(&sender, &MailSender::SendSMTP, &context, [=] { onGui(); outcome->events << "send"; });
    QObject::connect(&sender, &MailSender::CloseSMTP, &context, [=] { onGui(); outcome->events << "close"; });
    QObject::connect(&sender, &MailSender::StatusChanged, &context, [=, &sender](const QString &text) {
        onGui();
        outcome->events << "status";
        outcome->statuses << text;
        if (sender.status() != text)
            outcome->allOnGuiThread = false;
    });
    QObject::connect(&sender, &MailSender::ErrorSMTP, &context, [=](qint16 n, const QString &text) {
        onGui();
        outcome->events << "error";
        outcome->errors << qMakePair(int(n), text);
    });
    QSignalSpy finished(&sender, &MailSender::sendFinished);
    QElapsedTimer clock;
    clock.start();
    sender.Send();
    outcome->finished = finished.wait(timeoutMs);
    outcome->milliseconds = clock.elapsed();
    if (outcome->finished)
        outcome->delivered = finished.first().first().toBool();
    return *outcome;
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QJsonObject part(const ReceivedMail &mail, int index)
{
    return mail.parsed.value("parts").toArray().at(index).toObject();
}

QStringList partTypes(const ReceivedMail &mail)
{
    QStringList types;
    for (const QJsonValue &p : mail.parsed.value("parts").toArray())
        types << p.toObject().value("content_type").toString();
    return types;
}

// A sender whose first transfers cannot get a thread, as when the system has none to spare.
class ThreadlessSender : public MailSender
{
public:
    int refusals = 1;

protected:
    void startWorker(std::function<void()> transfer) override
    {
        if (refusals > 0) {
            --refusals;
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        MailSender::startWorker(std::move(transfer));
    }
};

int unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes away
}

} // namespace

class TestMailSmtp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void plainMessageArrives();
    void fullMessageArrivesIntact();
    void passwordOnlyOverEncryption_data();
    void passwordOnlyOverEncryption();
    void wrongPasswordIsRefusedWithoutShowingIt();
    void loginRequestedButNotOffered();
    void startTlsWithTrustedCertificate();
    void untrustedCertificateIsReported();
    void tlsFromTheStart();
    void refusedConnection();
    void unknownHost();
    void refusedRecipient();
    void messageOverTheSizeLimit();
    void silentServerTimesOut();
    void stalledServerTimesOut();
    void refusedBeforeConnecting_data();
    void refusedBeforeConnecting();
    void secondSendWhileBusy();
    void sendThatCannotStartLeavesSenderReady();
    void sendTakesItsOwnCopy();
    void popWrongPassword();
    void closingWhileSendingEndsPromptly();

private:
    void configure(MailSender &sender, const QString &server);
    QTemporaryDir m_dir;
    QString m_inbox;  // the shared plain server's messages
    std::unique_ptr<MailPeer> m_plain; // no TLS, LOGIN and PLAIN offered, user ann/s3cret-pw
    QString m_cert;
    int m_mailCount = 0;
};

void TestMailSmtp::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_inbox = m_dir.filePath("inbox");
    m_plain = MailPeer::smtp(m_inbox, {"--user", "ann", "--password", "s3cret-pw"});
    QVERIFY2(m_plain->isReady(), qPrintable(m_plain->errors()));
    QVERIFY(makeCertificate(m_dir.path()));
    m_cert = m_dir.filePath("cert.pem");
}

void TestMailSmtp::init()
{
    m_mailCount = receivedCount(m_inbox);
}

void TestMailSmtp::cleanupTestCase()
{
    m_plain.reset();
}

void TestMailSmtp::configure(MailSender &sender, const QString &server)
{
    sender.setServer(server);
    sender.setMailFrom("ann@example.org");
    sender.setSendTo("bob@example.org");
    sender.setMessageSubject("Hello");
    sender.setMessageText("Plain text message\n");
    sender.setTimeouts(5, 5);
}

void TestMailSmtp::plainMessageArrives()
{
    MailSender sender;
    configure(sender, m_plain->address());
    const Outcome outcome = sendAndWait(sender);
    QVERIFY(outcome.finished);
    QVERIFY2(outcome.delivered, qPrintable(outcome.firstError()));
    QVERIFY(outcome.allOnGuiThread);
    QCOMPARE(outcome.statuses, (QStringList{"Connecting to " + m_plain->address(),
                                            "Connected to " + m_plain->address(), "Sending the message",
                                            "Message sent to 1 recipient", "Connection closed"}));
    QCOMPARE(outcome.events, (QStringList{"status", "connect", "status", "status", "send", "status", "close", "status"}));
    QCOMPARE(sender.status(), QString("Connection closed"));

    QCOMPARE(receivedCount(m_inbox), m_mailCount + 1);
    ReceivedMail mail;
    QVERIFY(receivedMail(m_inbox, m_mailCount + 1, &mail));
    QCOMPARE(mail.header("From"), QString("ann@example.org"));
    QCOMPARE(mail.header("To"), QString("bob@example.org"));
    QCOMPARE(mail.header("Subject"), QString("Hello"));
    QVERIFY(!mail.header("Date").isEmpty());
    QVERIFY(mail.header("Message-ID").endsWith("@example.org>"));
    QCOMPARE(mail.headerNames().mid(0, 6), (QStringList{"From", "To", "Subject", "Date", "Message-ID", "MIME-Version"}));
    // Without HTML there is one plain part only.
    QCOMPARE(partTypes(mail), QStringList{"text/plain"});
    QCOMPARE(part(mail, 0).value("text").toString(), QString("Plain text message\n"));
    QVERIFY(!mail.parsed.value("bare_lf").toBool());
    QCOMPARE(mail.envelope.value("mail_from").toString(), QString("ann@example.org"));
    QCOMPARE(mail.envelope.value("rcpt_tos").toArray().toVariantList(), QVariantList{"bob@example.org"});
    QVERIFY(mail.envelope.value("auth").isNull());
}

void TestMailSmtp::fullMessageArrivesIntact()
{
    const QByteArray binary = randomBytes(100000);
    // Lines of exactly 998 characters (the longest a line may be) with either line end, and last.
    const QByteArray text = "first line\n" + QByteArray(998, 'a') + "\n" + QByteArray(998, 'b')
                            + "\r\n.a line starting with a dot\n\n" + QByteArray(998, 'c');
    const QString binPath = writeFile(m_dir.filePath("data.bin"), binary);
    const QString textPath = writeFile(m_dir.filePath("notes.txt"), text);
    const QString emptyPath = writeFile(m_dir.filePath("empty"), {});

    MailSender sender;
    configure(sender, m_plain->address());
    sender.setMailFrom(QString::fromUtf8("\"Ann Müller\" <ann@example.org>"));
    sender.setSendTo("Bob <bob@example.org>; carol@example.org");
    sender.setCC("dave@example.org");
    sender.setBCC("hidden@example.org, secret@example.org");
    const QString subject = QString::fromUtf8("Grüße aus Köln – ") + QString(40, QChar(0x65E5)) + " \U0001F600 end";
    sender.setMessageSubject(subject);
    const QString plain = QString::fromUtf8("Zeile eins: äöü\n.dot line\n") + QString(1200, 'x') + "\ntrailing space \nend";
    sender.setMessageText(plain);
    sender.setMessageHTML("<p>Hello <b>world</b></p>\n");
    sender.customHeaders() << MailHeader{"X-First", "one"} << MailHeader{"Reply-To", "replies@example.org"}
                           << MailHeader{"X-Unicode", QString::fromUtf8("naïve value")};
    sender.attachments() << MailAttachment{binPath, QString::fromUtf8("Bericht März €.bin"), "application/octet-stream", 0}
                         << MailAttachment{textPath, "", "text/plain", 1}
                         << MailAttachment{emptyPath, "empty.dat", "", 0};
    const Outcome outcome = sendAndWait(sender);
    QVERIFY2(outcome.delivered, qPrintable(outcome.firstError()));
    QVERIFY(sender.attachments().isEmpty());
    QVERIFY(sender.customHeaders().isEmpty());

    ReceivedMail mail;
    QVERIFY(receivedMail(m_inbox, m_mailCount + 1, &mail));
    QVERIFY2(mail.parsed.value("defects").toArray().isEmpty(), mail.raw.left(3000));
    QVERIFY(!mail.parsed.value("bare_lf").toBool());
    QVERIFY(mail.parsed.value("longest_line").toInt() <= 998);
    QCOMPARE(mail.header("Subject"), subject);
    QCOMPARE(mail.header("From"), QString::fromUtf8("Ann Müller <ann@example.org>"));
    QCOMPARE(mail.header("To"), QString("Bob <bob@example.org>, carol@example.org"));
    QCOMPARE(mail.header("Cc"), QString("dave@example.org"));
    QCOMPARE(mail.countOf("Bcc"), 0);
    QVERIFY(!mail.raw.contains("hidden@example.org"));
    QCOMPARE(mail.header("X-Unicode"), QString::fromUtf8("naïve value"));
    const QStringList names = mail.headerNames();
    QVERIFY(names.indexOf("Message-ID") < names.indexOf("X-First"));
    QVERIFY(names.indexOf("X-First") < names.indexOf("Reply-To"));
    QVERIFY(names.indexOf("Reply-To") < names.indexOf("X-Unicode"));
    QCOMPARE(mail.envelope.value("rcpt_tos").toArray().toVariantList(),
             (QVariantList{"bob@example.org", "carol@example.org", "dave@example.org", "hidden@example.org",
                           "secret@example.org"}));

    QCOMPARE(partTypes(mail), (QStringList{"multipart/mixed", "multipart/alternative", "text/plain", "text/html",
                                           "application/octet-stream", "text/plain", "application/octet-stream"}));
    QCOMPARE(part(mail, 2).value("text").toString(), plain);
    QCOMPARE(part(mail, 2).value("charset").toString(), QString("utf-8"));
    QCOMPARE(part(mail, 3).value("text").toString(), QString("<p>Hello <b>world</b></p>\n"));
    const QJsonObject bin = part(mail, 4);
    QCOMPARE(bin.value("filename").toString(), QString::fromUtf8("Bericht März €.bin"));
    QCOMPARE(bin.value("encoding").toString(), QString("base64"));
    QCOMPARE(bin.value("disposition").toString(), QString("attachment"));
    QCOMPARE(bin.value("sha256").toString(), sha256(binary));
    const QJsonObject notes = part(mail, 5);
    QCOMPARE(notes.value("filename").toString(), QString("notes.txt"));
    QCOMPARE(notes.value("encoding").toString(), QString("7bit"));
    // Sent as text with CRLF line ends, which a reader sees as the same lines.
    QCOMPARE(notes.value("text").toString().replace("\r\n", "\n"), QString::fromLatin1(text).replace("\r\n", "\n"));
    QCOMPARE(part(mail, 6).value("size").toInt(), 0);
    QCOMPARE(part(mail, 6).value("filename").toString(), QString("empty.dat"));
}

void TestMailSmtp::passwordOnlyOverEncryption_data()
{
    QTest::addColumn<int>("authType");
    QTest::addColumn<bool>("encryptionOffered");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QString>("mechanism");
    QTest::newRow("Login, no STARTTLS") << 2 << false << false << "";
    QTest::newRow("Plain, no STARTTLS") << 3 << false << false << "";
    QTest::newRow("POP, no STLS") << 1 << false << false << "";
    QTest::newRow("None, no STARTTLS") << 0 << false << true << "";
    QTest::newRow("Login over STARTTLS") << 2 << true << true << "LOGIN";
    QTest::newRow("Plain over STARTTLS") << 3 << true << true << "PLAIN";
    QTest::newRow("POP over STLS") << 1 << true << true << "";
}

void TestMailSmtp::passwordOnlyOverEncryption()
{
    // A password goes to a server only over an encrypted connection; without a log-in a
    // server without encryption still gets the message.
    QFETCH(int, authType);
    QFETCH(bool, encryptionOffered);
    QFETCH(bool, sent);
    QFETCH(QString, mechanism);
    const bool pop = (authType == 1);
    QTemporaryDir inbox;
    QTemporaryDir popDir;
    QStringList options{"--user", "ann", "--password", "s3cret-pw"}; // AUTH offered in clear
    if (encryptionOffered && !pop)
        options << "--starttls" << m_cert << m_dir.filePath("key.pem");
    auto peer = MailPeer::smtp(inbox.path(), options);
    QVERIFY(peer->isReady());
    std::unique_ptr<MailPeer> popPeer;
    if (pop) {
        popPeer = encryptionOffered
                      ? MailPeer::pop3(popDir.path(), "tester", "secret", m_cert, m_dir.filePath("key.pem"))
                      : MailPeer::pop3(popDir.path(), "tester", "secret");
        QVERIFY2(popPeer->isReady(), qPrintable(popPeer->errors()));
    }
    MailSender sender;
    configure(sender, peer->address());
    sender.setCaCertificates(m_cert);
    sender.setAuthType(authType);
    sender.setUsername(pop ? "tester" : "ann");
    sender.setPassword(pop ? "secret" : "s3cret-pw");
    if (pop)
        sender.setPOPServer(popPeer->address());
    const Outcome outcome = sendAndWait(sender);
    QVERIFY(outcome.finished);
    const QStringList commands = receivedCommands(inbox.path());
    QByteArray popLog;
    if (pop) {
        QFile log(popDir.filePath("dovecot.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        popLog = log.readAll();
    }
    if (!sent) {
        QVERIFY(!outcome.delivered);
        QCOMPARE(outcome.firstNumber(), int(MailError::SecureFailed));
        QCOMPARE(outcome.firstError(),
                 QString("The %1 does not offer an encrypted connection, so the password was not sent")
                     .arg(pop ? "POP server" : "server"));
        QVERIFY(!outcome.statuses.join('\n').contains("Logged in"));
        QVERIFY2(commands.filter(QRegularExpression("^(AUTH|MAIL|DATA)")).isEmpty(), qPrintable(commands.join('|')));
        QVERIFY(!popLog.contains("Login:"));
        QCOMPARE(receivedCount(inbox.path()), 0);
        return;
    }
    QVERIFY2(outcome.delivered, qPrintable(outcome.firstError()));
    ReceivedMail mail;
    QVERIFY(receivedMail(inbox.path(), 1, &mail));
    if (pop) {
        QVERIFY(popLog.contains("Login: user=<tester>"));
        QVERIFY2(popLog.contains(", TLS"), popLog.constData());
        QCOMPARE(outcome.statuses.mid(0, 3), (QStringList{"Connecting to the POP server " + popPeer->address(),
                                                          "Connected to the POP server " + popPeer->address(),
                                                          "Logged in to the POP server"}));
        QVERIFY(mail.envelope.value("auth").isNull()); // SMTP itself without log-in
    } else if (authType == 0) {
        QVERIFY(mail.envelope.value("auth").isNull());
        QVERIFY(!mail.envelope.value("tls").toBool());
    } else {
        QCOMPARE(commands.mid(0, 2), (QStringList{"STARTTLS", "AUTH " + mechanism}));
        QVERIFY(outcome.statuses.contains("Logged in"));
        QVERIFY(mail.envelope.value("tls").toBool());
        QCOMPARE(mail.envelope.value("auth").toObject().value("mechanism").toString(), mechanism);
        QCOMPARE(mail.envelope.value("auth").toObject().value("login").toString(), QString("ann"));
    }
}

void TestMailSmtp::wrongPasswordIsRefusedWithoutShowingIt()
{
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--user", "ann", "--password", "s3cret-pw", "--starttls", m_cert,
                                              m_dir.filePath("key.pem")});
    QVERIFY(peer->isReady());
    for (int authType : {2, 3}) {
        MailSender sender;
        configure(sender, peer->address());
        sender.setCaCertificates(m_cert);
        sender.setAuthType(authType);
        sender.setUsername("ann");
        sender.setPassword("wrong-password");
        const Outcome outcome = sendAndWait(sender);
        QVERIFY(outcome.finished && !outcome.delivered);
        QCOMPARE(outcome.firstNumber(), int(MailError::LoginFailed));
        QVERIFY2(outcome.firstError().contains("refused the log-in") && outcome.firstError().contains("535"),
                 qPrintable(outcome.firstError()));
        const QString all = outcome.statuses.join('\n') + outcome.firstError();
        QVERIFY(!all.contains("wrong-password"));
        QVERIFY(!all.contains(QString::fromLatin1(QByteArray("wrong-password").toBase64())));
        QVERIFY(!all.contains(QString::fromLatin1(QByteArray("\0ann\0wrong-password", 20).toBase64())));
        QVERIFY(outcome.events.endsWith("close") || outcome.events.mid(outcome.events.size() - 2).contains("close"));
    }
    QCOMPARE(receivedCount(inbox.path()), 0);
}

void TestMailSmtp::loginRequestedButNotOffered()
{
    // An encrypted connection, but no log-in offered on it.
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--starttls", m_cert, m_dir.filePath("key.pem"), "--no-auth"});
    QVERIFY(peer->isReady());
    MailSender sender;
    configure(sender, peer->address());
    sender.setCaCertificates(m_cert);
    sender.setAuthType(2);
    sender.setUsername("ann");
    sender.setPassword("pw");
    const Outcome outcome = sendAndWait(sender);
    QVERIFY(!outcome.delivered);
    QCOMPARE(outcome.firstNumber(), int(MailError::LoginFailed));
    QVERIFY2(outcome.firstError().contains("offers no log-in"), qPrintable(outcome.firstError()));
    QCOMPARE(receivedCount(inbox.path()), 0);
}

void TestMailSmtp::startTlsWithTrustedCertificate()
{
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--user", "ann", "--password", "pw", "--auth-require-tls", "--starttls",
                                              m_cert, m_dir.filePath("key.pem")});
    QVERIFY(peer->isReady());
    MailSender sender;
    configure(sender, peer->address());
    sender.setCaCertificates(m_cert);
    sender.setAuthType(3);
    sender.setUsername("ann");
    sender.setPassword("pw");
    const Outcome outcome = sendAndWait(sender);
    QVERIFY2(outcome.delivered, qPrintable(outcome.firstError()));
    QCOMPARE(outcome.statuses.mid(0, 4), (QStringList{"Connecting to " + peer->address(), "Connected to " + peer->address(),
                                                      "Secured the connection with TLS", "Logged in"}));
    ReceivedMail mail;
    QVERIFY(receivedMail(inbox.path(), 1, &mail));
    QVERIFY(mail.envelope.value("tls").toBool());
    QCOMPARE(mail.envelope.value("auth").toObject().value("mechanism").toString(), QString("PLAIN"));
}

void TestMailSmtp::untrustedCertificateIsReported()
{
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--starttls", m_cert, m_dir.filePath("key.pem")});
    QVERIFY(peer->isReady());
    MailSender sender;
    configure(sender, peer->address()); // the system's certificates do not know ours
    const Outcome outcome = sendAndWait(sender);
    QVERIFY(!outcome.delivered);
    QCOMPARE(outcome.firstNumber(), int(MailError::SecureFailed));
    QVERIFY2(outcome.firstError().contains("certificate"), qPrintable(outcome.firstError()));
    QCOMPARE(receivedCount(inbox.path()), 0);
}

void TestMailSmtp::tlsFromTheStart()
{
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--implicit-tls", m_cert, m_dir.filePath("key.pem")});
    QVERIFY2(peer->isReady(), qPrintable(peer->errors()));
    MailSender sender;
    configure(sender, "smtps://" + peer->address());
    sender.setCaCertificates(m_cert);
    const Outcome outcome = sendAndWait(sender);
    QVERIFY2(outcome.delivered, qPrintable(outcome.firstError()));
    QVERIFY(outcome.statuses.contains("Connected to " + peer->address() + " with TLS"));
    ReceivedMail mail;
    QVERIFY(receivedMail(inbox.path(), 1, &mail));
    QVERIFY(mail.envelope.value("tls").toBool());
}

void TestMailSmtp::refusedConnection()
{
    MailSender sender;
    configure(sender, QStringLiteral("127.0.0.1:%1").arg(unusedPort()));
    const Outcome outcome = sendAndWait(sender);
    QVERIFY(outcome.finished && !outcome.delivered);
    QCOMPARE(outcome.firstNumber(), int(MailError::ConnectFailed));
    QVERIFY2(outcome.firstError().startsWith("Could not connect to the server 127.0.0.1:"), qPrintable(outcome.firstError()));
    QVERIFY(!outcome.events.contains("connect"));
    QVERIFY(!outcome.events.contains("close"));
    QVERIFY(outcome.milliseconds < 5000);
}

void TestMailSmtp::unknownHost()
{
    MailSender sender;
    configure(sender, "no-such-host.invalid");
    const Outcome outcome = sendAndWait(sender);
    QVERIFY(outcome.finished && !outcome.delivered);
    QVERIFY2(outcome.firstNumber() == MailError::ServerNotFound || outcome.firstNumber() == MailError::TimedOut,
             qPrintable(outcome.firstError()));
}

void TestMailSmtp::refusedRecipient()
{
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--refuse", "nobody@example.org"});
    QVERIFY(peer->isReady());
    MailSender sender;
    configure(sender, peer->address());
    sender.setSendTo("bob@example.org, nobody@example.org");
    const Outcome outcome = sendAndWait(sender);
    QVERIFY(!outcome.delivered);
    QCOMPARE(outcome.firstNumber(), int(MailError::RecipientRefused));
    QVERIFY2(outcome.firstError().contains("550 5.1.1 <nobody@example.org>: Recipient address rejected"),
             qPrintable(outcome.firstError()));
    QCOMPARE(receivedCount(inbox.path()), 0);
}

void TestMailSmtp::messageOverTheSizeLimit()
{
    // The server takes 1 MB; the message is 1.6 MB (1.2 MB in Base 64).
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--size-limit", "1048576"});
    QVERIFY(peer->isReady());
    const QString big = writeFile(m_dir.filePath("big.bin"), randomBytes(1200000));
    MailSender sender;
    configure(sender, peer->address());
    sender.attachments() << MailAttachment{big, "big.bin", "", 0};
    const Outcome first = sendAndWait(sender);
    QVERIFY(first.finished && !first.delivered);
    QCOMPARE(first.firstNumber(), int(MailError::MessageRefused));
    QVERIFY2(first.firstError().startsWith("The message is 1.6 MB; the server accepts at most 1 MB"),
             qPrintable(first.firstError()));
    QVERIFY(!first.firstError().endsWith("()"));
    // The size went with MAIL FROM, and the server refused before any byte of the message.
    const QStringList commands = receivedCommands(inbox.path());
    QCOMPARE(commands.size(), 1);
    QVERIFY2(QRegularExpression("^MAIL FROM:<ann@example.org> SIZE=(\\d+)$").match(commands.first()).hasMatch(),
             qPrintable(commands.first()));
    QVERIFY(commands.first().section('=', 1).toLongLong() > 1600000);

    // The limit is known now: the same message is refused before connecting again.
    sender.attachments() << MailAttachment{big, "big.bin", "", 0};
    const Outcome second = sendAndWait(sender);
    QVERIFY(second.finished && !second.delivered);
    QCOMPARE(second.events, QStringList{"error"});
    QVERIFY2(second.firstError().startsWith("The message is 1.6 MB; the server accepts at most 1 MB"),
             qPrintable(second.firstError()));
    QCOMPARE(receivedCommands(inbox.path()).size(), 1);

    // A message within the limit still goes to that server, with its size announced.
    const Outcome small = sendAndWait(sender);
    QVERIFY2(small.delivered, qPrintable(small.firstError()));
    QVERIFY(receivedCommands(inbox.path()).at(1).contains(" SIZE="));
    QCOMPARE(receivedCount(inbox.path()), 1);
}

void TestMailSmtp::silentServerTimesOut()
{
    auto peer = MailPeer::silent();
    QVERIFY(peer->isReady());
    MailSender sender;
    configure(sender, peer->address());
    sender.setTimeouts(2, 2);
    const Outcome outcome = sendAndWait(sender, 20000);
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.firstNumber(), int(MailError::TimedOut));
    QVERIFY(outcome.milliseconds < 8000);
}

void TestMailSmtp::stalledServerTimesOut()
{
    // The server takes the message and then never says whether it accepted it.
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--stall-data", "60"});
    QVERIFY(peer->isReady());
    MailSender sender;
    configure(sender, peer->address());
    sender.setTimeouts(2, 2);
    const Outcome outcome = sendAndWait(sender, 20000);
    QVERIFY(outcome.finished && !outcome.delivered);
    QCOMPARE(outcome.firstNumber(), int(MailError::TimedOut));
    QVERIFY2(outcome.firstError().contains("stopped answering"), qPrintable(outcome.firstError()));
    QVERIFY(outcome.milliseconds < 8000);
}

void TestMailSmtp::refusedBeforeConnecting_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("message");
    QTest::newRow("subject with CR LF") << "subject" << "Hi\r\nBcc: victim@example.org" << 1 << "The subject contains a line break";
    QTest::newRow("subject with LF") << "subject" << "Hi\nX-Evil: 1" << 1 << "The subject contains a line break";
    QTest::newRow("recipient with SMTP command") << "to" << "bob@example.org>\r\nRCPT TO:<evil@example.org" << 1 << "The recipient address contains a line break";
    QTest::newRow("sender with LF") << "from" << "ann@example.org\nDATA" << 1 << "The sender address contains a line break";
    QTest::newRow("CC with CR") << "cc" << "x@example.org\r" << 1 << "The CC address contains a line break";
    QTest::newRow("BCC with LF") << "bcc" << "y@example.org\n" << 1 << "The BCC address contains a line break";
    QTest::newRow("header value") << "headerValue" << "a\r\nBcc: victim@example.org" << 1 << "The custom header \"X-Test\" (row 2) has a line break in its value";
    QTest::newRow("header name") << "headerName" << "X-Test\r\nBcc" << 1 << "The name of the custom header in row 2 contains a line break";
    QTest::newRow("header name with blank") << "headerName" << "X Test" << 1 << "The custom header \"X Test\" (row 2) has no valid name: use letters, digits and punctuation, without blanks or \":\"";
    QTest::newRow("header the mailer writes") << "headerName" << "Subject" << 1 << "The custom header \"Subject\" (row 2) is written by the mailer itself and cannot be added as a custom header";
    QTest::newRow("Date as a header") << "headerName" << "date" << 1 << "@\"date\" (row 2) is written by the mailer itself";
    QTest::newRow("attachment name") << "attachmentName" << "a.txt\r\nContent-Type: text/html" << 1 << "@(row 2) has a line break in its name";
    QTest::newRow("attachment type") << "attachmentType" << "text/plain\r\nX: y" << 1 << "@(row 2) has a line break in its content type";
    QTest::newRow("attachment type not a type") << "attachmentType" << "just words" << 1 << "@(row 2) has no valid content type: \"just words\" is not a type and a subtype";
    QTest::newRow("attachment type without subtype") << "attachmentType" << "text" << 1 << "@(row 2) has no valid content type: \"text\"";
    QTest::newRow("user name") << "username" << "ann\r\nRSET" << 1 << "The user name contains a line break";
    QTest::newRow("password") << "password" << "pw\nQUIT" << 1 << "The password contains a line break";
    QTest::newRow("server with LF") << "server" << "127.0.0.1\nX" << 1 << "The server name contains a line break";
    QTest::newRow("server hint text") << "server" << "localhost [server name]" << 1 << "\"localhost [server name]\" is not a valid server: give a host name or address, optionally followed by \":\" and a port";
    QTest::newRow("port 0") << "server" << "127.0.0.1:0" << 1 << "@is not a valid server";
    QTest::newRow("port too big") << "server" << "127.0.0.1:70000" << 1 << "@is not a valid server";
    QTest::newRow("empty server") << "server" << "  " << 1 << "No server was given";
    QTest::newRow("sender hint text") << "from" << "me@example.com [sender mail]" << 1 << "The sender address \"me@example.com [sender mail]\" is not a valid e-mail address";
    QTest::newRow("two senders") << "from" << "a@example.org, b@example.org" << 1 << "Give one sender address only";
    QTest::newRow("no recipient") << "to" << " ; " << 1 << "No recipient address was given";
    QTest::newRow("non-ASCII mailbox") << "to" << QString::fromUtf8("jörg@example.org") << 1 << "@has characters outside ASCII";
    QTest::newRow("auth type 7") << "authType" << "7" << 1 << "Unknown authentication type 7 (0 none, 1 POP, 2 Login, 3 Plain)";
    QTest::newRow("missing attachment") << "attachmentPath" << "/nonexistent/file.zip" << 2 << "The attachment \"/nonexistent/file.zip\" (row 2) does not exist";
    QTest::newRow("folder as attachment") << "attachmentPath" << "/tmp" << 2 << "The attachment \"/tmp\" (row 2) is not a regular file";
    QTest::newRow("device as attachment") << "attachmentPath" << "/dev/null" << 2 << "The attachment \"/dev/null\" (row 2) is not a regular file";
    QTest::newRow("8-bit file as 7 Bit") << "sevenBit" << QString::fromUtf8("Grüße\n") << 2 << "@holds bytes above 127, so it cannot be sent as 7 Bit; choose Base 64";
    QTest::newRow("long line as 7 Bit") << "sevenBit" << QString(1000, 'a') << 2 << "@has lines longer than 998 characters";
    QTest::newRow("bare CR as 7 Bit") << "sevenBit" << "a\rb" << 2 << "@holds a carriage return that does not end a line";
    QTest::newRow("NUL as 7 Bit") << "sevenBit" << QString("a") + QChar(0) + "b" << 2 << "@holds NUL bytes";
    QTest::newRow("unknown encoding") << "encoding" << "2" << 2 << "@(row 2) has the unknown encoding 2";
}

void TestMailSmtp::refusedBeforeConnecting()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(int, number);
    QFETCH(QString, message);
    MailSender sender;
    configure(sender, m_plain->address());
    const QString file = writeFile(m_dir.filePath("ok.txt"), "fine\n");
    MailAttachment attachment{file, "ok.txt", "text/plain", 0};
    MailHeader header{"X-Test", "value"};
    if (field == "subject") sender.setMessageSubject(value);
    else if (field == "to") sender.setSendTo(value);
    else if (field == "from") sender.setMailFrom(value);
    else if (field == "cc") sender.setCC(value);
    else if (field == "bcc") sender.setBCC(value);
    else if (field == "headerValue") header.value = value;
    else if (field == "headerName") header.name = value;
    else if (field == "attachmentName") attachment.name = value;
    else if (field == "attachmentType") attachment.type = value;
    else if (field == "attachmentPath") attachment.path = value;
    else if (field == "sevenBit") { attachment.path = writeFile(m_dir.filePath("seven.txt"), value.toUtf8()); attachment.encoding = 1; }
    else if (field == "encoding") attachment.encoding = value.toInt();
    else if (field == "username") { sender.setAuthType(2); sender.setUsername(value); }
    else if (field == "password") { sender.setAuthType(1); sender.setPOPServer("127.0.0.1"); sender.setPassword(value); }
    else if (field == "server") sender.setServer(value);
    else if (field == "authType") sender.setAuthType(value.toInt());
    // Each list starts with an entry that is fine, so that a refusal names the second row.
    sender.attachments() << MailAttachment{file, "first.txt", "text/plain", 0} << attachment;
    sender.customHeaders() << MailHeader{"X-Fine", "1"} << header;

    const Outcome outcome = sendAndWait(sender);
    QVERIFY(outcome.finished && !outcome.delivered);
    QCOMPARE(outcome.errors.size(), 1);
    QCOMPARE(outcome.firstNumber(), number);
    if (message.startsWith('@'))
        QVERIFY2(outcome.firstError().contains(message.mid(1)), qPrintable(outcome.firstError()));
    else
        QCOMPARE(outcome.firstError(), message);
    QCOMPARE(outcome.events, QStringList{"error"}); // no connection was made
    QCOMPARE(receivedCount(m_inbox), m_mailCount);
}

void TestMailSmtp::secondSendWhileBusy()
{
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--stall-data", "1.5"});
    QVERIFY(peer->isReady());
    const QString file = writeFile(m_dir.filePath("one.txt"), "one\n");
    MailSender sender;
    configure(sender, peer->address());
    QSignalSpy errors(&sender, &MailSender::ErrorSMTP);
    QSignalSpy finished(&sender, &MailSender::sendFinished);
    sender.attachments() << MailAttachment{file, "one.txt", "text/plain", 0};
    sender.Send();
    QVERIFY(sender.isBusy());
    QVERIFY(sender.attachments().isEmpty());
    sender.attachments() << MailAttachment{file, "one.txt", "text/plain", 0};
    sender.Send(); // refused: one transfer at a time
    QVERIFY(sender.attachments().isEmpty());
    QVERIFY(finished.wait(20000));
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), qint16(MailError::Busy));
    QVERIFY(finished.first().first().toBool());
    QVERIFY(!sender.isBusy());
    QCOMPARE(receivedCount(inbox.path()), 1);
    ReceivedMail mail;
    QVERIFY(receivedMail(inbox.path(), 1, &mail));
    QCOMPARE(partTypes(mail), (QStringList{"multipart/mixed", "text/plain", "text/plain"}));
}

void TestMailSmtp::sendThatCannotStartLeavesSenderReady()
{
    ThreadlessSender sender;
    configure(sender, m_plain->address());
    const Outcome failed = sendAndWait(sender);
    QVERIFY(failed.finished && !failed.delivered);
    QCOMPARE(failed.firstNumber(), int(MailError::Other));
    QVERIFY2(failed.firstError().startsWith("The message was not sent: the sending could not be started"),
             qPrintable(failed.firstError()));
    QVERIFY(!sender.isBusy());
    // The next send goes out: nothing is left waiting for a transfer that never ran.
    const Outcome next = sendAndWait(sender);
    QVERIFY2(next.delivered, qPrintable(next.firstError()));
    QCOMPARE(receivedCount(m_inbox), m_mailCount + 1);
}

void TestMailSmtp::sendTakesItsOwnCopy()
{
    const QString file = writeFile(m_dir.filePath("copy.txt"), "copy\n");
    MailSender sender;
    configure(sender, m_plain->address());
    sender.setMessageSubject("first");
    sender.attachments() << MailAttachment{file, "copy.txt", "text/plain", 0};
    QSignalSpy finished(&sender, &MailSender::sendFinished);
    sender.Send();
    // Changed at once, while the first message is on its way: they belong to the next one.
    sender.setMessageSubject("second");
    sender.attachments() << MailAttachment{file, "later.txt", "text/plain", 0};
    QVERIFY(finished.wait(20000));
    QVERIFY(finished.first().first().toBool());
    QCOMPARE(sender.attachments().size(), 1);
    ReceivedMail mail;
    QVERIFY(receivedMail(m_inbox, m_mailCount + 1, &mail));
    QCOMPARE(mail.header("Subject"), QString("first"));
    QCOMPARE(partTypes(mail), (QStringList{"multipart/mixed", "text/plain", "text/plain"}));
    QCOMPARE(part(mail, 2).value("filename").toString(), QString("copy.txt"));

    const Outcome second = sendAndWait(sender);
    QVERIFY(second.delivered);
    QVERIFY(receivedMail(m_inbox, m_mailCount + 2, &mail));
    QCOMPARE(mail.header("Subject"), QString("second"));
    QCOMPARE(part(mail, 2).value("filename").toString(), QString("later.txt"));
}

void TestMailSmtp::popWrongPassword()
{
    QTemporaryDir popDir;
    auto pop = MailPeer::pop3(popDir.path(), "tester", "secret", m_cert, m_dir.filePath("key.pem"));
    QVERIFY2(pop->isReady(), qPrintable(pop->errors()));
    MailSender sender;
    configure(sender, m_plain->address());
    sender.setCaCertificates(m_cert);
    sender.setAuthType(1);
    sender.setUsername("tester");
    sender.setPassword("not-the-secret");
    sender.setPOPServer(pop->address());
    const Outcome outcome = sendAndWait(sender);
    QVERIFY(!outcome.delivered);
    QCOMPARE(outcome.firstNumber(), int(MailError::LoginFailed));
    QVERIFY2(outcome.firstError().startsWith("The POP server " + pop->address() + " refused the log-in"),
             qPrintable(outcome.firstError()));
    QVERIFY(!outcome.firstError().contains("not-the-secret"));
    QVERIFY(!outcome.statuses.contains("Connecting to " + m_plain->address()));
    QCOMPARE(receivedCount(m_inbox), m_mailCount);
}

void TestMailSmtp::closingWhileSendingEndsPromptly()
{
    QTemporaryDir inbox;
    auto peer = MailPeer::smtp(inbox.path(), {"--stall-data", "60"});
    QVERIFY(peer->isReady());
    auto sender = std::make_unique<MailSender>();
    configure(*sender, peer->address());
    sender->setTimeouts(30, 30);
    // Every event is counted from the start, so that the count shows whether any comes once
    // the sender is being destroyed (from its destructor, or from an event loop it would run).
    bool closing = false;
    int eventsBefore = 0;
    int eventsAfter = 0;
    auto count = [&] { ++(closing ? eventsAfter : eventsBefore); };
    QObject::connect(sender.get(), &MailSender::ConnectSMTP, count);
    QObject::connect(sender.get(), &MailSender::SendSMTP, count);
    QObject::connect(sender.get(), &MailSender::CloseSMTP, count);
    QObject::connect(sender.get(), &MailSender::StatusChanged, count);
    QObject::connect(sender.get(), &MailSender::ErrorSMTP, count);
    QObject::connect(sender.get(), &MailSender::sendFinished, count);
    QSignalSpy sending(sender.get(), &MailSender::SendSMTP);
    sender->Send();
    QVERIFY(sending.wait(10000));
    QVERIFY(eventsBefore >= 3); // status, connect, send: the counting works
    QElapsedTimer clock;
    clock.start();
    closing = true;
    sender.reset();
    QVERIFY(clock.elapsed() < 3000);
    QTest::qWait(200);
    QCOMPARE(eventsAfter, 0);
    QCOMPARE(receivedCount(inbox.path()), 0); // stopped without sending
}

PARCELO_TEST_MAIN(TestMailSmtp)
#include "tst_mail_smtp.moc"
