#include "ziptestkit.h"

#include <unicode/ucnv.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtEndian>

#include <sys/stat.h>
#include <ctime>
#include <unistd.h>
#include <libdeflate.h>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace ziptest {

PrivateEnvironment::PrivateEnvironment()
{
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u".config"_s)));
    qputenv("LC_ALL", "C.UTF-8");
    // A zone away from UTC (a POSIX rule, no time zone data needed), so that local DOS
    // times and UTC timestamps cannot be confused without a test noticing.
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    ::tzset();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(gen.generate() & 0xff);
    return out;
}

QByteArray textBytes(qsizetype size)
{
    QByteArray out;
    out.reserve(size + 100);
    for (int line = 0; out.size() < size; ++line)
        out += QByteArray("Line ") + QByteArray::number(line) + " of the quarterly report, figure "
               + QByteArray::number((line * 7919) % 1000) + "\n";
    out.truncate(size);
    return out;
}

QByteArray wordBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray out;
    out.reserve(size + 16);
    while (out.size() < size) {
        const int letters = int(gen.bounded(2, 10));
        for (int i = 0; i < letters; ++i)
            out += char('a' + gen.bounded(26));
        out += gen.bounded(12) == 0 ? '\n' : ' ';
    }
    out.truncate(size);
    return out;
}

QByteArray documentationBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray out;
    while (out.size() < size) {
        const QByteArray text = wordBytes(gen.bounded(40000, 400000), gen.generate());
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY); // gzip
        QByteArray gz(qsizetype(deflateBound(&z, uLong(text.size()))) + 32, '\0');
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
        z.avail_in = uInt(text.size());
        z.next_out = reinterpret_cast<Bytef *>(gz.data());
        z.avail_out = uInt(gz.size());
        deflate(&z, Z_FINISH);
        gz.truncate(qsizetype(z.total_out));
        deflateEnd(&z);
        out += gz + wordBytes(gen.bounded(500, 8000), gen.generate());
    }
    out.truncate(size);
    return out;
}

qint64 deflatedPiecesSize(const QByteArray &data)
{
    constexpr qsizetype Piece = qsizetype(1) << 20;
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(6);
    QByteArray out(2 * Piece, '\0');
    qint64 total = 0;
    for (qsizetype at = 0; at < data.size(); at += Piece) {
        const size_t n = size_t(qMin(Piece, data.size() - at));
        const size_t deflated = libdeflate_deflate_compress(compressor, data.constData() + at, n, out.data(),
                                                            size_t(out.size()));
        const size_t stored = n + 5 * ((n + 65534) / 65535);
        total += qint64(deflated ? qMin(deflated, stored) : stored);
    }
    libdeflate_free_compressor(compressor);
    return total;
}

void setMtime(const QString &path, const QDateTime &when)
{
    QFile f(path);
    if (f.open(QIODevice::ReadWrite))
        f.setFileTime(when, QFileDevice::FileModificationTime);
}

qint64 mtimeSecs(const QString &path)
{
    struct stat st{};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_mtime);
}

int permissions(const QString &path)
{
    struct stat st{};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

QByteArray digest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QString rel = base.relativeFilePath(info.filePath());
        if (info.isSymLink()) {
            char target[4096];
            const ssize_t n = ::readlink(QFile::encodeName(info.filePath()).constData(), target, sizeof target);
            rel += u" -> "_s + QString::fromUtf8(target, n > 0 ? qsizetype(n) : 0);
        } else if (info.isDir()) {
            rel += QChar('/');
        }
        out << rel;
    }
    out.sort();
    return out;
}

QString treeDifference(const QString &expected, const QString &actual)
{
    const QStringList a = tree(expected);
    const QStringList b = tree(actual);
    if (a != b)
        return u"expected names:\n  %1\nactual names:\n  %2"_s
            .arg(a.join(u"\n  "_s), b.join(u"\n  "_s));
    for (const QString &rel : a) {
        if (rel.endsWith(QChar('/')) || rel.contains(u" -> "_s))
            continue;
        if (digest(QDir(expected).filePath(rel)) != digest(QDir(actual).filePath(rel)))
            return u"content differs: %1"_s.arg(rel);
    }
    return {};
}

QStringList leftovers(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = QFileInfo(it.next()).fileName();
        if (name.startsWith(u".~"_s) || name.contains(u".part"_s))
            out << it.filePath();
    }
    return out;
}

QString toolPath(const QString &name)
{
    if (name.startsWith(QChar('/')))
        return QFileInfo(name).isExecutable() ? name : QString();
    return QStandardPaths::findExecutable(name);
}

RunResult run(const QString &program, const QStringList &args, const QString &workDir)
{
    RunResult result;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    if (!p.waitForStarted(30000)) {
        result.output = "could not start " + program.toUtf8();
        return result;
    }
    p.closeWriteChannel();
    p.waitForFinished(600000);
    result.output = p.readAll();
    result.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return result;
}

