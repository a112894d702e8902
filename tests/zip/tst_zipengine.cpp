// The zip engine on its own: round trips, the text it returns, every refusal and error,
// and hostile archives, which are written byte by byte here.

#include "ziptestkit.h"
#include "deflate64.h"
#include "callmonitor.h"
#include "deflatepieces.h"
#include "deflatewalk.h"
#include "entryencoder.h"
#include "zipengine.h"

#include <QtTest>

#include <libdeflate.h>

#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

using namespace Qt::StringLiterals;
using namespace ziptest;

namespace {

constexpr qint64 FixedTime = 1600000000; // 2020-09-13 12:26:40 UTC

struct ArchiveEntry
{
    qint64 count = 0;
    QString name;
    int method = -1;
    quint64 size = 0;
    quint32 attributes = 0;
    QByteArray timestamp; // the 0x5455 extra field of the central header
};

// The first entry of an archive as libzip's reading side sees it.
ArchiveEntry inspect(const QString &archive)
{
    ArchiveEntry out;
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    zip_stat_t st;
    if (!za || (out.count = zip_get_num_entries(za, 0)) < 1 || zip_stat_index(za, 0, 0, &st) != 0) {
        if (za)
            zip_discard(za);
        return out;
    }
    out.name = QString::fromUtf8(st.name);
    out.method = st.comp_method;
    out.size = st.size;
    zip_uint8_t system = 0;
    zip_file_get_external_attributes(za, 0, 0, &system, &out.attributes);
    if (system != ZIP_OPSYS_UNIX)
        out.attributes = 0;
    zip_uint16_t len = 0;
    if (const zip_uint8_t *ut = zip_file_extra_field_get_by_id(za, 0, 0x5455, 0, &len, ZIP_FL_CENTRAL))
        out.timestamp = QByteArray(reinterpret_cast<const char *>(ut), len);
    zip_discard(za);
    return out;
}

QByteArray le32(quint32 v)
{
    QByteArray out(4, Qt::Uninitialized);
    qToLittleEndian(v, out.data());
    return out;
}

int masked(int mode)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mode & ~int(mask);
}

// Limits the size of every file this process writes, the way a full disk stops a write.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_old{};
    void (*m_handler)(int) = nullptr;
};


// ---- deflate streams for the block walker ----------------------------------------------

// What zlib's inflate, stopping at every block boundary, says of a raw deflate stream:
// where its final block starts and how many bits pad its last byte, or why it refuses it.
struct ZlibWalk
{
    bool ok = false;
    size_t headerBit = 0;
    unsigned padBits = 0;
    int blocks = 0;
    QByteArray message;
};

ZlibWalk zlibWalk(const QByteArray &stream)
{
    ZlibWalk out;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return out;
    std::vector<unsigned char> scratch(64 * 1024);
    const size_t size = size_t(stream.size());
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(stream.constData()));
    z.avail_in = uInt(size);
    size_t endBit = 0;
    bool ended = false;
    for (;;) {
        z.next_out = scratch.data();
        z.avail_out = uInt(scratch.size());
        const int r = inflate(&z, Z_BLOCK);
        if (r == Z_STREAM_END)
            break;
        if (r != Z_OK) {
            out.message = z.msg ? QByteArray(z.msg) : QByteArray::number(r);
            inflateEnd(&z);
            return out;
        }
        if (z.data_type & 128) { // at a block boundary; bits below 64 are held, unused
            const size_t bit = (size - z.avail_in) * 8 - size_t(z.data_type & 63);
            ++out.blocks;
            if (z.data_type & 64) {
                endBit = bit;
                ended = true;
            } else {
                out.headerBit = bit;
            }
        } else if (z.avail_in == 0 && z.avail_out != 0) {
            out.message = "truncated";
            inflateEnd(&z);
            return out;
        }
    }
    inflateEnd(&z);
    if (!ended || z.avail_in != 0 || (endBit + 7) / 8 != size) {
        out.message = "does not end in its last byte";
        return out;
    }
    out.ok = true;
    out.padBits = unsigned(size * 8 - endBit);
    return out;
}

// Runs the walker on a copy of `stream` placed against inaccessible pages, once ending
// where the next page is not readable and once starting right after an unreadable page,
// so that a read outside the data ends the test with a crash.
std::optional<pnvzip::FinalBlock> walkGuarded(const QByteArray &stream)
{
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t size = size_t(stream.size());
    const size_t dataPages = (size + page - 1) / page + 1;
    const size_t total = (dataPages + 2) * page;
    auto *base = static_cast<unsigned char *>(
        ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (base == MAP_FAILED)
        qFatal("mmap failed");
    ::mprotect(base, page, PROT_NONE);
    ::mprotect(base + (dataPages + 1) * page, page, PROT_NONE);
    std::optional<pnvzip::FinalBlock> results[2];
    unsigned char *places[2] = {base + (dataPages + 1) * page - size, base + page};
    for (int i = 0; i < 2; ++i) {
        if (size)
            std::memcpy(places[i], stream.constData(), size);
        pnvzip::FinalBlock found;
        if (pnvzip::findFinalBlock(places[i], size, &found))
            results[i] = found;
    }
    ::munmap(base, total);
    if (results[0].has_value() != results[1].has_value()
        || (results[0] && (results[0]->headerBit != results[1]->headerBit
                           || results[0]->padBits != results[1]->padBits)))
        qFatal("the walker's answer depends on where the data lies");
    return results[0];
}

struct Decoded
{
    pnvzip::Deflate64Decoder::Result result = pnvzip::Deflate64Decoder::Result::Damaged;
    QByteArray data;
};

// Runs the component's decoder on a whole stream, handed over at once or, with `pieces`,
// in pieces of 1 to 300 bytes (so that codes, extra bits and stored blocks straddle the
// reads).
Decoded decodeStream(const QByteArray &stream, pnvzip::Deflate64Decoder::Format format, bool pieces = false)
{
    static pnvzip::Deflate64Decoder deflate64(pnvzip::Deflate64Decoder::Format::Deflate64);
    static pnvzip::Deflate64Decoder deflate(pnvzip::Deflate64Decoder::Format::Deflate);
    static const int sizes[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 300};
    Decoded out;
    qsizetype done = 0;
    int call = 0;
    auto &decoder = format == pnvzip::Deflate64Decoder::Format::Deflate64 ? deflate64 : deflate;
    out.result = decoder.decode(
        [&](unsigned char *to, size_t capacity) {
            size_t n = std::min(size_t(stream.size() - done), capacity);
            if (pieces)
                n = std::min(n, size_t(sizes[call++ % std::size(sizes)]));
            std::memcpy(to, stream.constData() + done, n);
            done += qsizetype(n);
            return std::ptrdiff_t(n);
        },
        [&](const unsigned char *data, size_t n) {
            out.data.append(reinterpret_cast<const char *>(data), qsizetype(n));
            return true;
        });
    return out;
}

// Compares the decoder, reading plain deflate, with zlib's inflate: the same bytes from
// a stream zlib inflates (bytes after its end ignored), a refusal of any other.
QString decoderDisagreement(const QByteArray &stream)
{
    QByteArray expected;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return u"zlib cannot start"_s;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(stream.constData()));
    z.avail_in = uInt(stream.size());
    int r = Z_OK;
    while (r == Z_OK) {
        char chunk[65536];
        z.next_out = reinterpret_cast<Bytef *>(chunk);
        z.avail_out = sizeof chunk;
        r = inflate(&z, Z_NO_FLUSH);
        expected.append(chunk, qsizetype(sizeof chunk - z.avail_out));
    }
    inflateEnd(&z);
    const bool inflated = r == Z_STREAM_END;
    for (bool pieces : {false, true}) {
        const Decoded got = decodeStream(stream, pnvzip::Deflate64Decoder::Format::Deflate, pieces);
        const bool finished = got.result == pnvzip::Deflate64Decoder::Result::Finished;
        if (inflated != finished)
            return u"the decoder %1 a stream zlib %2 (result %3%4)"_s
                .arg(finished ? u"accepts"_s : u"refuses"_s, inflated ? u"inflates"_s : u"refuses"_s)
                .arg(int(got.result)).arg(pieces ? u", read in pieces"_s : QString());
        if (finished && got.data != expected)
            return u"the decoder's %1 bytes differ from zlib's %2%3"_s.arg(got.data.size()).arg(expected.size())
                .arg(pieces ? u", read in pieces"_s : QString());
    }
    return {};
}

// Compares the walker and the decoder with zlib on one stream. A valid stream must give
// zlib's answer; a stream zlib refuses must be refused too, unless zlib's only complaint
// is a distance reaching before the data, which the walker does not track.
QString walkerDisagreement(const QByteArray &stream)
{
    if (const QString why = decoderDisagreement(stream); !why.isEmpty())
        return why;
    const ZlibWalk expected = zlibWalk(stream);
    const std::optional<pnvzip::FinalBlock> found = walkGuarded(stream);
    if (expected.ok && !found)
        return u"the walker refuses a stream zlib inflates"_s;
    if (expected.ok && (found->headerBit != expected.headerBit || found->padBits != expected.padBits))
        return u"walker: final block at bit %1, %2 padding bits; zlib: bit %3, %4"_s.arg(found->headerBit)
            .arg(found->padBits).arg(expected.headerBit).arg(expected.padBits);
    if (!expected.ok && found && expected.message != "invalid distance too far back")
        return u"the walker accepts a stream zlib refuses (%1)"_s.arg(QString::fromLatin1(expected.message));
    return {};
}

// Data of many kinds for the compressors: short alphabets and long runs make long
// matches, random bytes make literals or stored blocks, text makes dynamic codes.
QByteArray walkerSample(int kind, int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray out;
    out.reserve(size);
    switch (kind % 6) {
    case 0:
        return randomBytes(size, seed);
    case 1: {
        const QByteArray text = textBytes(size + int(seed % 5000));
        return text.right(size);
    }
    case 2: // runs of one byte, of any length
        while (out.size() < size)
            out += QByteArray(int(gen.bounded(1, 2000)), char(gen.bounded(4)));
        break;
    case 3: // a small alphabet, no structure
        for (int i = 0; i < size; ++i)
            out += char('a' + gen.bounded(3 + int(seed % 20)));
        break;
    case 4: // repeats of earlier stretches at any distance, with noise
        while (out.size() < size) {
            if (out.size() > 300 && gen.bounded(3) != 0) {
                const int from = int(gen.bounded(qMax(1, int(out.size()) - 258)));
                out += out.mid(from, int(gen.bounded(3, 300)));
            } else {
                out += randomBytes(int(gen.bounded(1, 40)), gen.generate());
            }
        }
        break;
    default: // stretches of text, zeros and noise one after the other
        while (out.size() < size) {
            const int n = int(gen.bounded(100, 30000));
            const int what = int(gen.bounded(3));
            out += what == 0 ? textBytes(n) : what == 1 ? QByteArray(n, '\0') : randomBytes(n, gen.generate());
        }
        break;
    }
    out.truncate(size);
    return out;
}

QByteArray libdeflateStream(const QByteArray &data, int level)
{
    libdeflate_compressor *c = libdeflate_alloc_compressor(level);
    QByteArray out(qsizetype(libdeflate_deflate_compress_bound(c, size_t(data.size()))), '\0');
    const size_t n = libdeflate_deflate_compress(c, data.constData(), size_t(data.size()), out.data(), size_t(out.size()));
    libdeflate_free_compressor(c);
    out.truncate(qsizetype(n));
    return out;
}

// zlib's deflate with a level, a strategy and a memory level (1 ends a block every few
// hundred symbols), flushing every `flushEvery` bytes with `flush` (empty blocks, or
// blocks ending mid-byte).
QByteArray zlibStream(const QByteArray &data, int level, int strategy, int memLevel, int flushEvery = 0,
                      int flush = Z_NO_FLUSH)
{
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK)
        return {};
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))) + 64 + (flushEvery ? data.size() / flushEvery * 16 : 0), '\0');
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    qsizetype done = 0;
    int r = Z_OK;
    while (r == Z_OK) {
        const qsizetype n = flushEvery ? qMin<qsizetype>(flushEvery, data.size() - done) : data.size() - done;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData() + done));
        z.avail_in = uInt(n);
        done += n;
        const bool last = done == data.size();
        r = deflate(&z, last ? Z_FINISH : flush);
        if (last && r == Z_OK)
            r = Z_BUF_ERROR; // out of room: should not happen
    }
    deflateEnd(&z);
    if (r != Z_STREAM_END)
        return {};
    out.truncate(qsizetype(z.total_out));
    return out;
}

// Writes deflate bits by hand, from the lowest bit of each byte.
class BitWriter
{
public:
    void bits(quint32 value, int count)
    {
        for (int i = 0; i < count; ++i, ++m_bit) {
            if (m_bit % 8 == 0)
                m_out += '\0';
            if (value >> i & 1)
                m_out[m_bit / 8] = char(m_out[m_bit / 8] | (1 << (m_bit % 8)));
        }
    }
    void code(quint32 code, int length) // Huffman codes go out from their top bit
    {
        for (int i = length - 1; i >= 0; --i)
            bits(code >> i & 1, 1);
    }
    void align() { m_bit = (m_bit + 7) / 8 * 8; }
    void bytes(const QByteArray &data)
    {
        align();
        m_out += data;
        m_bit += int(data.size()) * 8;
    }
    void stored(const QByteArray &data, bool final, int complement = -1)
    {
        bits(final ? 1 : 0, 1);
        bits(0, 2);
        align();
        const int len = int(data.size());
        bits(quint32(len), 16);
        bits(quint32(complement >= 0 ? complement : ~len & 0xffff), 16);
        bytes(data);
    }
    // The fixed codes.
    void fixedLitLen(int symbol)
    {
        if (symbol < 144)
            code(quint32(0x30 + symbol), 8);
        else if (symbol < 256)
            code(quint32(0x190 + symbol - 144), 9);
        else if (symbol < 280)
            code(quint32(symbol - 256), 7);
        else
            code(quint32(0xc0 + symbol - 280), 8);
    }
    void fixedDist(int symbol) { code(quint32(symbol), 5); }
    int position() const { return m_bit; }
    QByteArray data() const { return m_out; }

private:
    QByteArray m_out;
    int m_bit = 0;
};

// Canonical codes of the lengths, as deflate assigns them.
QList<quint32> canonicalCodes(const QList<int> &lengths)
{
    int count[16] = {};
    for (int len : lengths)
        ++count[len];
    count[0] = 0;
    quint32 next[16] = {};
    for (int len = 1; len < 16; ++len)
        next[len] = (next[len - 1] + quint32(count[len - 1])) << 1;
    QList<quint32> codes(lengths.size(), 0);
    for (int s = 0; s < lengths.size(); ++s)
        if (lengths[s])
            codes[s] = next[lengths[s]]++;
    return codes;
}

