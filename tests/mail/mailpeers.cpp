#include "mailpeers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <csignal>

namespace {
const QString Python = QStringLiteral("/usr/bin/python3");
const QString Script = QStringLiteral(MAIL_PEER_SCRIPT);
} // namespace

MailPeer::MailPeer(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(Python, QStringList{Script} + arguments);
    QElapsedTimer clock;
    clock.start();
    QByteArray out;
    while (clock.elapsed() < 30000 && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(200);
        out += m_process.readAllStandardOutput();
        const qsizetype at = out.indexOf("READY ");
        if (at >= 0 && out.indexOf('\n', at) > at) {
            m_port = out.mid(at + 6, out.indexOf('\n', at) - at - 6).trimmed().toInt();
            break;
        }
    }
    if (m_port <= 0)
        m_errors = QString::fromUtf8(m_process.readAllStandardError());
}

MailPeer::~MailPeer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel(); // the peer stops when its input closes
    if (!m_process.waitForFinished(15000)) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

std::unique_ptr<MailPeer> MailPeer::smtp(const QString &folder, const QStringList &options)
{
    return std::make_unique<MailPeer>(QStringList{QStringLiteral("smtp"), folder} + options);
}

std::unique_ptr<MailPeer> MailPeer::silent()
{
    return std::make_unique<MailPeer>(QStringList{QStringLiteral("silent")});
}

std::unique_ptr<MailPeer> MailPeer::pop3(const QString &folder, const QString &user, const QString &password,
                                         const QString &certificate, const QString &key)
{
    // The POP3 server's own processes run as another user: they must be able to enter the folder.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                      | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                      | QFileDevice::ExeOther);
    QStringList arguments{QStringLiteral("pop3"), folder, QStringLiteral("--user"), user,
                          QStringLiteral("--password"), password};
    if (!certificate.isEmpty())
        arguments << QStringLiteral("--tls") << certificate << key;
    return std::make_unique<MailPeer>(arguments);
}

QString ReceivedMail::header(const QString &name) const
{
    for (const QJsonValue &pair : parsed.value(QStringLiteral("headers")).toArray()) {
        if (pair.toArray().at(0).toString().compare(name, Qt::CaseInsensitive) == 0)
            return pair.toArray().at(1).toString();
    }
    return {};
}

QStringList ReceivedMail::headerNames() const
{
    QStringList names;
    for (const QJsonValue &pair : parsed.value(QStringLiteral("headers")).toArray())
        names << pair.toArray().at(0).toString();
    return names;
}

int ReceivedMail::countOf(const QString &headerName) const
{
    int count = 0;
    for (const QString &name : headerNames())
        count += name.compare(headerName, Qt::CaseInsensitive) == 0;
    return count;
}

bool receivedMail(const QString &folder, int number, ReceivedMail *out)
{
    const QString base = QDir(folder).filePath(QString::number(number));
    QFile eml(base + QStringLiteral(".eml"));
    QFile json(base + QStringLiteral(".json"));
    if (!eml.open(QIODevice::ReadOnly) || !json.open(QIODevice::ReadOnly))
        return false;
    out->raw = eml.readAll();
    out->envelope = QJsonDocument::fromJson(json.readAll()).object();
    QProcess inspect;
    inspect.start(Python, {Script, QStringLiteral("inspect"), eml.fileName()});
    if (!inspect.waitForFinished(30000) || inspect.exitCode() != 0)
        return false;
    out->parsed = QJsonDocument::fromJson(inspect.readAllStandardOutput()).object();
    return !out->parsed.isEmpty();
}

int receivedCount(const QString &folder)
{
    return int(QDir(folder).entryList({QStringLiteral("*.eml")}, QDir::Files).size());
}

QStringList receivedCommands(const QString &folder)
{
    QFile log(QDir(folder).filePath(QStringLiteral("commands.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool makeCertificate(const QString &folder)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"),
                   QDir(folder).filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
                   QDir(folder).filePath(QStringLiteral("cert.pem"))});
    return openssl.waitForFinished(60000) && openssl.exitCode() == 0;
}