RunResult python(const QString &script, const QStringList &args)
{
    return run(u"/usr/bin/python3"_s, QStringList{u"-c"_s, script} + args);
}

void RawZip::add(const QByteArray &name, const QByteArray &data, quint32 unixMode)
{
    Entry e;
    e.name = name;
    e.data = data;
    e.unixMode = unixMode;
    add(e);
}

namespace {
void put16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
void put32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void put64(QByteArray &out, quint64 v)
{
    char b[8];
    qToLittleEndian(v, b);
    out.append(b, 8);
}
} // namespace

QByteArray inCodePage(const QString &text, const char *page)
{
    UErrorCode error = U_ZERO_ERROR;
    UConverter *cnv = ucnv_open(page, &error);
    ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    QByteArray out(text.size() * 4 + 8, '\0');
    const int32_t n = ucnv_fromUChars(cnv, out.data(), int32_t(out.size()),
                                      reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()), &error);
    ucnv_close(cnv);
    if (U_FAILURE(error))
        qFatal("“%s” cannot be written in %s: %s", qPrintable(text), page, u_errorName(error));
    out.truncate(n);
    return out;
}

QString fromCodePage(const QByteArray &bytes, const char *page)
{
    UErrorCode error = U_ZERO_ERROR;
    UConverter *cnv = ucnv_open(page, &error);
    QList<UChar> out(bytes.size() * 2 + 8);
    const int32_t n = ucnv_toUChars(cnv, out.data(), int32_t(out.size()), bytes.constData(), int32_t(bytes.size()), &error);
    ucnv_close(cnv);
    if (U_FAILURE(error))
        qFatal("cannot read bytes in %s: %s", page, u_errorName(error));
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(out.constData()), n);
}

QByteArray unicodePathField(const QByteArray &raw, const QString &name, std::optional<quint32> crc)
{
    const QByteArray utf8 = name.toUtf8();
    QByteArray field;
    put16(field, 0x7075);
    put16(field, quint16(5 + utf8.size()));
    field += char(1); // version
    put32(field, crc.value_or(quint32(crc32(0, reinterpret_cast<const Bytef *>(raw.constData()), uInt(raw.size())))));
    return field + utf8;
}

QByteArray RawZip::bytes() const
{
    QByteArray data, directory;
    build(&data, &directory);
    return data + directory;
}

void RawZip::save(const QString &path) const
{
    QByteArray data, directory;
    build(&data, &directory);
    if (directoryAt <= quint64(data.size())) {
        writeFile(path, data + directory);
        return;
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()
        || !f.resize(qint64(directoryAt)) || !f.seek(qint64(directoryAt)) || f.write(directory) != directory.size())
        qFatal("cannot write %s", qPrintable(path));
}

namespace {

// The traditional zip cipher: a password's keys, then each byte mixed with a key stream.
class TraditionalCipher
{
public:
    explicit TraditionalCipher(const QByteArray &password)
    {
        for (char c : password)
            update(static_cast<unsigned char>(c));
    }
    QByteArray encrypt(const QByteArray &plain)
    {
        QByteArray out(plain.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < plain.size(); ++i) {
            const auto p = static_cast<unsigned char>(plain[i]);
            const quint32 t = m_keys[2] | 2;
            out[i] = char(p ^ quint8((t * (t ^ 1)) >> 8));
            update(p);
        }
        return out;
    }

private:
    static quint32 crcStep(quint32 crc, unsigned char c)
    {
        return ~quint32(crc32(~crc & 0xffffffffu, &c, 1));
    }
    void update(unsigned char c)
    {
        m_keys[0] = crcStep(m_keys[0], c);
        m_keys[1] = (m_keys[1] + (m_keys[0] & 0xff)) * 134775813u + 1;
        m_keys[2] = crcStep(m_keys[2], quint8(m_keys[1] >> 24));
    }
    quint32 m_keys[3] = {0x12345678, 0x23456789, 0x34567890};
};

} // namespace