// A dynamic block's header: HLIT, HDIST, HCLEN, the code-length code and then the
// symbols (with their extra bits) of the code lengths, all as given, valid or not.
// The code-length code used unless told: 0 to 13 in four bits, 15 to 18 in five.
struct CodeLengthSymbol
{
    int symbol;
    quint32 extra = 0;
    int extraBits = 0;
};
void dynamicHeader(BitWriter &w, bool final, int hlit, int hdist, const QList<CodeLengthSymbol> &symbols,
                   QList<int> codeLengthLengths = {})
{
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    if (codeLengthLengths.isEmpty()) {
        codeLengthLengths = QList<int>(19, 4);
        codeLengthLengths[14] = 0;
        for (int s : {15, 16, 17, 18})
            codeLengthLengths[s] = 5;
    }
    const QList<quint32> codes = canonicalCodes(codeLengthLengths);
    w.bits(final ? 1 : 0, 1);
    w.bits(2, 2);
    w.bits(quint32(hlit - 257), 5);
    w.bits(quint32(hdist - 1), 5);
    w.bits(19 - 4, 4);
    for (int i = 0; i < 19; ++i)
        w.bits(quint32(codeLengthLengths[order[i]]), 3);
    for (const CodeLengthSymbol &s : symbols) {
        w.code(codes[s.symbol], codeLengthLengths[s.symbol]);
        w.bits(s.extra, s.extraBits);
    }
}
// The code-length symbols for these lengths, one symbol each.
QList<CodeLengthSymbol> plainLengths(const QList<int> &lengths)
{
    QList<CodeLengthSymbol> out;
    for (int len : lengths)
        out.append(CodeLengthSymbol{len});
    return out;
}

// The tree that extracting entries with these names makes: each folder on the way, then the file.
QStringList treeOf(const QStringList &names)
{
    QStringList out;
    for (const QString &name : names) {
        const QStringList parts = name.split(u'/');
        for (qsizetype i = 1; i < parts.size(); ++i)
            out << parts.mid(0, i).join(u'/') + u'/';
        out << name;
    }
    out.removeDuplicates();
    out.sort();
    return out;
}

} // namespace