void RawZip::build(QByteArray *data, QByteArray *directory) const
{
    QByteArray &out = *data;
    QByteArray central;
    std::vector<const Entry *> written; // every entry as many times as it is copied
    for (const Entry &e : m_entries)
        written.insert(written.end(), size_t(std::max(e.copies, 0)), &e);
    std::vector<qsizetype> recordEnds; // with directoryReversed
    for (const Entry *entry : written) {
        const Entry &e = *entry;
        const QByteArray &content = e.unpacked ? *e.unpacked : e.data;
        const quint32 crc = e.crc ? *e.crc
                                  : quint32(crc32(0, reinterpret_cast<const Bytef *>(content.constData()),
                                                  uInt(content.size())));
        QByteArray stored = e.data;
        quint16 flags = e.flags;
        if (!e.password.isEmpty()) {
            // Eleven bytes of noise and the CRC-32's high byte, which checks the password.
            QByteArray head = randomBytes(11, crc);
            head += char(crc >> 24);
            stored = TraditionalCipher(e.password).encrypt(head + e.data);
            flags |= 1;
        }
        const auto offset = quint32(out.size());
        QByteArray extra = e.extra;
        QByteArray centralExtra = e.centralExtra.value_or(e.extra);
        if (e.claimedSize) {
            QByteArray zip64;
            put16(zip64, 0x0001);
            put16(zip64, 16);
            put32(zip64, quint32(*e.claimedSize));
            put32(zip64, quint32(*e.claimedSize >> 32));
            put32(zip64, quint32(stored.size()));
            put32(zip64, 0);
            extra.prepend(zip64);
            centralExtra.prepend(zip64);
        }
        const quint32 packedField = e.claimedSize ? 0xffffffff : quint32(stored.size());
        const quint32 sizeField = e.claimedSize ? 0xffffffff : quint32(content.size());
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, flags);
        put16(out, e.method);
        put16(out, e.dosTime);
        put16(out, e.dosDate);
        put32(out, crc);
        put32(out, packedField);
        put32(out, sizeField);
        put16(out, quint16(e.name.size()));
        put16(out, quint16(extra.size()));
        out += e.name + extra + stored;

        put32(central, 0x02014b50);
        put16(central, quint16((e.unixMode ? 3 : 0) << 8 | 30));
        put16(central, 20);
        put16(central, flags);
        put16(central, e.method);
        put16(central, e.dosTime);
        put16(central, e.dosDate);
        put32(central, crc);
        put32(central, packedField);
        put32(central, sizeField);
        put16(central, quint16(e.name.size()));
        put16(central, quint16(centralExtra.size()));
        put16(central, 0); // comment
        put16(central, 0); // disk
        put16(central, 0); // internal attributes
        put32(central, e.unixMode << 16 | (e.name.endsWith('/') ? 0x10 : 0));
        put32(central, offset);
        central += e.name + centralExtra;
        if (directoryReversed)
            recordEnds.push_back(central.size());
    }
    if (directoryReversed) {
        QByteArray reversed;
        reversed.reserve(central.size());
        for (size_t i = recordEnds.size(); i-- > 0;) {
            const qsizetype start = i > 0 ? recordEnds[i - 1] : 0;
            reversed.append(central.constData() + start, recordEnds[i] - start);
        }
        central = std::move(reversed);
    }
    const quint64 centralOffset = std::max(quint64(out.size()), directoryAt);
    const bool zip64 = !countWraps && (zip64End || written.size() >= 0xffff || centralOffset >= 0xffffffff);
    QByteArray &tail = *directory;
    tail = central;
    if (zip64) {
        const auto zip64EndOffset = centralOffset + quint64(central.size());
        put32(tail, 0x06064b50);
        put64(tail, 44);
        put16(tail, 45);
        put16(tail, 45);
        put32(tail, 0);
        put32(tail, 0);
        put64(tail, written.size());
        put64(tail, written.size());
        put64(tail, quint64(central.size()));
        put64(tail, centralOffset);
        put32(tail, 0x07064b50);
        put32(tail, 0);
        put64(tail, zip64EndOffset);
        put32(tail, 1);
    }
    put32(tail, 0x06054b50);
    put16(tail, 0);
    put16(tail, 0);
    put16(tail, zip64 ? 0xffff : quint16(written.size()));
    put16(tail, zip64 ? 0xffff : quint16(written.size()));
    put32(tail, zip64 ? 0xffffffff : quint32(central.size()));
    put32(tail, zip64 ? 0xffffffff : quint32(centralOffset));
    put16(tail, quint16(comment.size() + commentOverrun));
    tail += comment;
}

void ScriptedQuery::noteThread()
{
    if (!threads.contains(QThread::currentThread()))
        threads << QThread::currentThread();
}

void ScriptedQuery::progress(qint64 done, qint64 total, const QString &entry)
{
    noteThread();
    progressSeen.append({done, total, entry});
}

bool ScriptedQuery::cancelRequested()
{
    noteThread();
    ++cancelPolls;
    const bool stop = cancelAt >= 0 && !progressSeen.isEmpty() && progressSeen.last().done >= cancelAt;
    if (stop && !sinceStop.isValid())
        sinceStop.start();
    return stop;
}

ZipQuery::PasswordAnswer ScriptedQuery::password(const QString &archive, const QString &entry, bool wrongBefore,
                                                 QByteArray *password)
{
    asked.append({archive, entry, wrongBefore});
    if (answers.isEmpty())
        return PasswordAnswer::Unanswered;
    const std::optional<QByteArray> answer = answers.takeFirst();
    if (!answer)
        return PasswordAnswer::Cancelled;
    *password = *answer;
    return PasswordAnswer::Given;
}