class TestZipEngine : public QObject
{
    Q_OBJECT

private:
    PrivateEnvironment m_environment;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString at(const QString &relative) const { return m_dir->filePath(relative); }
    QString folder(const QString &relative) const
    {
        QDir().mkpath(at(relative));
        return at(relative);
    }
    // Saves the archive as a.zip and extracts it into `into` (made if missing).
    ZipResult unzip(const RawZip &zip, const QString &into = u"out"_s)
    {
        zip.save(at(u"a.zip"_s));
        return pnvzip::unzipFile(at(u"a.zip"_s), folder(into));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    // ---- ZipFile ----------------------------------------------------------------------

    void roundTrip_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("method"); // expected; -1: either
        QTest::newRow("text") << "report.doc" << textBytes(300000) << int(ZIP_CM_DEFLATE);
        QTest::newRow("empty") << "empty.txt" << QByteArray() << int(ZIP_CM_STORE);
        QTest::newRow("random, scanned and stored") << "photo.jpg" << randomBytes(2 << 20, 1) << int(ZIP_CM_STORE);
        QTest::newRow("random, small") << "key.bin" << randomBytes(3000, 2) << int(ZIP_CM_STORE);
        QTest::newRow("one byte") << "x" << QByteArray("x") << int(ZIP_CM_STORE);
        QTest::newRow("ends in zeros") << "disk.img" << QByteArray("header") + QByteArray(600 * 1024, '\0') << int(ZIP_CM_DEFLATE);
        QTest::newRow("zeros between data") << "sparse.img" << randomBytes(5000, 3) + QByteArray(1 << 20, '\0') + randomBytes(5000, 4) << int(ZIP_CM_DEFLATE);
        QTest::newRow("UTF-8 name") << "Überblick – 数据 ✓.txt" << textBytes(5000) << int(ZIP_CM_DEFLATE);
        QTest::newRow("exactly one piece") << "piece.txt" << textBytes(1 << 20) << int(ZIP_CM_DEFLATE);
        QTest::newRow("one piece and a byte") << "over.txt" << textBytes((1 << 20) + 1) << int(ZIP_CM_DEFLATE);
        QTest::newRow("random, one piece less a byte: deflated, then stored") << "noise.bin" << randomBytes((1 << 20) - 1, 9) << int(ZIP_CM_STORE);
        QTest::newRow("awkward name") << "it's a \"test\" (1) [x] #2.txt" << textBytes(100) << -1;
    }
    void roundTrip()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, method);
        const QString source = at(u"in/"_s + name);
        writeFile(source, content);
        QVERIFY(QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        setMtime(source, QDateTime::fromSecsSinceEpoch(FixedTime));
        const QString archive = at(name + u".zip"_s);

        const ZipResult zipped = pnvzip::zipFile(source, archive);
        QVERIFY2(zipped.ok(), qPrintable(zipped.text));
        QVERIFY(zipped.text.startsWith(u"Created "_s + archive + QChar('\n')));
        const ArchiveEntry entry = inspect(archive);
        QCOMPARE(entry.count, 1);
        QCOMPARE(entry.name, name);
        QCOMPARE(entry.size, quint64(content.size()));
        if (method >= 0)
            QCOMPARE(entry.method, method);
        QCOMPARE(entry.attributes >> 16, 0100640u);
        QCOMPARE(entry.timestamp.size(), 5);
        QCOMPARE(qFromLittleEndian<quint32>(entry.timestamp.constData() + 1), quint32(FixedTime));
        if (entry.method == ZIP_CM_STORE) // stored only when deflate does not pay
            QVERIFY(QFileInfo(archive).size() <= content.size() + 200);
        QCOMPARE(leftovers(m_dir->path()), QStringList());

        const ZipResult unzipped = pnvzip::unzipFile(archive, folder(u"out"_s));
        QVERIFY2(unzipped.ok(), qPrintable(unzipped.text));
        const QString copy = at(u"out/"_s + name);
        QCOMPARE(tree(at(u"out"_s)), QStringList{name});
        QCOMPARE(readFile(copy), content);
        QCOMPARE(mtimeSecs(copy), FixedTime);
        QCOMPARE(permissions(copy), masked(0640) | 0400);
        QVERIFY(unzipped.text.contains(name));
    }

    // Pieces encoded on their own must join into one deflate stream whatever their
    // content and size: the end of each non-last piece falls on any bit of its last byte,
    // a piece may be empty, one byte, or kept as stored blocks.
    void piecesJoinIntoOneStream()
    {
        pnvzip::PieceCompressor compressor;
        QVERIFY(compressor.valid());
        QList<QByteArray> pieces;
        for (int i = 1; i <= 40; ++i) // text pieces of many sizes end on every bit
            pieces << textBytes(i * 997 % 20011 + i);
        pieces << QByteArray() << QByteArray("x") << randomBytes(100000, 5) << textBytes(int(pnvzip::PieceSize))
               << randomBytes(int(pnvzip::PieceSize), 6) << QByteArray(int(pnvzip::PieceSize), '\0')
               << randomBytes(int(pnvzip::PartSize), 8) + textBytes(int(pnvzip::PartSize) + 999) // halves: stored, deflated
               << textBytes(int(pnvzip::PartSize)) + randomBytes(int(pnvzip::PartSize), 9) << textBytes(3);
        QByteArray stream, expected;
        int storedCount = 0;
        for (int i = 0; i < pieces.size(); ++i) {
            const QByteArray &piece = pieces[i];
            QByteArray out(qsizetype(pnvzip::pieceBound(size_t(piece.size()))), '\0');
            bool stored = false;
            const size_t n = compressor.compress(reinterpret_cast<const unsigned char *>(piece.constData()),
                                                 size_t(piece.size()), i + 1 == pieces.size(),
                                                 reinterpret_cast<unsigned char *>(out.data()), &stored);
            QVERIFY(n <= size_t(out.size()));
            if (stored) {
                ++storedCount;
                // (a piece kept as two parts may start one stored block more)
                QVERIFY2(n <= size_t(piece.size()) + 5 * (size_t(piece.size()) / 65535 + 2), qPrintable(QString::number(i)));
            } else if (piece.size() > 1000) {
                QVERIFY2(n < size_t(piece.size()), qPrintable(QString::number(i)));
            }
            stream += out.left(qsizetype(n));
            expected += piece;
        }
        QCOMPARE(storedCount, 3); // "x" and the two random pieces
        z_stream z{};
        QCOMPARE(inflateInit2(&z, -15), Z_OK);
        QByteArray inflated(expected.size() + 1, '\0');
        z.next_in = reinterpret_cast<Bytef *>(stream.data());
        z.avail_in = uInt(stream.size());
        z.next_out = reinterpret_cast<Bytef *>(inflated.data());
        z.avail_out = uInt(inflated.size());
        const int r = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        QCOMPARE(r, Z_STREAM_END);
        QCOMPARE(z.avail_in, 0u); // the stream ends exactly with the last piece
        inflated.truncate(qsizetype(z.total_out));
        QVERIFY(inflated == expected);
    }

    // ---- the block walker (deflatewalk.h) and the decoder (deflate64.h) ---------------

    // Streams of libdeflate (every level the pieces could use) and of zlib (stored,
    // fixed, Huffman-only and run-length blocks, tiny blocks, flushes that leave empty
    // blocks and blocks ending mid-byte) over data of many kinds: the walker must find
    // the final block where zlib's inflate finds it, and accept every one.
    void walkerAgreesWithZlib()
    {
        int streams = 0, mostBlocks = 0, multiBlock = 0;
        auto check = [&](const QByteArray &stream, const QString &what) {
            QVERIFY2(!stream.isEmpty(), qPrintable(what));
            const ZlibWalk zlib = zlibWalk(stream);
            QVERIFY2(zlib.ok, qPrintable(what + u": "_s + QString::fromLatin1(zlib.message)));
            const QString why = walkerDisagreement(stream);
            QVERIFY2(why.isEmpty(), qPrintable(what + u": "_s + why));
            ++streams;
            mostBlocks = qMax(mostBlocks, zlib.blocks);
            multiBlock += zlib.blocks > 1;
        };
        for (int kind = 0; kind < 6; ++kind) {
            for (int level : {1, 3, 6, 9, 12}) {
                for (int size : {1, 100, 5000, 70000, 300000}) {
                    if (level == 12 && size > 70000)
                        continue;
                    const QByteArray data = walkerSample(kind, size, quint32(kind * 1000 + level * 10 + size % 7));
                    check(libdeflateStream(data, level), u"libdeflate level %1, kind %2, %3 bytes"_s.arg(level).arg(kind).arg(size));
                    if (QTest::currentTestFailed())
                        return;
                }
            }
            const QByteArray piece = walkerSample(kind, int(pnvzip::PieceSize), quint32(kind + 77));
            check(libdeflateStream(piece, 6), u"libdeflate level 6, kind %1, a whole piece"_s.arg(kind));
            if (QTest::currentTestFailed())
                return;
        }
        struct Config
        {
            int level, strategy, memLevel, flushEvery, flush;
        };
        const Config configs[] = {
            {0, Z_DEFAULT_STRATEGY, 8, 0, Z_NO_FLUSH}, // stored blocks
            {1, Z_DEFAULT_STRATEGY, 8, 0, Z_NO_FLUSH},
            {6, Z_DEFAULT_STRATEGY, 8, 0, Z_NO_FLUSH},
            {9, Z_DEFAULT_STRATEGY, 8, 0, Z_NO_FLUSH},
            {6, Z_FIXED, 8, 0, Z_NO_FLUSH},
            {6, Z_HUFFMAN_ONLY, 8, 0, Z_NO_FLUSH},
            {6, Z_RLE, 8, 0, Z_NO_FLUSH},
            {6, Z_DEFAULT_STRATEGY, 1, 0, Z_NO_FLUSH}, // a block every 128 symbols
            {9, Z_FIXED, 1, 0, Z_NO_FLUSH},
            {6, Z_DEFAULT_STRATEGY, 8, 1000, Z_SYNC_FLUSH},   // empty stored blocks
            {6, Z_DEFAULT_STRATEGY, 8, 777, Z_PARTIAL_FLUSH}, // empty fixed blocks
            {6, Z_DEFAULT_STRATEGY, 8, 3001, Z_BLOCK},        // blocks ending mid-byte
            {1, Z_DEFAULT_STRATEGY, 8, 5000, Z_FULL_FLUSH},
        };
        int c = 0;
        for (const Config &config : configs) {
            ++c;
            for (int kind = 0; kind < 6; ++kind) {
                for (int size : {0, 1, 3000, 100000}) {
                    const QByteArray data = walkerSample(kind, size, quint32(c * 100 + kind * 10 + size % 11));
                    check(zlibStream(data, config.level, config.strategy, config.memLevel, config.flushEvery, config.flush),
                          u"zlib configuration %1, kind %2, %3 bytes"_s.arg(c).arg(kind).arg(size));
                    if (QTest::currentTestFailed())
                        return;
                }
            }
        }
        QVERIFY(streams >= 400);
        QVERIFY(multiBlock >= 100);
        QVERIFY2(mostBlocks >= 500, qPrintable(QString::number(mostBlocks)));
    }

    // Damaged streams (cut short anywhere, bits flipped, bytes overwritten or added) and
    // plain noise: the walker reads only its data (which lies against unreadable pages),
    // ends, and agrees with zlib; it refuses what zlib refuses, bar distances reaching
    // before the data, which it does not track.
    void walkerSurvivesDamagedStreams()
    {
        QList<QByteArray> valid;
        for (int kind = 0; kind < 6; ++kind) {
            valid << libdeflateStream(walkerSample(kind, 20000, quint32(kind + 5)), 6)
                  << zlibStream(walkerSample(kind, 3000, quint32(kind + 9)), 6, Z_FIXED, 8)
                  << zlibStream(walkerSample(kind, 9000, quint32(kind + 13)), 6, Z_DEFAULT_STRATEGY, 1, 2000, Z_BLOCK);
        }
        valid << zlibStream(randomBytes(70000, 3), 0, Z_DEFAULT_STRATEGY, 8);
        QRandomGenerator gen(2024);
        int refused = 0, tried = 0;
        auto check = [&](const QByteArray &stream, const QString &what) {
            const QString why = walkerDisagreement(stream);
            QVERIFY2(why.isEmpty(), qPrintable(what + u": "_s + why));
            refused += !zlibWalk(stream).ok;
            ++tried;
        };
        for (int v = 0; v < valid.size(); ++v) {
            const QByteArray &stream = valid[v];
            QVERIFY(zlibWalk(stream).ok);
            const int size = int(stream.size());
            for (int i = 0; i < 150; ++i) {
                const int cut = size <= 150 ? i % size : int(gen.bounded(size));
                check(stream.left(cut), u"stream %1 cut to %2 bytes"_s.arg(v).arg(cut));
                QByteArray flipped = stream;
                const int bit = int(gen.bounded(size * 8));
                flipped[bit / 8] = char(flipped[bit / 8] ^ (1 << (bit % 8)));
                check(flipped, u"stream %1, bit %2 flipped"_s.arg(v).arg(bit));
                QByteArray overwritten = stream;
                const int at = int(gen.bounded(size));
                const int n = qMin(size - at, int(gen.bounded(1, 16)));
                overwritten.replace(at, n, randomBytes(n, gen.generate()));
                check(overwritten, u"stream %1, %2 bytes overwritten at %3"_s.arg(v).arg(n).arg(at));
                if (QTest::currentTestFailed())
                    return;
            }
            check(stream + randomBytes(int(gen.bounded(1, 4)), gen.generate()), u"stream %1 with bytes after it"_s.arg(v));
            check(stream.left(size / 2) + stream, u"stream %1 behind its own first half"_s.arg(v));
        }
        for (int i = 0; i < 500; ++i) {
            const int size = int(gen.bounded(1, i < 250 ? 16 : 5000));
            QByteArray noise = randomBytes(size, gen.generate());
            if (i % 3 == 0) // a dynamic-block header, so that the noise reaches the tables
                noise[0] = char((noise[0] & ~7) | 5);
            check(noise, u"noise %1 (%2 bytes)"_s.arg(i).arg(size));
            if (QTest::currentTestFailed())
                return;
        }
        QVERIFY(tried > 5000);
        QVERIFY2(refused > tried / 2, qPrintable(u"%1 of %2"_s.arg(refused).arg(tried)));
    }

    // Blocks written bit by bit: the limits deflate allows, and each way a block can be
    // malformed. zlib has to see them the same way, which checks the test's own writing.
    void walkerHandMadeBlocks_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("finalHeaderBit"); // -1: to be refused

        // A complete literal/length code: 0-254 in 8 bits, 255 and 256 in 9.
        QList<int> lit(257, 8);
        lit[255] = lit[256] = 9;
        const QList<quint32> litCodes = canonicalCodes(lit);
        QList<CodeLengthSymbol> litBy16{{8}}; // the same 257 lengths, with repeats (16)
        for (int i = 0; i < 41; ++i)
            litBy16.append({16, 3, 2});
        litBy16 << CodeLengthSymbol{16, 1, 2} << CodeLengthSymbol{16, 1, 2} << CodeLengthSymbol{9} << CodeLengthSymbol{9};

        {
            BitWriter w;
            w.stored({}, true);
            QTest::newRow("stored, empty and final") << w.data() << 0;
        }
        {
            BitWriter w;
            w.bits(1, 1);
            w.bits(1, 2);
            w.fixedLitLen(256);
            QTest::newRow("fixed, only the end of block") << w.data() << 0;
        }
        {
            BitWriter w;
            for (int i = 0; i < 3; ++i)
                w.stored({}, false);
            w.bits(0, 1); // a fixed block with a literal
            w.bits(1, 2);
            w.fixedLitLen('a');
            w.fixedLitLen(256);
            const int header = w.position();
            w.bits(1, 1);
            w.bits(1, 2);
            w.fixedLitLen(256);
            QTest::newRow("empty stored blocks, a fixed block, then the final one") << w.data() << header;
        }
        {
            BitWriter w;
            w.stored(randomBytes(65535, 7), false);
            w.stored(textBytes(300), false);
            const int header = w.position();
            w.bits(1, 1);
            w.bits(1, 2);
            w.fixedLitLen(285); // length 258
            w.fixedDist(29);    // distance 24577 + 8191: 32768
            w.bits(8191, 13);
            w.fixedLitLen(284); // length 227 + 30
            w.bits(30, 5);
            w.fixedDist(0);
            w.fixedLitLen(256);
            QTest::newRow("stored blocks of 65535 bytes and more, then the longest matches") << w.data() << header;
        }
        {
            BitWriter w;
            dynamicHeader(w, true, 257, 1, litBy16 + QList<CodeLengthSymbol>{{0}});
            for (int s : {int('x'), int('y'), 255, int('z'), 256})
                w.code(litCodes[s], lit[s]);
            QTest::newRow("dynamic, lengths repeated, no distance codes, only literals") << w.data() << 0;
        }
        {
            // 'a' in 1 bit, end of block and length 3 in 2, a lone distance code of 1 bit.
            BitWriter w;
            w.stored("before", false);
            const int header = w.position();
            dynamicHeader(w, true, 258, 1,
                          {{18, 97 - 11, 7}, {1}, {18, 138 - 11, 7}, {18, 20 - 11, 7}, {2}, {2}, {1}});
            w.code(0, 1);  // 'a'
            w.code(3, 2);  // length 3
            w.code(0, 1);  // distance 1
            w.code(2, 2);  // end of block
            QTest::newRow("dynamic, a lone distance code") << w.data() << header;
        }
        {
            BitWriter w;
            dynamicHeader(w, true, 258, 1,
                          {{18, 97 - 11, 7}, {1}, {18, 138 - 11, 7}, {18, 20 - 11, 7}, {2}, {2}, {1}});
            w.code(0, 1);
            w.code(3, 2);
            w.code(1, 2); // the half of the lone code that means nothing
            w.code(2, 2);
            QTest::newRow("dynamic, the missing half of a lone distance code") << w.data() << -1;
        }

        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("block type 3") << QByteArray("\x07\x00\x00\x00", 4) << -1;
        QTest::newRow("a byte after the final block") << QByteArray("\x03\x00\x00", 3) << -1;
        QTest::newRow("no final block") << QByteArray("\x00\x00\x00\xff\xff", 5) << -1;
        QTest::newRow("final fixed block cut short") << QByteArray("\x4b\x04", 2) << -1;
        {
            BitWriter w;
            w.stored("abc", true, 0x1234);
            QTest::newRow("stored, length and complement disagree") << w.data() << -1;
        }
        {
            BitWriter w;
            w.stored(textBytes(100), true);
            QTest::newRow("stored, longer than the data") << w.data().left(60) << -1;
            QTest::newRow("stored, cut inside its length") << w.data().left(3) << -1;
        }
        {
            BitWriter w;
            w.bits(1, 1);
            w.bits(1, 2);
            w.fixedLitLen(286);
            w.fixedLitLen(256);
            QTest::newRow("fixed, length symbol 286") << w.data() << -1;
        }
        {
            BitWriter w;
            w.bits(1, 1);
            w.bits(1, 2);
            w.fixedLitLen('a');
            w.fixedLitLen(257);
            w.fixedDist(30);
            w.fixedLitLen(256);
            QTest::newRow("fixed, distance symbol 30") << w.data() << -1;
        }
        // Each header below has one fault; what follows it is the end of block of the
        // code above, so that a walker missing the fault would end there and accept.
        auto dynamicRow = [&](const char *name, int hlit, int hdist, const QList<CodeLengthSymbol> &symbols,
                              const QList<int> &codeLengthLengths = {}) {
            BitWriter w;
            dynamicHeader(w, true, hlit, hdist, symbols, codeLengthLengths);
            w.code(litCodes[256], lit[256]);
            QTest::newRow(name) << w.data() << -1;
        };
        {
            QList<int> lengths(287, 8); // complete: 225 codes of 8 bits, 62 of 9
            for (int i = 225; i < 287; ++i)
                lengths[i] = 9;
            BitWriter w;
            dynamicHeader(w, true, 287, 1, plainLengths(QList<int>(lengths) << 1));
            w.code(canonicalCodes(lengths)[256], 9);
            QTest::newRow("dynamic, 287 length codes") << w.data() << -1;
        }
        dynamicRow("dynamic, 31 distance codes", 257, 31, litBy16 + plainLengths(QList<int>(31, 5)));
        dynamicRow("dynamic, over-subscribed code-length code", 257, 1, {}, QList<int>(19, 1));
        {
            QList<int> lone(19, 0);
            lone[8] = 1;
            QList<CodeLengthSymbol> eights(258, CodeLengthSymbol{8});
            dynamicRow("dynamic, incomplete code-length code", 257, 1, eights, lone);
        }
        dynamicRow("dynamic, over-subscribed literal/length code", 257, 1, plainLengths(QList<int>(257, 8) << 1));
        {
            QList<int> lengths(257, 8);
            lengths[254] = lengths[255] = 0;
            dynamicRow("dynamic, incomplete literal/length code", 257, 1, plainLengths(lengths << 1));
            QList<int> noEnd(257, 8);
            noEnd[256] = 0;
            dynamicRow("dynamic, no end-of-block code", 257, 1, plainLengths(noEnd << 1));
        }
        dynamicRow("dynamic, over-subscribed distance code", 257, 3, litBy16 + plainLengths({1, 1, 1}));
        dynamicRow("dynamic, incomplete distance code", 257, 2, litBy16 + plainLengths({2, 0}));
        dynamicRow("dynamic, a repeat with nothing before it", 257, 1, {{16, 0, 2}});
        dynamicRow("dynamic, repeats past the last length", 257, 1, {{18, 127, 7}, {18, 127, 7}});
        dynamicRow("dynamic, zeros one past the last length", 257, 3, litBy16 + QList<CodeLengthSymbol>{{1}, {17, 0, 3}});
        dynamicRow("dynamic, a repeat one past the last length", 257, 3, litBy16 + QList<CodeLengthSymbol>{{0}, {16, 0, 2}});
    }
    void walkerHandMadeBlocks()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, finalHeaderBit);
        const ZlibWalk zlib = zlibWalk(stream);
        QCOMPARE(zlib.ok, finalHeaderBit >= 0);
        if (zlib.ok)
            QCOMPARE(zlib.headerBit, size_t(finalHeaderBit));
        const std::optional<pnvzip::FinalBlock> found = walkGuarded(stream);
        QCOMPARE(found.has_value(), finalHeaderBit >= 0);
        if (found) {
            QCOMPARE(found->headerBit, size_t(finalHeaderBit));
            QCOMPARE(found->padBits, zlib.padBits);
        }
        const QString why = decoderDisagreement(stream);
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    // What Deflate64 changes, written bit by bit: length symbol 285 with 16 extra bits,
    // distance symbols 30 and 31 over a 64 KiB window, 32 distance codes in a dynamic block.
    void deflate64HandMadeStreams_data()
    {
        using Result = pnvzip::Deflate64Decoder::Result;
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("result");
        // Matches copied byte by byte, as the format defines them.
        auto match = [](QByteArray &out, int length, int distance) {
            for (int i = 0; i < length; ++i)
                out += out[out.size() - distance];
        };
        auto fixedHeader = [](BitWriter &w, bool final) {
            w.bits(final ? 1 : 0, 1);
            w.bits(1, 2);
        };
        {
            BitWriter w;
            fixedHeader(w, true);
            w.fixedLitLen('a');
            w.fixedLitLen(285); // 3 + 65535
            w.bits(65535, 16);
            w.fixedDist(0);
            w.fixedLitLen('b');
            w.fixedLitLen(285); // 3 + 0
            w.bits(0, 16);
            w.fixedDist(0);
            w.fixedLitLen('c');
            w.fixedLitLen(285); // 3 + 1000, from 2 back
            w.bits(1000, 16);
            w.fixedDist(1);
            w.fixedLitLen(256);
            QByteArray expected = "a";
            match(expected, 65538, 1);
            expected += 'b';
            match(expected, 3, 1);
            expected += 'c';
            match(expected, 1003, 2);
            QTest::newRow("symbol 285: lengths 3 to 65538") << w.data() << expected << int(Result::Finished);
            QTest::newRow("symbol 285, cut in its extra bits") << w.data().left(3) << QByteArray("a") << int(Result::Truncated);
        }
        {
            const QByteArray history = randomBytes(65535, 31) + "z";
            BitWriter w;
            w.stored(history.left(65535), false);
            w.stored(history.right(1), false);
            fixedHeader(w, true);
            w.fixedLitLen(257); // length 3 from 49153 + 16383 back: the window's first byte
            w.fixedDist(31);
            w.bits(16383, 14);
            w.fixedLitLen(284); // length 257 from 32769 back
            w.bits(30, 5);
            w.fixedDist(30);
            w.bits(0, 14);
            w.fixedLitLen(285); // length 40003 from 49153 + 5000 back, overlapping itself
            w.bits(40000, 16);
            w.fixedDist(31);
            w.bits(5000, 14);
            w.fixedLitLen(256);
            QByteArray expected = history;
            match(expected, 3, 65536);
            match(expected, 257, 32769);
            match(expected, 40003, 54153);
            QTest::newRow("distance symbols 30 and 31, back to the window's start")
                << w.data() << expected << int(Result::Finished);
            BitWriter tooFar;
            tooFar.stored(history.left(65535), false);
            fixedHeader(tooFar, true);
            tooFar.fixedLitLen(257);
            tooFar.fixedDist(31);
            tooFar.bits(16383, 14); // 65536 back, one more than written
            tooFar.fixedLitLen(256);
            QTest::newRow("a distance before the first byte") << tooFar.data() << QByteArray() << int(Result::Damaged);
        }
        {
            // Literals 0-254 in 8 bits, 255 and 256 in 9; 32 distance codes of 5 bits.
            QList<int> lit(257, 8);
            lit[255] = lit[256] = 9;
            const QList<quint32> litCodes = canonicalCodes(lit);
            BitWriter w;
            dynamicHeader(w, true, 257, 32, plainLengths(lit) + plainLengths(QList<int>(32, 5)));
            w.code(litCodes['q'], 8);
            w.code(litCodes[256], 9);
            QTest::newRow("dynamic, 32 distance codes") << w.data() << QByteArray("q") << int(Result::Finished);
            BitWriter tooMany;
            QList<int> lengths(287, 8); // 287 length codes: too many here as well
            for (int i = 225; i < 287; ++i)
                lengths[i] = 9;
            dynamicHeader(tooMany, true, 287, 1, plainLengths(QList<int>(lengths) << 1));
            tooMany.code(canonicalCodes(lengths)[256], 9);
            QTest::newRow("dynamic, 287 length codes") << tooMany.data() << QByteArray() << int(Result::Damaged);
        }
        {
            BitWriter w;
            w.stored("stored", true);
            QTest::newRow("a stored block, then noise") << w.data() + randomBytes(100, 3) << QByteArray("stored")
                                                         << int(Result::Finished);
            QTest::newRow("a stored block cut short") << w.data().chopped(2) << QByteArray("stor") << int(Result::Truncated);
        }
        {
            // A cut stream hands over the bytes decoded before the cut, none from past it.
            BitWriter w;
            w.stored("kept", false);
            fixedHeader(w, true);
            for (char c : QByteArray("hello world"))
                w.fixedLitLen(uchar(c));
            w.fixedLitLen(256);
            QTest::newRow("literals, cut inside the sixth") << w.data().left(9 + 6) << QByteArray("kepthello")
                                                            << int(Result::Truncated);
            // The stored block takes 9 bytes.
            QTest::newRow("cut after a block") << w.data().left(9) << QByteArray("kept") << int(Result::Truncated);
        }
    }
    void deflate64HandMadeStreams()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, expected);
        QFETCH(int, result);
        for (bool pieces : {false, true}) {
            const Decoded got = decodeStream(stream, pnvzip::Deflate64Decoder::Format::Deflate64, pieces);
            QCOMPARE(int(got.result), result);
            if (result != int(pnvzip::Deflate64Decoder::Result::Damaged))
                QCOMPARE(got.data, expected);
        }
    }

    // Pieces of every kind above, joined by PieceCompressor: zlib inflates the whole.
    void piecesOfEveryKindJoin()
    {
        pnvzip::PieceCompressor compressor;
        QVERIFY(compressor.valid());
        QByteArray stream, expected;
        int count = 0, storedCount = 0;
        for (int round = 0; round < 2; ++round) {
            for (int kind = 0; kind < 6; ++kind) {
                const QByteArray piece = walkerSample(kind, 150000 + 40000 * kind + round, quint32(round * 10 + kind));
                const bool last = round == 1 && kind == 5;
                QByteArray out(qsizetype(pnvzip::pieceBound(size_t(piece.size()))), '\0');
                bool stored = false;
                const size_t n = compressor.compress(reinterpret_cast<const unsigned char *>(piece.constData()),
                                                     size_t(piece.size()), last,
                                                     reinterpret_cast<unsigned char *>(out.data()), &stored);
                QVERIFY(n <= size_t(out.size()));
                storedCount += stored;
                if (!last && !stored) // a deflated non-last piece ends with the empty stored block
                    QVERIFY(out.mid(qsizetype(n) - 4, 4) == QByteArray("\x00\x00\xff\xff", 4));
                stream += out.left(qsizetype(n));
                expected += piece;
                ++count;
            }
        }
        z_stream z{};
        QCOMPARE(inflateInit2(&z, -15), Z_OK);
        QByteArray inflated(expected.size() + 1, '\0');
        z.next_in = reinterpret_cast<Bytef *>(stream.data());
        z.avail_in = uInt(stream.size());
        z.next_out = reinterpret_cast<Bytef *>(inflated.data());
        z.avail_out = uInt(inflated.size());
        const int r = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        QCOMPARE(r, Z_STREAM_END);
        QCOMPARE(z.avail_in, 0u);
        inflated.truncate(qsizetype(z.total_out));
        QVERIFY(inflated == expected);
        QCOMPARE(count, 12);
        QCOMPARE(storedCount, 2); // the random ones
    }

    // The scan that lets a piece be stored without a deflate pass: wherever it says
    // deflate cannot gain more than 1/BudgetShare, libdeflate level 6 indeed does not.
    void scannerBoundsWhatDeflateGains_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("mayShrink"); // expected; -1: either
        const QByteArray noise = randomBytes(1 << 20, 21);
        QByteArray repeatedNear = noise; // 16 stretches of 1 KiB again 8 KiB later
        for (int i = 0; i < 16; ++i)
            repeatedNear.replace(i * 60000 + 8192, 1024, noise.mid(i * 60000, 1024));
        QByteArray repeatedFar = noise; // 64 KiB again 100 KiB later, past deflate's reach
        repeatedFar.replace(300000, 65536, noise.mid(200000, 65536));
        QByteArray wordsInside = noise;
        wordsInside.replace(500000, 12000, wordBytes(12000, 22));
        QTest::newRow("random") << noise << 0;
        QTest::newRow("random, repeats within 32 KiB") << repeatedNear << 1;
        QTest::newRow("random, a repeat beyond 32 KiB") << repeatedFar << 0;
        QTest::newRow("random, 12 KB of words inside") << wordsInside << 1;
        QTest::newRow("random, under 64 KiB") << randomBytes(60000, 23) << 1;
        QTest::newRow("text") << textBytes(1 << 20) << 1;
        QTest::newRow("zeros") << QByteArray(1 << 20, '\0') << 1;
        QTest::newRow("gzip files with words between") << documentationBytes(1 << 20, 24) << 1;
        QTest::newRow("gzip files alone") << documentationBytes(4 << 20, 25).right(1 << 20) << -1;
    }
    void scannerBoundsWhatDeflateGains()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, mayShrink);
        pnvzip::ShrinkScanner scanner;
        const bool may = scanner.mayShrink(reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()));
        if (mayShrink >= 0)
            QCOMPARE(may, bool(mayShrink));
        if (!may) {
            const qint64 deflated = libdeflateStream(data, 6).size();
            QVERIFY2(deflated >= data.size() - data.size() / qsizetype(pnvzip::ShrinkScanner::BudgetShare),
                     qPrintable(u"deflate makes %1 bytes of %2"_s.arg(deflated).arg(data.size())));
        }
    }

    void zipReportsWhatItMade()
    {
        const QByteArray content = textBytes(1234567);
        writeFile(at(u"report.doc"_s), content);
        const QString archive = at(u"report.doc.zip"_s);
        const ZipResult result = pnvzip::zipFile(at(u"report.doc"_s), archive);
        QVERIFY2(result.ok(), qPrintable(result.text));
        const qint64 packed = QFileInfo(archive).size();
        const QStringList lines = result.text.split(QChar('\n'));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], u"Created "_s + archive);
        QCOMPARE(lines[1], u"report.doc: 1.2 MB (1,234,567 bytes) compressed to %1 KB (%2 bytes), %3% smaller."_s
                               .arg(QString::number(double(packed) / 1000, 'f', 0), QLocale(QLocale::English).toString(packed))
                               .arg((content.size() - packed) * 100 / content.size()));
    }

    void zipRefuses_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<int>("number");
        QTest::newRow("empty source path") << "" << "a.zip" << int(pnvzip::EmptyPath);
        QTest::newRow("empty archive path") << "file.txt" << "" << int(pnvzip::EmptyPath);
        QTest::newRow("source missing") << "nothing.txt" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("source is a folder") << "folder" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("source under a file") << "file.txt/x" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("source is a device") << "/dev/null" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("source is a named pipe") << "pipe" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("archive folder missing") << "file.txt" << "nowhere/a.zip" << int(pnvzip::FolderMissing);
        QTest::newRow("archive folder is a file") << "file.txt" << "file.txt/a.zip" << int(pnvzip::CannotWrite);
        QTest::newRow("archive is a folder") << "file.txt" << "folder" << int(pnvzip::CannotWrite);
        QTest::newRow("archive path ends in /") << "file.txt" << "folder/" << int(pnvzip::CannotWrite);
    }
    void zipRefuses()
    {
        QFETCH(QString, source);
        QFETCH(QString, archive);
        QFETCH(int, number);
        writeFile(at(u"file.txt"_s), "content");
        folder(u"folder"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(at(u"pipe"_s)).constData(), 0600), 0); // opening must not block
        const QStringList before = tree(m_dir->path());
        auto full = [&](const QString &p) { return p.isEmpty() || p.startsWith(QChar('/')) ? p : at(p); };
        const ZipResult result = pnvzip::zipFile(full(source), full(archive));
        QCOMPARE(result.number, number);
        QVERIFY(!result.text.isEmpty());
        QCOMPARE(tree(m_dir->path()), before);
    }

    void zipRefusesItsOwnSource_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("same path") << "same";
        QTest::newRow("path with ..") << "dots";
        QTest::newRow("symbolic link") << "symlink";
        QTest::newRow("hard link") << "hardlink";
    }
    void zipRefusesItsOwnSource()
    {
        QFETCH(QString, how);
        const QString source = at(u"doc.txt"_s);
        writeFile(source, textBytes(10000));
        folder(u"sub"_s);
        QString archive = how == "same"_L1 ? source : how == "dots"_L1 ? at(u"sub/../doc.txt"_s) : at(u"doc.zip"_s);
        if (how == "symlink"_L1)
            QVERIFY(QFile::link(source, archive));
        if (how == "hardlink"_L1)
            QCOMPARE(::link(QFile::encodeName(source).constData(), QFile::encodeName(archive).constData()), 0);
        const QStringList before = tree(m_dir->path());
        QCOMPARE(pnvzip::zipFile(source, archive).number, int(pnvzip::ArchiveIsSource));
        QCOMPARE(readFile(source), textBytes(10000));
        QCOMPARE(tree(m_dir->path()), before);
    }

    void zipReplacesAnOlderArchive()
    {
        writeFile(at(u"doc.txt"_s), textBytes(50000));
        writeFile(at(u"doc.txt.zip"_s), "an older archive");
        const ZipResult result = pnvzip::zipFile(at(u"doc.txt"_s), at(u"doc.txt.zip"_s));
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(inspect(at(u"doc.txt.zip"_s)).size, 50000u);
        QCOMPARE(tree(m_dir->path()), (QStringList{u"doc.txt"_s, u"doc.txt.zip"_s}));
        QCOMPARE(permissions(at(u"doc.txt.zip"_s)), masked(0666));
    }

    void zipReportsProgress_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<qint64>("size");
        QTest::newRow("sparse, deflated in pieces") << "sparse" << (qint64(40) << 20) + 12345;
        QTest::newRow("random, stored") << "random" << (qint64(12) << 20) + 7;
        // Too small for the samples: deflated first, then read again to be stored.
        QTest::newRow("random, stored on a second pass") << "random" << qint64(900000);
        QTest::newRow("empty") << "empty" << qint64(0);
    }
    void zipReportsProgress()
    {
        QFETCH(QString, content);
        QFETCH(qint64, size);
        const QString source = at(u"disk.img"_s);
        if (content == "random"_L1) {
            writeFile(source, randomBytes(size, 7));
        } else {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(size));
            if (size > 0)
                QVERIFY(f.seek(size / 2) && f.write(textBytes(100000)) == 100000);
        }
        ScriptedQuery query;
        const ZipResult result = pnvzip::zipFile(source, at(u"disk.img.zip"_s), &query);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(inspect(at(u"disk.img.zip"_s)).size, quint64(size));
        const QString problem = query.reportProblem(size, pnvzip::CallMonitor::ReportStep + qint64(pnvzip::PieceSize));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(query.progressSeen.size() >= size / pnvzip::CallMonitor::ReportStep);
        for (const auto &r : std::as_const(query.progressSeen))
            QCOMPARE(r.entry, u"disk.img"_s);
        QVERIFY(query.cancelPolls > 0);
        QCOMPARE(query.threads, QList<QThread *>{QThread::currentThread()}); // never from a worker
    }

    // The scan that decides, before deflating, whether a file is stored reads every byte of
    // a file that does not compress; a stop asked meanwhile ends it within the poll interval.
    void scanBeforeDeflate_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("verdict");
        QTest::newRow("random") << "random" << false << int(pnvzip::ScanVerdict::Store);
        QTest::newRow("random, stop asked") << "random" << true << int(pnvzip::ScanVerdict::Stopped);
        QTest::newRow("text in the last piece") << "random+text" << false << int(pnvzip::ScanVerdict::Deflate);
        QTest::newRow("text, stop asked after the verdict") << "text" << true << int(pnvzip::ScanVerdict::Stopped);
    }
    void scanBeforeDeflate()
    {
        QFETCH(QString, content);
        QFETCH(bool, stop);
        QFETCH(int, verdict);
        const qint64 size = (qint64(48) << 20) + 5;
        QByteArray data = content == "text"_L1 ? textBytes(size) : randomBytes(size, 11);
        if (content == "random+text"_L1)
            data.replace(size - 300000, 300000, textBytes(300000));
        writeFile(at(u"data.bin"_s), data);
        QFile file(at(u"data.bin"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        ScriptedQuery query;
        pnvzip::CallMonitor monitor(&query, size);
        monitor.startEntry(u"data.bin"_s);
        QElapsedTimer timer;
        timer.start();
        // The monitor is only polled after the first interval: the stop comes while pieces are read.
        query.cancelAt = stop ? 0 : -1;
        QCOMPARE(int(pnvzip::scanBeforeDeflate(file.handle(), quint64(size), &monitor)), verdict);
        if (stop)
            QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
    }

    void zipFailureKeepsTheOlderArchive_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("number");
        QTest::newRow("source vanished") << "vanish" << int(pnvzip::SourceUnreadable);
        QTest::newRow("write fails part-way") << "limit" << int(pnvzip::WriteFailed);
        QTest::newRow("cancelled at the start") << "cancel text 0" << int(pnvzip::Cancelled);
        QTest::newRow("cancelled while deflating") << "cancel text 8388608" << int(pnvzip::Cancelled);
        QTest::newRow("cancelled while storing") << "cancel random 8388608" << int(pnvzip::Cancelled);
    }
    void zipFailureKeepsTheOlderArchive()
    {
        QFETCH(QString, how);
        QFETCH(int, number);
        const QString source = at(u"doc.txt"_s), archive = at(u"doc.txt.zip"_s);
        writeFile(source, textBytes(100));
        QVERIFY(pnvzip::zipFile(source, archive).ok());
        const QByteArray older = readFile(archive);
        writeFile(source, how.contains("random"_L1) ? randomBytes(16 << 20, 3) : textBytes(16 << 20));
        const QStringList before = tree(m_dir->path());
        ZipResult result;
        ScriptedQuery query;
        if (how == "vanish"_L1) {
            QVERIFY(QFile::remove(source));
            result = pnvzip::zipFile(source, archive);
        } else if (how == "limit"_L1) {
            FileSizeLimit limit(64 * 1024);
            result = pnvzip::zipFile(source, archive);
        } else {
            query.cancelAt = how.section(QChar(' '), 2).toLongLong();
            result = pnvzip::zipFile(source, archive, &query);
            QVERIFY(query.sinceStop.isValid());
            QVERIFY2(query.sinceStop.elapsed() < 200, qPrintable(QString::number(query.sinceStop.elapsed())));
            QVERIFY2(result.text.contains(u"cancelled"_s), qPrintable(result.text));
            // Stopped where it was asked, and never reported as done.
            QVERIFY(query.progressSeen.last().done >= query.cancelAt && query.progressSeen.last().done < 16 << 20);
            QCOMPARE(tree(m_dir->path()), before);
        }
        QCOMPARE(result.number, number);
        QCOMPARE(readFile(archive), older);
        QCOMPARE(leftovers(m_dir->path()), QStringList());
    }

    // ---- ZipPaths: trees and several files --------------------------------------------

    // Several items from one folder: entries start at each item's own name, progress counts
    // the bytes of every file once and ends at the total.
    void zipPathsNamesEntriesAfterEachItem()
    {
        writeFile(at(u"Briefe/a.txt"_s), textBytes(3000));
        writeFile(at(u"Briefe/b.txt"_s), randomBytes(5 << 20, 4));
        writeFile(at(u"Briefe/Anlagen/c.txt"_s), "c");
        ScriptedQuery query;
        const ZipResult result = pnvzip::zipPaths({at(u"Briefe/a.txt"_s), at(u"Briefe/b.txt"_s), at(u"Briefe/Anlagen"_s)},
                                                  at(u"Briefe/Briefe.zip"_s), &query);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QVERIFY2(result.text.contains(u"3 files and 1 folder zipped"_s), qPrintable(result.text));
        QCOMPARE(query.progressProblem(), QString());
        QCOMPARE(query.progressSeen.last().total, qint64(3000 + (5 << 20) + 1));
        int error = 0;
        zip_t *za = zip_open(QFile::encodeName(at(u"Briefe/Briefe.zip"_s)).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
        QVERIFY(za);
        QStringList names;
        for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i)
            names << QString::fromUtf8(zip_get_name(za, zip_uint64_t(i), 0));
        zip_discard(za);
        QCOMPARE(names, (QStringList{u"a.txt"_s, u"b.txt"_s, u"Anlagen/"_s, u"Anlagen/c.txt"_s}));
    }

    // Whatever stops a tree zip, nothing is left of it and an older archive stays as it was.
    void zipPathsFailureLeavesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("number");
        QTest::newRow("cancelled mid-tree") << "cancel" << int(pnvzip::Cancelled);
        QTest::newRow("write fails part-way") << "limit" << int(pnvzip::WriteFailed);
        QTest::newRow("a path missing") << "missing" << int(pnvzip::SourceUnreadable);
        QTest::newRow("two items of one name") << "twice" << int(pnvzip::SourceUnreadable);
        QTest::newRow("archive path is a folder") << "folder" << int(pnvzip::CannotWrite);
    }
    void zipPathsFailureLeavesNothing()
    {
        QFETCH(QString, how);
        QFETCH(int, number);
        for (int i = 0; i < 300; ++i)
            writeFile(at(u"tree/d%1/f%2.txt"_s.arg(i % 7).arg(i)), wordBytes(100000, quint32(i)));
        writeFile(at(u"other/d0"_s), "x");
        writeFile(at(u"tree.zip"_s), "older");
        folder(u"tree/d0/sub.zip"_s);
        const QStringList before = tree(m_dir->path());
        ScriptedQuery query;
        QStringList paths{at(u"tree"_s)};
        QString archive = at(u"tree.zip"_s);
        ZipResult result;
        if (how == "limit"_L1) {
            FileSizeLimit limit(64 * 1024);
            result = pnvzip::zipPaths(paths, archive);
        } else {
            if (how == "missing"_L1)
                paths << at(u"nothing"_s);
            else if (how == "twice"_L1)
                paths = QStringList{at(u"tree/d0"_s), at(u"other/d0"_s)};
            else if (how == "folder"_L1)
                archive = at(u"tree/d0/sub.zip"_s);
            query.cancelAt = how == "cancel"_L1 ? 10 << 20 : -1;
            result = pnvzip::zipPaths(paths, archive, &query);
        }
        QCOMPARE(result.number, number);
        if (how == "cancel"_L1) {
            QVERIFY2(query.sinceStop.isValid() && query.sinceStop.elapsed() < 200, qPrintable(result.text));
            QVERIFY(query.progressSeen.last().done < 30000000);
        }
        QCOMPARE(tree(m_dir->path()), before);
        QCOMPARE(readFile(at(u"tree.zip"_s)), QByteArray("older"));
    }

    // ---- UnzipFile: arguments and names -----------------------------------------------

    void unzipRefuses_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("number");
        QTest::newRow("empty archive path") << "" << "out" << int(pnvzip::EmptyPath);
        QTest::newRow("empty folder path") << "good.zip" << "" << int(pnvzip::EmptyPath);
        QTest::newRow("archive missing") << "none.zip" << "out" << int(pnvzip::SourceUnreadable);
        QTest::newRow("archive is a folder") << "out" << "out" << int(pnvzip::SourceUnreadable);
        QTest::newRow("archive is a device") << "/dev/zero" << "out" << int(pnvzip::SourceUnreadable);
        QTest::newRow("not an archive") << "file.txt" << "out" << int(pnvzip::NotAnArchive);
        QTest::newRow("empty file") << "empty.zip" << "out" << int(pnvzip::NotAnArchive);
        QTest::newRow("folder missing") << "good.zip" << "missing" << int(pnvzip::FolderMissing);
        QTest::newRow("folder is a file") << "good.zip" << "file.txt" << int(pnvzip::CannotWrite);
        QTest::newRow("folder under a file") << "good.zip" << "file.txt/sub" << int(pnvzip::CannotWrite);
    }
    void unzipRefuses()
    {
        QFETCH(QString, archive);
        QFETCH(QString, folder);
        QFETCH(int, number);
        RawZip zip;
        zip.add("inside.txt", "data");
        zip.save(at(u"good.zip"_s));
        writeFile(at(u"file.txt"_s), textBytes(5000));
        writeFile(at(u"empty.zip"_s), QByteArray());
        this->folder(u"out"_s);
        const QStringList before = tree(m_dir->path());
        auto full = [&](const QString &p) { return p.isEmpty() || p.startsWith(QChar('/')) ? p : at(p); };
        const ZipResult result = pnvzip::unzipFile(full(archive), full(folder));
        QCOMPARE(result.number, number);
        QVERIFY(!result.text.isEmpty());
        QCOMPARE(tree(m_dir->path()), before);
    }

    void unzipNormalisesNames_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("backslashes") << QByteArray("dir\\sub\\file.txt") << "dir/sub/file.txt";
        QTest::newRow("dot parts") << QByteArray("./a/./b.txt") << "a/b.txt";
        QTest::newRow("double slash") << QByteArray("a//c.txt") << "a/c.txt";
        QTest::newRow("UTF-8") << QByteArray("Ärger/naïve ✓.txt") << "Ärger/naïve ✓.txt";
    }
    void unzipNormalisesNames()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QString, expected);
        RawZip zip;
        zip.add(entry, "payload");
        const ZipResult result = unzip(zip, u"out/"_s); // a folder given with a trailing slash
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(readFile(at(u"out/"_s + expected)), QByteArray("payload"));
        QVERIFY2(result.text.contains(u"into "_s + at(u"out:"_s)), qPrintable(result.text));
    }

    // ---- UnzipFile: names stored in the writer's code page ------------------------------

    // Archives from Windows in other countries store names in the system's code page and
    // do not mark them: each set is read in its page, and the result says which it was.
    void unzipReadsNamesInTheirCodePage_data()
    {
        QTest::addColumn<QByteArray>("page"); // the writer's converter; empty: UTF-8 without the mark
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("note");
        const auto row = [](const char *tag, const char *page, const QStringList &names, const QString &note) {
            QTest::newRow(tag) << QByteArray(page) << names << note;
        };
        row("CP437, box drawing and accents", "ibm-437",
            {u"╔══ Projekte ══╗/Übersicht (März).txt"_s, u"╚═ Archiv/Café Crème.doc"_s, u"Größe & Maße.xls"_s,
             u"Résumé [alt].txt"_s},
            {});
        row("CP850", "ibm-850",
            {u"Relatório de Gestão/Orçamento (versão final).xlsx"_s, u"Ações [2023]/Ata da reunião.docx"_s,
             u"Fotografias/Praia do Forte, Verão.jpg"_s, u"ÍNDICE.txt"_s},
            u"Western European (DOS, CP850)"_s);
        row("CP1252", "windows-1252",
            {u"Réunion d'équipe/Compte rendu (février).docx"_s, u"Präsentation – Entwurf.pptx"_s,
             u"Año nuevo [fotos]/Señal.jpg"_s, u"Übersicht Größe.xlsx"_s},
            u"Western European (Windows-1252)"_s);
        row("CP1250", "windows-1250",
            {u"Přehled výdajů/Faktura č. 12 (říjen).pdf"_s, u"Zdjęcia z wycieczki/Łódź – plaża.jpg"_s,
             u"Žádost o dovolenou.docx"_s, u"Sprawozdanie roczne [wersja końcowa].xlsx"_s},
            u"Central European (Windows-1250)"_s);
        row("CP1254", "windows-1254",
            {u"Toplantı Notları/Gündem (Şubat).docx"_s, u"Müşteri Listesi.xlsx"_s,
             u"Fotoğraflar [İzmir]/Deniz kıyısı.jpg"_s},
            u"Turkish (Windows-1254)"_s);
        row("CP866", "ibm-866",
            {u"Отчёты/Годовой отчёт (2023).docx"_s, u"Договор аренды [копия].pdf"_s,
             u"Фотографии/Летний отпуск.jpg"_s},
            u"Cyrillic (DOS, CP866)"_s);
        row("CP1251", "windows-1251",
            {u"Документы/Счёт на оплату (март).pdf"_s, u"Презентация проекта.pptx"_s,
             u"Фото [семья]/Новый год.jpg"_s, u"Звіт про роботу.docx"_s},
            u"Cyrillic (Windows-1251)"_s);
        row("CP1253", "windows-1253",
            {u"Έγγραφα/Αναφορά πωλήσεων (Μάρτιος).xlsx"_s, u"Φωτογραφίες [διακοπές]/Θάλασσα.jpg"_s,
             u"Σημειώσεις συνάντησης.docx"_s},
            u"Greek (Windows-1253)"_s);
        row("CP1255", "windows-1255",
            {u"מסמכים/דוח שנתי (2023).pdf"_s, u"תמונות [חופשה]/ים המלח.jpg"_s, u"סיכום פגישה.docx"_s},
            u"Hebrew (Windows-1255)"_s);
        row("CP1256", "windows-1256",
            {u"المستندات/تقرير المبيعات (مارس).xlsx"_s, u"صور [العائلة]/رحلة الصيف.jpg"_s,
             u"محضر الاجتماع.docx"_s},
            u"Arabic (Windows-1256)"_s);
        row("CP874", "windows-874-2000",
            {u"เอกสาร/รายงานประจำปี (2566).pdf"_s, u"รูปภาพ [ครอบครัว]/ทะเล.jpg"_s, u"บันทึกการประชุม.docx"_s},
            u"Thai (Windows-874)"_s);
        row("CP932", "ibm-943_P15A-2003",
            {u"報告書/議事録.txt"_s, u"写真 [社員旅行]/集合写真.jpg"_s, u"見積書_株式会社サンプル.pdf"_s,
             u"会議資料 (4月).pptx"_s},
            u"Japanese (Shift-JIS)"_s);
        // 予, 表, 能, 十 and ソ end in the byte 0x5C, a backslash on its own.
        row("CP932, 0x5C as a second byte", "ibm-943_P15A-2003",
            {u"報告書/予算案（最終版）.xlsx"_s, u"予定表/能力表.txt"_s, u"ソース/十月.txt"_s, u"メモ ソ"_s},
            u"Japanese (Shift-JIS)"_s);
        row("CP936", "windows-936-2000",
            {u"项目资料/会议记录（三月）.docx"_s, u"照片 [公司年会]/合影.jpg"_s, u"财务报表 2023.xlsx"_s,
             u"合同扫描件.pdf"_s},
            u"Simplified Chinese (GBK)"_s);
        row("CP950", "windows-950-2000",
            {u"專案資料/會議記錄（三月）.docx"_s, u"照片 [公司旅遊]/合照.jpg"_s, u"財務報表 2023.xlsx"_s,
             u"合約掃描檔.pdf"_s},
            u"Traditional Chinese (Big5)"_s);
        row("CP949", "windows-949-2000",
            {u"프로젝트 자료/회의록 (3월).docx"_s, u"사진 [가족 여행]/바다.jpg"_s, u"재무 보고서 2023.xlsx"_s,
             u"계약서 스캔.pdf"_s},
            u"Korean (UHC)"_s);
        const QStringList mixed{u"Ärger/naïve résumé.txt"_s, u"日本語 [メモ]/資料.txt"_s, u"Ελληνικά.doc"_s};
        row("UTF-8 without the mark, NFC", "", mixed, {});
        QStringList decomposed;
        for (const QString &name : mixed)
            decomposed << name.normalized(QString::NormalizationForm_D);
        row("UTF-8 without the mark, NFD", "", decomposed, {});
    }
    void unzipReadsNamesInTheirCodePage()
    {
        QFETCH(QByteArray, page);
        QFETCH(QStringList, names);
        QFETCH(QString, note);
        RawZip zip;
        for (const QString &name : names) {
            RawZip::Entry entry;
            entry.name = page.isEmpty() ? name.toUtf8() : inCodePage(name, page.constData());
            entry.data = name.toUtf8();
            entry.flags = 0;                      // no UTF-8 mark
            entry.unixMode = page.isEmpty() ? 0100644 : 0; // from Windows, or from macOS / Linux
            zip.add(entry);
        }
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), treeOf(names));
        for (const QString &name : names)
            QCOMPARE(readFile(at(u"out/"_s + name)), name.toUtf8());
        if (note.isEmpty())
            QVERIFY2(!result.text.contains(u"names read as"_s), qPrintable(result.text));
        else
            QVERIFY2(result.text.contains(u", names read as "_s + note + u':'), qPrintable(result.text));
    }

    // A single short name says little: the guess is made all the same, and how often it is
    // right is shown, measured against reading every name as CP437.
    void unzipGuessesSingleShortNames()
    {
        const QList<std::pair<const char *, QString>> cases{
            {"ibm-437", u"Menü"_s},           {"ibm-850", u"Ação"_s},          {"windows-1252", u"Café"_s},
            {"windows-1250", u"Łódź"_s},      {"windows-1254", u"Şube"_s},     {"ibm-866", u"План"_s},
            {"windows-1251", u"Счёт"_s},      {"windows-1253", u"Έργο"_s},     {"windows-1255", u"מסמך"_s},
            {"windows-1256", u"صورة"_s},      {"windows-874-2000", u"แผนก"_s}, {"ibm-943_P15A-2003", u"会議資料"_s},
            {"windows-936-2000", u"会议记录"_s}, {"windows-950-2000", u"會議記錄"_s}, {"windows-949-2000", u"회의자료"_s},
        };
        int right = 0, rightAsCp437 = 0;
        QStringList wrong;
        for (const auto &[page, name] : cases) {
            const QString file = name + u".txt"_s;
            RawZip zip;
            RawZip::Entry entry;
            entry.name = inCodePage(file, page);
            entry.data = "x";
            entry.flags = 0;
            entry.unixMode = 0;
            zip.add(entry);
            const QString into = u"out-"_s + QString::fromLatin1(page);
            const ZipResult result = unzip(zip, into);
            QVERIFY2(result.ok(), qPrintable(result.text));
            if (tree(at(into)) == QStringList{file})
                ++right;
            else
                wrong << u"%1 in %2 read as %3"_s.arg(file, QString::fromLatin1(page), tree(at(into)).join(u", "_s));
            if (fromCodePage(entry.name, "ibm-437") == file)
                ++rightAsCp437;
        }
        qInfo("single names of 4 characters: %d of %lld read right (%.0f%%), %d as CP437 would%s%s", right,
              qlonglong(cases.size()), 100.0 * right / double(cases.size()), rightAsCp437,
              wrong.isEmpty() ? "" : "; wrong: ", qPrintable(wrong.join(u"; "_s)));
        QVERIFY(right >= rightAsCp437);
    }

    // The Unicode path field holds the name when its CRC-32 is that of the stored name;
    // one left over from a rename (another CRC-32) is ignored and the stored name is read.
    void unzipWeighsUnicodePathFields_data()
    {
        QTest::addColumn<bool>("current");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("field matches the stored name") << true
                                                       << QStringList{u"Rapport/Procès-verbal.txt"_s, u"Rapport/Budget (final).xlsx"_s};
        QTest::newRow("field left over from an older name")
            << false << QStringList{u"報告書/議事録.txt"_s, u"報告書/予算案（最終版）.xlsx"_s};
    }
    void unzipWeighsUnicodePathFields()
    {
        QFETCH(bool, current);
        QFETCH(QStringList, expected);
        const QStringList stored{u"報告書/議事録.txt"_s, u"報告書/予算案（最終版）.xlsx"_s};
        const QStringList inField{u"Rapport/Procès-verbal.txt"_s, u"Rapport/Budget (final).xlsx"_s};
        RawZip zip;
        for (qsizetype i = 0; i < stored.size(); ++i) {
            RawZip::Entry entry;
            entry.name = inCodePage(stored[i], "ibm-943_P15A-2003");
            entry.data = "x";
            entry.flags = 0;
            entry.unixMode = 0;
            entry.extra = current ? unicodePathField(entry.name, inField[i])
                                  : unicodePathField(entry.name, inField[i], 0x12345678);
            zip.add(entry);
        }
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), treeOf(expected));
    }

    // zipbench --names and other callers can set the page; an unknown one extracts nothing.
    void unzipReadsNamesInTheCodePageAskedFor_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("expected"); // empty: refused
        QTest::newRow("CP1251 for names written in CP866") << u"CP1251"_s << fromCodePage(inCodePage(u"Отчёт.txt"_s, "ibm-866"), "windows-1251");
        QTest::newRow("the guess confirmed, lower case") << u"cp866"_s << u"Отчёт.txt"_s;
        QTest::newRow("unknown") << u"CP9999"_s << QString();
    }
    void unzipReadsNamesInTheCodePageAskedFor()
    {
        QFETCH(QString, asked);
        QFETCH(QString, expected);
        RawZip zip;
        RawZip::Entry entry;
        entry.name = inCodePage(u"Отчёт.txt"_s, "ibm-866");
        entry.data = "x";
        entry.flags = 0;
        entry.unixMode = 0;
        zip.add(entry);
        zip.save(at(u"a.zip"_s));
        ScriptedQuery query;
        query.codePage = asked;
        const ZipResult result = pnvzip::unzipFile(at(u"a.zip"_s), folder(u"out"_s), &query);
        if (expected.isEmpty()) {
            QCOMPARE(result.number, int(pnvzip::UnknownCodePage));
            QVERIFY2(result.text.contains(u"CP9999"_s) && result.text.contains(u"CP866"_s), qPrintable(result.text));
            QCOMPARE(tree(at(u"out"_s)), QStringList());
            return;
        }
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), QStringList{expected});
    }

    // ---- UnzipFile: nothing outside the folder ----------------------------------------

    void unzipRefusesNamesOutside_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("..") << QByteArray("../evil");
        QTest::newRow("a/../..") << QByteArray("a/../../evil");
        QTest::newRow("a/b/../../..") << QByteArray("a/b/../../../evil");
        QTest::newRow("absolute") << QByteArray("@WORK@/evil");
        QTest::newRow("backslash ..") << QByteArray("..\\evil");
        QTest::newRow("backslash a\\..\\..") << QByteArray("a\\..\\..\\evil");
        QTest::newRow("leading backslash") << QByteArray("\\evil");
        QTest::newRow("drive letter") << QByteArray("C:\\evil");
        QTest::newRow("drive letter, slash") << QByteArray("C:/evil");
        QTest::newRow("Shift-JIS, ..") << QByteArray("\x95\xf1\x8d\x90/../../evil");
        QTest::newRow("Shift-JIS, ..\\ after a 0x5C second byte") << QByteArray("\x97\x5c\\..\\..\\evil");
    }
    void unzipRefusesNamesOutside()
    {
        QFETCH(QByteArray, name);
        const QString work = folder(u"work"_s);
        name.replace("@WORK@", QFile::encodeName(work));
        RawZip zip;
        zip.add("harmless.txt", "first entry, fine on its own");
        RawZip::Entry entry;
        entry.name = name;
        entry.data = "evil";
        entry.flags = QByteArrayView(name).isValidUtf8() ? 0x0800 : 0; // legacy names are unmarked
        zip.add(entry);
        const ZipResult result = unzip(zip, u"work/target"_s);
        QCOMPARE(result.number, int(pnvzip::OutsideFolder));
        QVERIFY2(result.text.contains(u"Nothing was extracted"_s), qPrintable(result.text));
        QCOMPARE(tree(work), QStringList{u"target/"_s});
    }

    // Links are made when their target, read by name, stays inside; a link that would lead
    // outside is left out and named, and everything else is extracted.
    void unzipLinksStayInside_data()
    {
        QTest::addColumn<QStringList>("entries"); // "name", "folder/", "link -> target"
        QTest::addColumn<QStringList>("made");    // the target folder afterwards
        QTest::addColumn<QStringList>("leftOut"); // the links named as left out
        QTest::newRow("to /etc, then a file through it")
            << QStringList{"etc -> /etc", "etc/evil.conf"} << QStringList{"etc/", "etc/evil.conf"} << QStringList{"etc"};
        QTest::newRow("to .., then a file through it")
            << QStringList{"up -> ..", "up/evil.txt"} << QStringList{"up/", "up/evil.txt"} << QStringList{"up"};
        QTest::newRow("to a sibling folder") << QStringList{"sib -> ../outside", "kept.txt"} << QStringList{"kept.txt"}
                                             << QStringList{"sib"};
        QTest::newRow("nested, climbing too far")
            << QStringList{"a/b/l -> ../../../x"} << QStringList() << QStringList{"a/b/l"};
        QTest::newRow("back after a name, then too far") << QStringList{"l -> sub/../../x", "sub/"} << QStringList{"sub/"}
                                                         << QStringList{"l"};
        QTest::newRow("absolute, to the work folder")
            << QStringList{"out -> @WORK@", "out/evil.txt"} << QStringList{"out/", "out/evil.txt"} << QStringList{"out"};
        QTest::newRow("back and forth, staying inside")
            << QStringList{"X/a/b/c/", "X/g", "X/l -> ../X/./a/b/c/../../../g"}
            << QStringList{"X/", "X/a/", "X/a/b/", "X/a/b/c/", "X/g", "X/l -> ../X/./a/b/c/../../../g"} << QStringList();
        QTest::newRow("back over a file") << QStringList{"f", "l -> f/../f"} << QStringList{"f"} << QStringList{"l"};
        // "q" does not exist when "l" is made; made later as a link to the folder itself,
        // "q/.." would be the folder's parent.
        QTest::newRow("back over a link made later")
            << QStringList{"l -> q/../x", "q -> ."} << QStringList{"q -> ."} << QStringList{"l"};
    }
    void unzipLinksStayInside()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, made);
        QFETCH(QStringList, leftOut);
        const QString work = folder(u"work"_s);
        folder(u"work/outside"_s);
        RawZip zip;
        for (QString entry : entries) {
            entry.replace(u"@WORK@"_s, work);
            const qsizetype arrow = entry.indexOf(u" -> "_s);
            if (arrow >= 0)
                zip.add(entry.left(arrow).toUtf8(), entry.mid(arrow + 4).toUtf8(), 0120777);
            else
                zip.add(entry.toUtf8(), entry.endsWith(QChar('/')) ? QByteArray() : QByteArray("data"),
                        entry.endsWith(QChar('/')) ? 040755 : 0100644);
        }
        const ZipResult result = unzip(zip, u"work/target"_s);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"work/target"_s)), made);
        QCOMPARE(tree(at(u"work/outside"_s)), QStringList());
        for (const QString &link : leftOut)
            QVERIFY2(result.text.contains(u"\n  %1 → "_s.arg(link)), qPrintable(result.text));
        QCOMPARE(result.text.contains(u"left out, as"_s), !leftOut.isEmpty());
    }

    void unzipMakesLinksInside()
    {
        RawZip zip;
        zip.add("docs/readme.txt", "read me");
        zip.add("latest", "docs/readme.txt", 0120777);
        zip.add("docs/self", "../docs", 0120777);
        zip.add("docs/sub/up", "../readme.txt", 0120777);
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), (QStringList{u"docs/"_s, u"docs/readme.txt"_s, u"docs/self -> ../docs"_s, u"docs/sub/"_s,
                                                  u"docs/sub/up -> ../readme.txt"_s, u"latest -> docs/readme.txt"_s}));
        QCOMPARE(readFile(at(u"out/latest"_s)), QByteArray("read me"));
        QVERIFY(result.text.contains(u"3 links"_s));
    }

    void unzipNeverWritesThroughExistingLinks()
    {
        const QString outside = at(u"outside"_s), target = folder(u"out"_s);
        writeFile(outside + u"/note.txt"_s, "keep me");
        QVERIFY(QFile::link(outside, target + u"/dir"_s));
        QVERIFY(QFile::link(outside + u"/note.txt"_s, target + u"/note.txt"_s));
        QVERIFY(QFile::link(outside + u"/fresh.txt"_s, target + u"/fresh.txt"_s)); // dangling
        RawZip zip;
        for (const char *name : {"dir/evil.txt", "dir/note.txt", "note.txt", "fresh.txt"})
            zip.add(name, "evil");
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(outside), QStringList{u"note.txt"_s});
        QCOMPARE(readFile(outside + u"/note.txt"_s), QByteArray("keep me"));
        for (const char *name : {"dir (2)/evil.txt", "dir (2)/note.txt", "note (2).txt", "fresh (2).txt"})
            QCOMPARE(readFile(target + QChar('/') + QString::fromUtf8(name)), QByteArray("evil"));
        QVERIFY(QFileInfo(target + u"/dir"_s).isSymLink());

        // A link entry that is fine by name but would lead outside through "dir": left out.
        RawZip peek;
        peek.add("peek", "dir/note.txt", 0120777);
        const ZipResult peeked = unzip(peek);
        QVERIFY2(peeked.ok() && peeked.text.contains(u"1 link was left out"_s), qPrintable(peeked.text));
        QVERIFY(!QFileInfo::exists(target + u"/peek"_s) && !QFileInfo(target + u"/peek"_s).isSymLink());
    }

    // ---- UnzipFile: taken names, merged folders ---------------------------------------

    void unzipKeepsWhatIsThere_data()
    {
        QTest::addColumn<QStringList>("existing"); // "dir/" for folders
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("suffix") << QStringList{"notes.txt"} << QByteArray("notes.txt") << "notes (2).txt";
        QTest::newRow("last suffix counts") << QStringList{"archive.tar.gz"} << QByteArray("archive.tar.gz") << "archive.tar (2).gz";
        QTest::newRow("no suffix") << QStringList{"README"} << QByteArray("README") << "README (2)";
        QTest::newRow("hidden file") << QStringList{".bashrc"} << QByteArray(".bashrc") << ".bashrc (2)";
        QTest::newRow("next free number") << QStringList{"notes.txt", "notes (2).txt"} << QByteArray("notes.txt") << "notes (3).txt";
        QTest::newRow("a folder of that name") << QStringList{"report/"} << QByteArray("report") << "report (2)";
        QTest::newRow("a file where a folder goes") << QStringList{"docs"} << QByteArray("docs/a.txt") << "docs (2)/a.txt";
        QTest::newRow("inside a merged folder") << QStringList{"docs/a.txt"} << QByteArray("docs/a.txt") << "docs/a (2).txt";
    }
    void unzipKeepsWhatIsThere()
    {
        QFETCH(QStringList, existing);
        QFETCH(QByteArray, entry);
        QFETCH(QString, expected);
        const QString out = folder(u"out"_s) + QChar('/');
        for (const QString &name : existing) {
            if (name.endsWith(QChar('/')))
                folder(u"out/"_s + name);
            else
                writeFile(out + name, "original " + name.toUtf8());
        }
        RawZip zip;
        zip.add(entry, "from the archive");
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(readFile(out + expected), QByteArray("from the archive"));
        for (const QString &name : existing) {
            if (!name.endsWith(QChar('/')))
                QCOMPARE(readFile(out + name), "original " + name.toUtf8());
        }
        QVERIFY2(result.text.contains(expected + u" (the name “%1” was taken)"_s.arg(QString::fromUtf8(entry))), qPrintable(result.text));
    }

    void unzipMergesFoldersAndDuplicates()
    {
        writeFile(at(u"out/docs/old.txt"_s), "old");
        writeFile(at(u"out/x"_s), "a file where a folder goes");
        RawZip zip;
        zip.add("docs/", QByteArray(), 040755);
        zip.add("docs/new.txt", "new");
        zip.add("docs/", QByteArray(), 040755);
        zip.add("a.txt", "first");
        zip.add("a.txt", "second");
        zip.add("empty/", QByteArray(), 040755);
        // "x/" becomes "x (2)/", which the archive then names itself: one folder, made here.
        zip.add("x/a.txt", "a");
        zip.add("x (2)/", QByteArray(), 040700);
        zip.add("x (2)/b.txt", "b");
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), (QStringList{u"a (2).txt"_s, u"a.txt"_s, u"docs/"_s, u"docs/new.txt"_s, u"docs/old.txt"_s,
                                                  u"empty/"_s, u"x"_s, u"x (2)/"_s, u"x (2)/a.txt"_s, u"x (2)/b.txt"_s}));
        QCOMPARE(readFile(at(u"out/docs/old.txt"_s)), QByteArray("old"));
        QCOMPARE(readFile(at(u"out/a.txt"_s)), QByteArray("first"));
        QCOMPARE(readFile(at(u"out/a (2).txt"_s)), QByteArray("second"));
        QVERIFY2(result.text.contains(u"docs/ (already there; merged)"_s), qPrintable(result.text));
        QVERIFY2(result.text.contains(u"\n  x (2)/\n"_s), qPrintable(result.text));
        QCOMPARE(permissions(at(u"out/x (2)"_s)), masked(0700) | 0700);
    }

    // Shapes that cost a naive extraction time with the square of their size: one file
    // hundreds of folders deep (far past the longest path the system takes whole), one
    // name given thousands of times, and a directory of millions of entries whose data lies
    // in the file in the opposite order, which the check for overlapping data has to sort.
    // Their cost is measured in bench/; here, what they give, and a cancel honoured in the
    // pass that closes the folders and in every step of the check before anything is written.
    void unzipDeepAndRepeated_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::newRow("500 folders, 13,000 bytes deep") << "deep";
        QTest::newRow("500 folders deep, cancelled in the folder pass") << "deep cancelled";
        QTest::newRow("10,000 copies of one name") << "repeated";
        QTest::newRow("2,000,000 entries out of file order, cancelled in the check") << "unordered cancelled";
    }
    void unzipDeepAndRepeated()
    {
        QFETCH(QString, shape);
        if (shape == "unordered cancelled"_L1) {
            RawZip zip;
            zip.directoryReversed = true;
            RawZip::Entry folderEntry;
            folderEntry.name = "d/";
            folderEntry.unixMode = 040755;
            folderEntry.copies = 2000000;
            zip.add(folderEntry);
            zip.save(at(u"a.zip"_s));
            // The polls of a call cancelled as its first entry starts, when nothing but the
            // check has run: the user clicks cancel just after the poll before the longest
            // silence (0: as the call starts).
            struct PollClock : ScriptedQuery
            {
                QElapsedTimer clock;
                QList<qint64> polls; // ms since the start
                int clickAfter = -1;
                bool cancelRequested() override
                {
                    polls << clock.elapsed();
                    if (clickAfter < 0)
                        return ScriptedQuery::cancelRequested();
                    if (polls.size() == clickAfter)
                        sinceStop.start();
                    return polls.size() > clickAfter;
                }
            } dry;
            dry.cancelAt = 0;
            dry.clock.start();
            ZipResult result = pnvzip::unzipFile(at(u"a.zip"_s), folder(u"dry"_s), &dry);
            QCOMPARE(result.number, int(pnvzip::Cancelled));
            int clickAfter = 0;
            qint64 longest = dry.polls.value(0);
            for (qsizetype i = 1; i < dry.polls.size(); ++i) {
                if (dry.polls[i] - dry.polls[i - 1] > longest) {
                    longest = dry.polls[i] - dry.polls[i - 1];
                    clickAfter = int(i);
                }
            }
            PollClock query;
            query.clickAfter = clickAfter;
            query.clock.start();
            if (clickAfter == 0)
                query.sinceStop.start();
            result = pnvzip::unzipFile(at(u"a.zip"_s), folder(u"out"_s), &query);
            const qint64 afterClick = query.sinceStop.elapsed();
            QCOMPARE(result.number, int(pnvzip::Cancelled));
            QVERIFY2(result.text.contains(u"Nothing was extracted"_s), qPrintable(result.text));
            QCOMPARE(tree(at(u"out"_s)), QStringList());
            QVERIFY2(afterClick < 200, qPrintable(u"stopped %1 ms after a cancel %2 ms into the call (poll %3 of %4)"_s
                                                      .arg(afterClick).arg(query.polls.value(clickAfter - 1))
                                                      .arg(clickAfter).arg(dry.polls.size())));
            return;
        }
        // Past the longest path the system takes whole; deeper ones are in bench/ (making a
        // folder takes milliseconds on some disks).
        constexpr int Depth = 500, Copies = 10000;
        constexpr char Level[] = "a-folder-with-a-long-name";
        RawZip zip;
        if (shape == "repeated"_L1) {
            for (int i = 1; i <= Copies; ++i)
                zip.add("same.txt", "copy " + QByteArray::number(i));
        } else {
            zip.add((QByteArray(Level) + '/').repeated(Depth) + "bottom.txt", "at the bottom");
            zip.add("last.bin", randomBytes(3 << 20, 9)); // large: written here, not by the writers
        }
        zip.save(at(u"a.zip"_s));
        const QString out = folder(u"out"_s);
        // Cancels once every file is in place: only the folder pass is left.
        struct CancelAfterFiles : ScriptedQuery
        {
            QString last;
            bool cancelRequested() override
            {
                if (!last.isEmpty() && !sinceStop.isValid() && QFileInfo::exists(last))
                    sinceStop.start();
                return sinceStop.isValid();
            }
        } query;
        if (shape == "deep cancelled"_L1)
            query.last = out + u"/last.bin"_s;
        const ZipResult result = pnvzip::unzipFile(at(u"a.zip"_s), out, &query);
        const qint64 afterStop = query.sinceStop.isValid() ? query.sinceStop.elapsed() : -1;
        // Past the longest path, so taken down from the bottom, one folder at a time.
        const auto removeDeep = qScopeGuard([&] {
            int fd = ::open(QFile::encodeName(out).constData(), O_RDONLY | O_DIRECTORY);
            int levels = 0;
            for (int next; fd >= 0 && (next = ::openat(fd, Level, O_RDONLY | O_DIRECTORY | O_NOFOLLOW)) >= 0; ++levels) {
                ::close(fd);
                fd = next;
            }
            ::unlinkat(fd, "bottom.txt", 0);
            for (; fd >= 0 && levels > 0; --levels) {
                const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY);
                ::close(fd);
                fd = parent;
                ::unlinkat(fd, Level, AT_REMOVEDIR);
            }
            if (fd >= 0)
                ::close(fd);
        });
        if (shape == "repeated"_L1) {
            QVERIFY2(result.ok(), qPrintable(result.text));
            QCOMPARE(tree(out).size(), Copies);
            QCOMPARE(readFile(out + u"/same.txt"_s), QByteArray("copy 1"));
            QCOMPARE(readFile(out + u"/same (2).txt"_s), QByteArray("copy 2"));
            QCOMPARE(readFile(out + u"/same (10000).txt"_s), QByteArray("copy 10000"));
            QVERIFY2(result.text.contains(u"9,999 items were saved under new names"_s), qPrintable(result.text));
            return;
        }
        // Down the folders one at a time, as no path to the bottom fits the system's limit.
        const QByteArray outPath = QFile::encodeName(out);
        int fd = ::open(outPath.constData(), O_RDONLY | O_DIRECTORY);
        int depth = 0;
        for (int next; fd >= 0 && (next = ::openat(fd, Level, O_RDONLY | O_DIRECTORY | O_NOFOLLOW)) >= 0; ++depth) {
            struct stat st{};
            ::fstat(next, &st);
            if (depth == Depth - 1 && shape == "deep"_L1)
                QCOMPARE(int(st.st_mode & 0777), masked(0777) | 0700); // the folder pass reached the bottom
            ::close(fd);
            fd = next;
        }
        char bottom[32] = {};
        const int file = ::openat(fd, "bottom.txt", O_RDONLY);
        const ssize_t n = file >= 0 ? ::read(file, bottom, sizeof bottom - 1) : -1;
        if (file >= 0)
            ::close(file);
        ::close(fd);
        QCOMPARE(depth, Depth);
        QCOMPARE(QByteArray(bottom, int(std::max<ssize_t>(n, 0))), QByteArray("at the bottom"));
        QCOMPARE(readFile(out + u"/last.bin"_s).size(), 3 << 20);
        if (shape == "deep"_L1) {
            QVERIFY2(result.ok(), qPrintable(result.text));
        } else {
            QCOMPARE(result.number, int(pnvzip::Cancelled));
            QVERIFY2(result.text.contains(u"The 2 items extracted before the cancel were kept"_s), qPrintable(result.text));
            QVERIFY2(afterStop >= 0 && afterStop < 200, qPrintable(u"stopped %1 ms after the cancel"_s.arg(afterStop)));
        }
    }

    // Archives whose directory is read in several parts: names taken in one part and
    // wanted again in another, a link to a file of a later part, a folder given again
    // later, and entries refused in the last part, before anything is written.
    void unzipDirectoryInParts_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("number");
        QTest::newRow("several parts") << "" << 0;
        QTest::newRow("ZIP64 end records") << "zip64" << 0;
        QTest::newRow("directory past 4 GiB") << "far" << 0;
        QTest::newRow("last part: a name outside") << "outside" << int(pnvzip::OutsideFolder);
        QTest::newRow("last part: a link outside, left out") << "link" << 0;
        QTest::newRow("last part: an unknown method") << "method" << int(pnvzip::UnsupportedMethod);
        QTest::newRow("last part: a damaged record") << "record" << int(pnvzip::NotAnArchive);
    }
    void unzipDirectoryInParts()
    {
        QFETCH(QString, change);
        QFETCH(int, number);
        RawZip zip;
        zip.zip64End = change == "zip64"_L1;
        if (change == "far"_L1)
            zip.directoryAt = (quint64(5) << 30) + 12345; // a hole: the file takes no room
        zip.add("docs/", QByteArray(), 040755);
        zip.add("a.txt", "first");
        zip.add("latest", "docs/late.txt", 0120777);
        // Entries of a folder already made cost no file, so the parts stay cheap to write.
        for (int i = 0; i < 10000; ++i) {
            if (i % 1000 == 0)
                zip.add(u"docs/f%1.txt"_s.arg(i).toUtf8(), QByteArray::number(i));
            else
                zip.add("docs/", QByteArray(), 040755);
        }
        zip.add("docs/", QByteArray(), 040700);
        zip.add("a.txt", "second");
        zip.add("docs/late.txt", "late");
        if (change == "outside"_L1)
            zip.add("docs/../../evil", "evil");
        if (change == "link"_L1)
            zip.add("docs/up", "../../x", 0120777);
        if (change == "method"_L1) {
            RawZip::Entry odd;
            odd.name = "odd.wv";
            odd.data = "data";
            odd.method = 97;
            zip.add(odd);
        }
        if (change == "record"_L1) {
            QByteArray bytes = zip.bytes();
            bytes[bytes.lastIndexOf("PK\x01\x02") + 2] = 9;
            writeFile(at(u"a.zip"_s), bytes);
        } else {
            zip.save(at(u"a.zip"_s));
        }
        const ZipResult result = pnvzip::unzipFile(at(u"a.zip"_s), folder(u"out"_s));
        if (number) {
            QCOMPARE(result.number, number);
            QCOMPARE(tree(at(u"out"_s)), QStringList());
            return;
        }
        QVERIFY2(result.ok(), qPrintable(result.text));
        QStringList expected{u"a (2).txt"_s, u"a.txt"_s, u"docs/"_s, u"docs/late.txt"_s, u"latest -> docs/late.txt"_s};
        for (int i = 0; i < 10000; i += 1000)
            expected << u"docs/f%1.txt"_s.arg(i);
        expected.sort();
        QCOMPARE(tree(at(u"out"_s)), expected);
        QCOMPARE(readFile(at(u"out/a.txt"_s)), QByteArray("first"));
        QCOMPARE(readFile(at(u"out/a (2).txt"_s)), QByteArray("second"));
        QCOMPARE(readFile(at(u"out/latest"_s)), QByteArray("late"));
        QCOMPARE(readFile(at(u"out/docs/f9000.txt"_s)), QByteArray("9000"));
        QCOMPARE(permissions(at(u"out/docs"_s)), masked(0700) | 0700);
        QVERIFY2(result.text.startsWith(u"Extracted 13 files, 1 folder, 1 link from "_s), qPrintable(result.text));
        QVERIFY2(result.text.contains(u"\n  a.txt\n  docs/f0.txt\n"_s), qPrintable(result.text));
        QVERIFY2(result.text.contains(u"1 item was saved under a new name"_s), qPrintable(result.text));
        QVERIFY2(result.text.contains(u"  a (2).txt (the name “a.txt” was taken)\n"_s), qPrintable(result.text));
        QCOMPARE(result.text.contains(u"\n  docs/up → ../../x ("_s), change == "link"_L1);
    }

    // What the extraction keeps in memory does not grow with the number of entries: the
    // archive's directory is read in parts and the report keeps only what it shows. One
    // directory starts past 4 GiB, where every part needs the ZIP64 end records; another
    // has no ZIP64 records, its 16-bit count wrapped four times over, as older writers left it.
    void unzipMemoryStaysFlat_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<bool>("countWraps");
        QTest::newRow("ZIP64 end records, directory past 4 GiB") << 100000 << false;
        QTest::newRow("300,000 entries, count wrapped") << 300000 << true;
    }
    void unzipMemoryStaysFlat()
    {
        QFETCH(int, entries);
        QFETCH(bool, countWraps);
        RawZip zip;
        zip.countWraps = countWraps;
        if (!countWraps)
            zip.directoryAt = quint64(5) << 30;
        for (int i = 0; i < entries; ++i) {
            if (i % (entries / 10) == 0)
                zip.add(u"docs/f%1.txt"_s.arg(i).toUtf8(), QByteArray::number(i));
            else
                zip.add(u"docs/sub%1/"_s.arg(i % 3).toUtf8(), QByteArray(), 040755);
        }
        zip.save(at(u"a.zip"_s));
        zip = RawZip(); // its entries are no longer needed here
        QFile clear(u"/proc/self/clear_refs"_s);
        QVERIFY2(clear.open(QIODevice::WriteOnly) && clear.write("5") == 1, qPrintable(clear.errorString()));
        clear.close(); // the peak is now what is resident
        const auto statusKb = [](const char *field) {
            const QByteArray status = readFile(u"/proc/self/status"_s);
            const qsizetype at = status.indexOf(field);
            return at < 0 ? -1 : status.mid(at + qsizetype(strlen(field))).trimmed().split(' ').first().toLongLong();
        };
        const qint64 before = statusKb("VmRSS:");
        const ZipResult result = pnvzip::unzipFile(at(u"a.zip"_s), folder(u"out"_s));
        const qint64 peak = statusKb("VmHWM:");
        QVERIFY2(result.ok(), qPrintable(result.text));
        QVERIFY2(result.text.startsWith(u"Extracted 10 files, 3 folders from "_s), qPrintable(result.text));
        const QString last = QString::number(entries / 10 * 9);
        QCOMPARE(readFile(at(u"out/docs/f%1.txt"_s.arg(last))), last.toUtf8());
        // Read whole, the directory alone takes more than 30 MB.
        QVERIFY2(before > 0 && peak - before < 16 * 1024, qPrintable(u"%1 KB more at the peak"_s.arg(peak - before)));
    }

    // ---- UnzipFile: archives it cannot extract ----------------------------------------

    void unzipNamesUnsupportedMethods_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("name");
        QTest::newRow("Reduce") << 3 << "Reduce";
        QTest::newRow("IBM TERSE") << 18 << "IBM TERSE";
        QTest::newRow("WavPack") << 97 << "WavPack";
    }
    void unzipNamesUnsupportedMethods()
    {
        QFETCH(int, method);
        QFETCH(QString, name);
        writeFile(at(u"setup.txt"_s), textBytes(20000));
        QVERIFY(pnvzip::zipFile(at(u"setup.txt"_s), at(u"plain.zip"_s)).ok());
        QCOMPARE(inspect(at(u"plain.zip"_s)).method, int(ZIP_CM_DEFLATE));
        writeFile(at(u"odd.zip"_s), withMethod(readFile(at(u"plain.zip"_s)), quint16(method)));
        const ZipResult result = pnvzip::unzipFile(at(u"odd.zip"_s), folder(u"out"_s));
        QCOMPARE(result.number, int(pnvzip::UnsupportedMethod));
        QVERIFY2(result.text.contains(u"“setup.txt” in the archive is compressed with %1 (method %2)"_s.arg(name).arg(method)),
                 qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), QStringList());
    }

    void unzipDamaged_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QStringList>("kept");
        const int corrupt = pnvzip::NotAnArchive, crc = pnvzip::ChecksumMismatch;
        QTest::newRow("cut in half") << "half" << QList<int>{corrupt} << QStringList();
        QTest::newRow("end record cut") << "tail" << QList<int>{corrupt} << QStringList();
        QTest::newRow("stored byte flipped") << "flip" << QList<int>{crc} << QStringList{"good.txt"};
        QTest::newRow("CRC recorded wrong") << "crc" << QList<int>{crc} << QStringList{"good.txt"};
        QTest::newRow("size recorded wrong") << "size" << QList<int>{crc, corrupt} << QStringList{"good.txt"};
        QTest::newRow("CRC wrong, extra padded") << "crc padded" << QList<int>{crc} << QStringList{"good.txt"};
        QTest::newRow("strong encryption") << "strong" << QList<int>{int(pnvzip::UnsupportedEncryption)} << QStringList();
        QTest::newRow("deflate data overwritten") << "deflate" << QList<int>{corrupt, crc} << QStringList();
        QTest::newRow("deflated, CRC recorded wrong") << "deflated crc" << QList<int>{crc} << QStringList();
        QTest::newRow("deflated, several pieces, byte flipped") << "deflated flip" << QList<int>{corrupt, crc} << QStringList();
        QTest::newRow("three entries of 2^62 bytes") << "2^62" << QList<int>{corrupt} << QStringList();
        QTest::newRow("an entry of 2^64 - 1 bytes") << "2^64" << QList<int>{corrupt} << QStringList();
        // Entries sharing their data, as archives built to fill the disk do: refused before
        // anything is written.
        QTest::newRow("overlap: 1,000 records, one local record") << "overlap shared" << QList<int>{corrupt} << QStringList();
        QTest::newRow("overlap: data of the next entry inside") << "overlap in order" << QList<int>{corrupt} << QStringList();
        QTest::newRow("overlap: out of file order") << "overlap unordered" << QList<int>{corrupt} << QStringList();
        // Positions the file does not have are damage, not a file that cannot be read.
        QTest::newRow("offset marked as ZIP64, without its field") << "offset marker" << QList<int>{corrupt} << QStringList();
        QTest::newRow("ZIP64 offset past any file") << "offset huge" << QList<int>{corrupt} << QStringList();
        const int unsupported = pnvzip::UnsupportedEncryption;
        QTest::newRow("AES key length 0") << "aes 0" << QList<int>{unsupported} << QStringList();
        QTest::newRow("AES key length 4") << "aes 4" << QList<int>{unsupported} << QStringList();
    }
    void unzipDamaged()
    {
        QFETCH(QString, damage);
        QFETCH(QList<int>, numbers);
        QFETCH(QStringList, kept);
        QByteArray archive;
        if (damage.startsWith("2^"_L1)) {
            // Sizes that add up past what a signed 64-bit count holds.
            RawZip zip;
            zip.zip64End = true;
            const int entries = damage == "2^62"_L1 ? 3 : 1;
            for (int i = 0; i < entries; ++i) {
                RawZip::Entry huge;
                huge.name = "huge" + QByteArray::number(i) + ".bin";
                huge.data = "tiny";
                huge.claimedSize = damage == "2^62"_L1 ? quint64(1) << 62 : ~quint64(0);
                zip.add(huge);
            }
            archive = zip.bytes();
        } else if (damage.startsWith("offset"_L1) || damage.startsWith("aes"_L1)) {
            RawZip zip;
            RawZip::Entry e;
            e.name = "first.txt";
            e.data = "some data";
            if (damage.startsWith("aes"_L1)) {
                // Encrypted with AES (method 99), its key length byte neither 1, 2 nor 3.
                e.flags |= 0x01;
                e.method = 99;
                e.extra = QByteArray::fromHex("0199070002004145") + char(damage.back().digitValue()) + QByteArray(2, '\0');
            } else if (damage == "offset huge"_L1) {
                e.centralExtra = QByteArray::fromHex("01000800") + QByteArray(7, '\0') + '\x80';
            }
            zip.add(e);
            zip.add("second.txt", "more data");
            archive = zip.bytes();
            if (damage.startsWith("offset"_L1)) {
                const qsizetype central = archive.indexOf("PK\x01\x02");
                archive.replace(central + 42, 4, QByteArray(4, '\xff'));
            }
        } else if (damage.startsWith("overlap"_L1)) {
            RawZip zip;
            zip.add("a.bin", randomBytes(damage == "overlap shared"_L1 ? 2 << 20 : 4000, 5));
            if (damage != "overlap shared"_L1) {
                zip.add("b.txt", "second");
                zip.add("c.txt", "third");
            }
            archive = zip.bytes();
            const qsizetype central = archive.indexOf("PK\x01\x02");
            const qsizetype end = archive.lastIndexOf("PK\x05\x06");
            if (damage == "overlap shared"_L1) {
                // The one central record 1,000 times, each pointing to the same local record.
                const QByteArray record = archive.mid(central, end - central);
                QByteArray tail = archive.mid(end);
                archive.truncate(central);
                for (int i = 0; i < 1000; ++i)
                    archive += record;
                tail[8] = tail[10] = char(1000 & 0xff);
                tail[9] = tail[11] = char(1000 >> 8);
                const quint32 size = quint32(record.size() * 1000);
                for (int b = 0; b < 4; ++b)
                    tail[12 + b] = char(size >> (8 * b) & 0xff);
                archive += tail;
            } else {
                // The second (or third) central record points into the first entry's data.
                const qsizetype second = archive.indexOf("PK\x01\x02", central + 4);
                const qsizetype target = damage == "overlap in order"_L1 ? second : archive.indexOf("PK\x01\x02", second + 4);
                const quint32 offset = damage == "overlap in order"_L1 ? 100 : 0;
                for (int b = 0; b < 4; ++b)
                    archive[target + 42 + b] = char(offset >> (8 * b) & 0xff);
            }
        } else if (damage == "flip"_L1 || damage.startsWith("crc"_L1) || damage == "size"_L1 || damage == "strong"_L1) {
            RawZip zip;
            zip.add("good.txt", "all fine");
            RawZip::Entry bad;
            bad.name = "bad.txt";
            bad.data = textBytes(200000);
            if (damage.startsWith("crc"_L1))
                bad.crc = 0x12345678;
            if (damage == "crc padded"_L1)
                bad.extra = "\x01\x02";
            if (damage == "strong"_L1)
                bad.flags |= 0x41; // encrypted, with PKWARE strong encryption
            zip.add(bad);
            archive = zip.bytes();
            if (damage == "size"_L1) {
                // Both records of the uncompressed size: the local header's and the central one's.
                const qsizetype central = archive.lastIndexOf("PK\x01\x02");
                const qsizetype local = archive.indexOf("PK\x03\x04", archive.indexOf("all fine"));
                archive[central + 24] = char(archive[central + 24] + 1);
                archive[local + 22] = char(archive[local + 22] + 1);
            }
            if (damage == "flip"_L1) {
                const qsizetype at = archive.indexOf(textBytes(64), archive.indexOf("bad.txt")) + 150000;
                archive[at] = char(archive[at] ^ 0x20);
            }
        } else if (damage.startsWith("deflated"_L1)) {
            writeFile(at(u"data.txt"_s), textBytes(3 << 20));
            QVERIFY(pnvzip::zipFile(at(u"data.txt"_s), at(u"plain.zip"_s)).ok());
            archive = readFile(at(u"plain.zip"_s));
            if (damage == "deflated crc"_L1) {
                // Both records of the CRC: the local header's and the central one's.
                for (qsizetype header : {archive.indexOf("PK\x03\x04"), archive.lastIndexOf("PK\x01\x02")})
                    archive[header + (archive[header + 2] == 3 ? 14 : 16)] ^= 0x01;
            } else {
                archive[archive.size() * 2 / 3] ^= 0x10;
            }
        } else {
            writeFile(at(u"data.txt"_s), textBytes(400000));
            QVERIFY(pnvzip::zipFile(at(u"data.txt"_s), at(u"plain.zip"_s)).ok());
            archive = readFile(at(u"plain.zip"_s));
            if (damage == "half"_L1)
                archive.truncate(archive.size() / 2);
            else if (damage == "tail"_L1)
                archive.chop(10);
            else
                archive.replace(archive.size() / 2, 64, QByteArray(64, '\xff'));
        }
        writeFile(at(u"damaged.zip"_s), archive);
        ScriptedQuery query;
        const ZipResult result = pnvzip::unzipFile(at(u"damaged.zip"_s), folder(u"out"_s), &query);
        for (const ScriptedQuery::Progress &p : std::as_const(query.progressSeen))
            QVERIFY2(p.total >= 0 && p.done >= 0, qPrintable(QString::number(p.total)));
        QVERIFY2(numbers.contains(result.number), qPrintable(QString::number(result.number) + QChar(' ') + result.text));
        QCOMPARE(tree(at(u"out"_s)), kept);
        QVERIFY2(result.text.contains(kept.isEmpty() ? u"Nothing was extracted"_s : u"extracted before the error was kept"_s),
                 qPrintable(result.text));
        if (damage.startsWith("overlap"_L1))
            QVERIFY2(result.text.contains(u"share their data in the file (their data overlaps)"_s), qPrintable(result.text));
    }

    // Records that differ in ways that change no extracted byte, as other tools accept them.
    void unzipOpensLenientRecords_data()
    {
        QTest::addColumn<QByteArray>("localExtra");
        QTest::addColumn<QByteArray>("centralExtra");
        QTest::addColumn<int>("commentOverrun");
        QTest::addColumn<bool>("timeKept"); // the 0x5455 time survives
        const QByteArray time = QByteArray::fromHex("5554050001") + le32(FixedTime);
        const QByteArray times = QByteArray::fromHex("5554090003") + le32(FixedTime) + le32(FixedTime);
        const QByteArray unixIds = QByteArray::fromHex("75780b000104e803000004e8030000");
        QTest::newRow("local extra padded") << time + "\x01\x02\x03" << time << 0 << true;
        QTest::newRow("central extra padded") << time << time + "\x07\x08" << 0 << true;
        QTest::newRow("both padded, differently") << time + "\x01" << time + "\x01\x02\x03" << 0 << true;
        QTest::newRow("padding alone") << QByteArray("\x01\x02") << QByteArray("\x01\x02") << 0 << false;
        QTest::newRow("fields only in the local header") << times + unixIds << QByteArray() << 0 << true;
        QTest::newRow("fields only in the central header") << QByteArray() << time + unixIds << 0 << true;
        QTest::newRow("field sizes disagree") << times << time << 0 << true;
        QTest::newRow("central field runs past its block") << time << time + QByteArray::fromHex("5554090001abcd") << 0 << true;
        QTest::newRow("archive comment length past the end") << time << time << 20 << true;
    }
    void unzipOpensLenientRecords()
    {
        QFETCH(QByteArray, localExtra);
        QFETCH(QByteArray, centralExtra);
        QFETCH(int, commentOverrun);
        QFETCH(bool, timeKept);
        RawZip zip;
        zip.add("first.txt", "before");
        RawZip::Entry e;
        e.name = "docs/odd.txt";
        e.data = textBytes(70000);
        e.extra = localExtra;
        e.centralExtra = centralExtra;
        zip.add(e);
        zip.add("last.txt", "after");
        zip.comment = "hi";
        zip.commentOverrun = commentOverrun;
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), (QStringList{u"docs/"_s, u"docs/odd.txt"_s, u"first.txt"_s, u"last.txt"_s}));
        QCOMPARE(readFile(at(u"out/docs/odd.txt"_s)), e.data);
        QCOMPARE(readFile(at(u"out/last.txt"_s)), QByteArray("after"));
        if (timeKept)
            QCOMPARE(mtimeSecs(at(u"out/docs/odd.txt"_s)), FixedTime);
    }

    void unzipWriteFailureLeavesNoHalfFile()
    {
        RawZip zip;
        zip.add("small.txt", "small");
        zip.add("big.bin", randomBytes(1 << 20, 3));
        zip.save(at(u"a.zip"_s));
        const QString out = folder(u"out"_s);
        ZipResult result;
        {
            FileSizeLimit limit(100 * 1024);
            result = pnvzip::unzipFile(at(u"a.zip"_s), out);
        }
        QCOMPARE(result.number, int(pnvzip::WriteFailed));
        QVERIFY2(result.text.contains(u"big.bin"_s), qPrintable(result.text));
        QCOMPARE(tree(out), QStringList{u"small.txt"_s});
        QCOMPARE(readFile(out + u"/small.txt"_s), QByteArray("small"));
    }

    void unzipReportsProgressAndStops_data()
    {
        QTest::addColumn<qint64>("cancelAt"); // bytes; -1: never
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("to the end") << qint64(-1) << QStringList{"a.txt", "b.bin", "c.bin", "sub/", "sub/d.txt"};
        QTest::newRow("inside a large entry") << qint64(6 << 20) << QStringList{"a.txt", "b.bin", "sub/"};
        QTest::newRow("at the first entry") << qint64(0) << QStringList();
    }
    void unzipReportsProgressAndStops()
    {
        QFETCH(qint64, cancelAt);
        QFETCH(QStringList, kept);
        RawZip zip;
        const QList<QPair<QByteArray, QByteArray>> entries{
            {"a.txt", textBytes(1 << 20)}, {"b.bin", randomBytes(1 << 20, 1)}, {"sub/", QByteArray()},
            {"c.bin", randomBytes(12 << 20, 2)}, {"sub/d.txt", "small"}};
        qint64 total = 0;
        for (const auto &[name, data] : entries) {
            zip.add(name, data, name.endsWith('/') ? 040755 : 0100644);
            total += data.size();
        }
        zip.save(at(u"a.zip"_s));
        ScriptedQuery query;
        query.cancelAt = cancelAt;
        const ZipResult result = pnvzip::unzipFile(at(u"a.zip"_s), folder(u"out"_s), &query);
        QCOMPARE(tree(at(u"out"_s)), kept);
        for (const auto &[name, data] : entries) {
            if (kept.contains(QString::fromUtf8(name)) && !name.endsWith('/'))
                QCOMPARE(readFile(at(u"out/"_s + QString::fromUtf8(name))), data);
        }
        QVERIFY(!query.progressSeen.isEmpty());
        QCOMPARE(query.progressSeen.first().total, total);
        if (cancelAt < 0) {
            QVERIFY2(result.ok(), qPrintable(result.text));
            QVERIFY2(query.progressProblem().isEmpty(), qPrintable(query.progressProblem()));
            // Each entry is named as it starts, and the large one in steps within it.
            QStringList named;
            for (const ScriptedQuery::Progress &p : std::as_const(query.progressSeen)) {
                if (named.isEmpty() || named.last() != p.entry)
                    named << p.entry;
            }
            QCOMPARE(named, (QStringList{"a.txt", "b.bin", "sub/", "c.bin", "sub/d.txt"}));
            QVERIFY(query.progressSeen.size() >= 7);
        } else {
            QCOMPARE(result.number, int(pnvzip::Cancelled));
            QVERIFY2(result.text.contains(kept.isEmpty() ? u"Nothing was extracted"_s : u"before the cancel were kept"_s),
                     qPrintable(result.text));
            QVERIFY(query.progressSeen.last().done < total);
        }
    }

    // ---- UnzipFile: attributes and the report -----------------------------------------

    void unzipSanitisesPermissions_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<quint32>("mode");
        QTest::addColumn<int>("expected"); // before the umask
        QTest::newRow("rw-r--r--") << QByteArray("a") << 0100644u << 0644;
        QTest::newRow("set-user-ID dropped") << QByteArray("a") << 0104755u << 0755;
        QTest::newRow("set-group-ID dropped") << QByteArray("a") << 0102755u << 0755;
        QTest::newRow("sticky dropped") << QByteArray("a") << 0101777u << 0777;
        QTest::newRow("private") << QByteArray("a") << 0100600u << 0600;
        QTest::newRow("owner can always read") << QByteArray("a") << 0100044u << 0444;
        QTest::newRow("none recorded") << QByteArray("a") << 0u << 0666;
        QTest::newRow("folder rwx------") << QByteArray("d/") << 040700u << 0700;
        QTest::newRow("folder r-xr-xr-x stays usable") << QByteArray("d/") << 040555u << 0755;
        QTest::newRow("folder set-group-ID dropped") << QByteArray("d/") << 042775u << 0775;
    }
    void unzipSanitisesPermissions()
    {
        QFETCH(QByteArray, name);
        QFETCH(quint32, mode);
        QFETCH(int, expected);
        RawZip zip;
        zip.add(name, name.endsWith('/') ? QByteArray() : QByteArray("data"), mode);
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        const int owner = name.endsWith('/') ? 0700 : 0400;
        QCOMPARE(QString::number(permissions(at(u"out/"_s + QString::fromUtf8(name))), 8),
                 QString::number(masked(expected) | owner, 8));
    }

    void unzipSummarisesLongLists()
    {
        writeFile(at(u"out/f005.txt"_s), "already here");
        RawZip zip;
        for (int i = 0; i < 150; ++i)
            zip.add(u"f%1.txt"_s.arg(i, 3, 10, QChar('0')).toUtf8(), QByteArray::number(i));
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)).size(), 151);
        QVERIFY2(result.text.startsWith(u"Extracted 150 files from "_s), qPrintable(result.text));
        QVERIFY(result.text.contains(u"… and 140 more."_s));
        QVERIFY(!result.text.contains(u"f149.txt"_s));
        QVERIFY(result.text.contains(u"1 item was saved under a new name"_s));
        QVERIFY(result.text.contains(u"f005 (2).txt"_s));
        QVERIFY(result.text.count(QChar('\n')) < 20);
    }
};

QTEST_GUILESS_MAIN(TestZipEngine)
#include "tst_zipengine.moc"