QString ScriptedQuery::progressProblem() const
{
    if (progressSeen.isEmpty())
        return u"no progress was reported"_s;
    const qint64 total = progressSeen.first().total;
    for (qsizetype i = 0; i < progressSeen.size(); ++i) {
        const Progress &p = progressSeen[i];
        if (p.total != total)
            return u"the total changed from %1 to %2"_s.arg(total).arg(p.total);
        if (p.done > total || (i > 0 && p.done < progressSeen[i - 1].done))
            return u"progress went from %1 to %2 of %3"_s.arg(i > 0 ? progressSeen[i - 1].done : 0).arg(p.done).arg(total);
    }
    if (progressSeen.last().done != total)
        return u"progress ended at %1 of %2"_s.arg(progressSeen.last().done).arg(total);
    return {};
}

QString ScriptedQuery::reportProblem(qint64 total, qint64 maxStep) const
{
    if (progressSeen.isEmpty())
        return u"no progress reported"_s;
    if (progressSeen.first().done != 0)
        return u"the first report is at %1, not 0"_s.arg(progressSeen.first().done);
    if (progressSeen.first().total != total)
        return u"the total is %1, not %2"_s.arg(progressSeen.first().total).arg(total);
    if (const QString problem = progressProblem(); !problem.isEmpty())
        return problem;
    for (qsizetype i = 1; i < progressSeen.size(); ++i) {
        if (progressSeen[i].done - progressSeen[i - 1].done > maxStep)
            return u"report %1 jumps by %2"_s.arg(i).arg(progressSeen[i].done - progressSeen[i - 1].done);
        if (progressSeen[i - 1].done == total && total != 0)
            return u"report %1 is at the total before the end"_s.arg(i - 1);
    }
    return {};
}

QByteArray withAesVersion(QByteArray archive, int version, const QHash<QByteArray, quint32> &crcs)
{
    const qsizetype end = archive.lastIndexOf("PK\x05\x06");
    if (end < 0)
        return archive;
    auto u16 = [&](qsizetype at) { return int(qFromLittleEndian<quint16>(archive.constData() + at)); };
    auto patch32 = [&](qsizetype at, quint32 v) { qToLittleEndian(v, archive.data() + at); };
    // Patches the header at `header`: its CRC-32 field and the 0x9901 field among its extras.
    auto patchHeader = [&](qsizetype header, bool central) {
        const qsizetype nameAt = header + (central ? 46 : 30);
        const int nameLength = u16(header + (central ? 28 : 26));
        const int extraLength = u16(header + (central ? 30 : 28));
        const QByteArray name = archive.mid(nameAt, nameLength);
        patch32(header + (central ? 16 : 14), version == 1 ? crcs.value(name) : 0);
        for (qsizetype at = nameAt + nameLength; at + 4 <= nameAt + nameLength + extraLength;) {
            if (u16(at) == 0x9901)
                qToLittleEndian(quint16(version), archive.data() + at + 4);
            at += 4 + u16(at + 2);
        }
    };
    const int count = u16(end + 10);
    qsizetype at = qsizetype(qFromLittleEndian<quint32>(archive.constData() + end + 16));
    for (int i = 0; i < count; ++i) {
        patchHeader(at, true);
        patchHeader(qsizetype(qFromLittleEndian<quint32>(archive.constData() + at + 42)), false);
        at += 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
    }
    return archive;
}

QByteArray withMethod(QByteArray archive, quint16 method)
{
    // Walk the central directory from the end record; patch each entry and its local header.
    const qsizetype end = archive.lastIndexOf("PK\x05\x06");
    if (end < 0)
        return archive;
    const auto *raw = reinterpret_cast<const uchar *>(archive.constData());
    const int count = qFromLittleEndian<quint16>(raw + end + 10);
    qsizetype at = qsizetype(qFromLittleEndian<quint32>(raw + end + 16));
    char b[2];
    qToLittleEndian(method, b);
    for (int i = 0; i < count; ++i) {
        raw = reinterpret_cast<const uchar *>(archive.constData());
        const qsizetype local = qsizetype(qFromLittleEndian<quint32>(raw + at + 42));
        const int nameLength = qFromLittleEndian<quint16>(raw + at + 28);
        const int extraLength = qFromLittleEndian<quint16>(raw + at + 30);
        const int commentLength = qFromLittleEndian<quint16>(raw + at + 32);
        archive[at + 10] = b[0];
        archive[at + 11] = b[1];
        archive[local + 8] = b[0];
        archive[local + 9] = b[1];
        at += 46 + nameLength + extraLength + commentLength;
    }
    return archive;
}

} // namespace ziptest
