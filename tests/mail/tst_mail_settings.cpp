// The property bag, the settings file around it and the choice of its folder.

#include "apperror.h"
#include "programfolder.h"
#include "propertybag.h"
#include "settingsfile.h"
#include "settingslocation.h"
#include "testenv.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <cmath>
#include <limits>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

int errorNumberOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const AppError &error) {
        return error.number();
    }
    return 0;
}

PropertyBag everyType()
{
    PropertyBag bag;
    bag.writeProperty("Server", QStringLiteral("smtp.example.org:587"));
    bag.writeProperty("Empty", QString());
    bag.writeProperty("Unicode", QStringLiteral("Grüße \u65e5\u672c \U0001F600\r\nline two"));
    bag.writeProperty("Type", qint16(-32768));
    bag.writeProperty("Width", qint32(2147483647));
    bag.writeProperty("Zoom", 1.25f);
    bag.writeProperty("Bold", true);
    bag.writeProperty("Italic", false);
    bag.writeProperty("Price", Currency::fromDouble(-1234.5678));
    return bag;
}

} // namespace

class TestMailSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    // The bag
    void everyTypeSurvivesTheByteForm();
    void extremeValuesSurvive();
    void rewritingANameKeepsItsPlace();
    void missingOrOtherTypeLeavesTheFieldAlone();
    void integerWidthsReadAsEachOtherWhenTheyFit();
    void badNamesAreRefused();
    void currencyRoundsAndPrints();
    void everyTruncationKeepsWhatCameBefore();
    void damagedEntries_data();
    void damagedEntries();
    void randomBytesNeverCrash();

    // The file
    void fileLayoutIsExact();
    void shorterSaveLeavesNothingOfTheLonger();
    void missingFileIsCreatedEmptyAndPrivate();
    void writeMakesAnOpenFilePrivate();
    void badFiles_data();
    void badFiles();

    // The folder
    void writableProgramFolderHoldsTheFiles();
    void readOnlyProgramFolderUsesThePerUserFolder();
    void administratorDefaultsAreReadUntilTheFirstSave();
    void missingProgramFolderCountsAsNotWritable();
};

void TestMailSettings::cleanup()
{
    SettingsLocation::setWritableCheck({});
    ProgramFolder::setOverride(QString());
    QDir(SettingsLocation::userFolder()).removeRecursively();
}

void TestMailSettings::everyTypeSurvivesTheByteForm()
{
    const PropertyBag written = everyType();
    PropertyBag read;
    QVERIFY(read.setContents(written.contents()));
    QCOMPARE(read.names(), written.names());
    for (const QString &name : written.names())
        QVERIFY2(*read.value(name) == *written.value(name), qPrintable(name));

    QString text;
    QVERIFY(read.readText("Unicode", &text));
    QCOMPARE(text, QStringLiteral("Grüße \u65e5\u672c \U0001F600\r\nline two"));
    QVERIFY(read.readText("Empty", &text));
    QVERIFY(text.isEmpty());
    qint16 type = 0;
    QVERIFY(read.readInt16("Type", &type));
    QCOMPARE(type, qint16(-32768));
    float zoom = 0;
    QVERIFY(read.readFloat("Zoom", &zoom));
    QCOMPARE(zoom, 1.25f);
    bool bold = false, italic = true;
    QVERIFY(read.readBool("Bold", &bold) && read.readBool("Italic", &italic));
    QVERIFY(bold && !italic);
    Currency price;
    QVERIFY(read.readCurrency("Price", &price));
    QCOMPARE(price.scaled, qint64(-12345678));
}

void TestMailSettings::extremeValuesSurvive()
{
    PropertyBag bag;
    bag.writeProperty("nan", std::numeric_limits<float>::quiet_NaN());
    bag.writeProperty("inf", -std::numeric_limits<float>::infinity());
    bag.writeProperty("tiny", std::numeric_limits<float>::denorm_min());
    bag.writeProperty("cmin", Currency::fromScaled(std::numeric_limits<qint64>::min()));
    bag.writeProperty("imin", qint32(std::numeric_limits<qint32>::min()));
    bag.writeProperty(QStringLiteral("\uFEFFbom"), QStringLiteral("\uFEFFstarts with a byte-order mark"));
    bag.writeProperty(QString(PropertyBag::MaxNameBytes, QLatin1Char('n')), QString(100000, QChar(0x20AC)));
    PropertyBag read;
    QVERIFY(read.setContents(bag.contents()));
    float f = 0;
    QVERIFY(read.readFloat("nan", &f) && std::isnan(f));
    QVERIFY(read.readFloat("inf", &f) && std::isinf(f) && f < 0);
    QVERIFY(read.readFloat("tiny", &f) && f == std::numeric_limits<float>::denorm_min());
    QString bom;
    QVERIFY(read.readText(QStringLiteral("\uFEFFbom"), &bom));
    QCOMPARE(bom, QStringLiteral("\uFEFFstarts with a byte-order mark"));
    Currency c;
    QVERIFY(read.readCurrency("cmin", &c));
    QCOMPARE(c.scaled, std::numeric_limits<qint64>::min());
    QString long_;
    QVERIFY(read.readText(QString(PropertyBag::MaxNameBytes, QLatin1Char('n')), &long_));
    QCOMPARE(long_, QString(100000, QChar(0x20AC)));
}

void TestMailSettings::rewritingANameKeepsItsPlace()
{
    PropertyBag bag;
    bag.writeProperty("A", 1);
    bag.writeProperty("B", 2);
    bag.writeProperty("A", QStringLiteral("now text"));
    QCOMPARE(bag.names(), (QStringList{"A", "B"}));
    QString text;
    QVERIFY(bag.readText("A", &text));
    QCOMPARE(text, QStringLiteral("now text"));
    // Names are exact: a different case is another name.
    QVERIFY(!bag.contains("a"));
    QVERIFY(bag.remove("A"));
    QCOMPARE(bag.names(), QStringList{"B"});
}

void TestMailSettings::missingOrOtherTypeLeavesTheFieldAlone()
{
    PropertyBag bag;
    QVERIFY(bag.setContents(everyType().contents()));
    QString text = QStringLiteral("keep");
    QVERIFY(!bag.readText("Nothing", &text));
    QVERIFY(!bag.readText("Type", &text));
    QCOMPARE(text, QStringLiteral("keep"));
    qint16 small = 7;
    QVERIFY(!bag.readInt16("Server", &small));
    QVERIFY(!bag.readInt16("Zoom", &small));
    QCOMPARE(small, qint16(7));
    bool flag = true;
    QVERIFY(!bag.readBool("Type", &flag));
    QVERIFY(flag);
    Currency c = Currency::fromScaled(5);
    QVERIFY(!bag.readCurrency("Width", &c));
    QCOMPARE(c.scaled, qint64(5));
    float f = 2;
    QVERIFY(!bag.readFloat("Width", &f));
    QCOMPARE(f, 2.0f);
}

void TestMailSettings::integerWidthsReadAsEachOtherWhenTheyFit()
{
    PropertyBag bag;
    bag.writeProperty("small", qint16(-5));
    bag.writeProperty("fits", qint32(32767));
    bag.writeProperty("big", qint32(32768));
    qint32 wide = 0;
    QVERIFY(bag.readInt32("small", &wide));
    QCOMPARE(wide, -5);
    qint16 narrow = 0;
    QVERIFY(bag.readInt16("fits", &narrow));
    QCOMPARE(narrow, qint16(32767));
    narrow = 1;
    QVERIFY(!bag.readInt16("big", &narrow));
    QCOMPARE(narrow, qint16(1));
}

void TestMailSettings::badNamesAreRefused()
{
    PropertyBag bag;
    QCOMPARE(errorNumberOf([&] { bag.writeProperty(QString(), 1); }), 5);
    QCOMPARE(errorNumberOf([&] { bag.writeProperty(QString(PropertyBag::MaxNameBytes / 2 + 1, QChar(0xE9)), 1); }), 5);
    QVERIFY(bag.isEmpty());
    // A text given as a C string stays a text (and does not turn into a boolean).
    bag.writeProperty("c", "plain");
    QString text;
    QVERIFY(bag.readText("c", &text));
    QCOMPARE(text, QStringLiteral("plain"));
}

void TestMailSettings::currencyRoundsAndPrints()
{
    QCOMPARE(Currency::fromDouble(0.00005).scaled, qint64(1));
    QCOMPARE(Currency::fromDouble(-2.5).toString(), QStringLiteral("-2.5000"));
    QCOMPARE(Currency::fromDouble(1e30).scaled, std::numeric_limits<qint64>::max());
    QCOMPARE(Currency::fromScaled(std::numeric_limits<qint64>::min()).toString(),
             QStringLiteral("-922337203685477.5808"));
    QCOMPARE(Currency::fromDouble(std::nan("")).scaled, qint64(0));
}

void TestMailSettings::everyTruncationKeepsWhatCameBefore()
{
    const PropertyBag written = everyType();
    const QByteArray block = written.contents();
    // Find where each entry ends by writing the bag one entry at a time.
    QList<qsizetype> entryEnds;
    PropertyBag growing;
    for (const QString &name : written.names()) {
        growing.writeProperty(name, *written.value(name));
        entryEnds << growing.contents().size();
    }
    for (qsizetype cut = 0; cut < block.size(); ++cut) {
        PropertyBag read;
        QVERIFY(!read.setContents(block.left(cut)));
        int complete = 0;
        while (complete < entryEnds.size() && entryEnds.at(complete) <= cut)
            ++complete;
        QCOMPARE(read.count(), complete);
        for (int i = 0; i < complete; ++i)
            QVERIFY(*read.value(written.names().at(i)) == *written.value(written.names().at(i)));
    }
}

void TestMailSettings::damagedEntries_data()
{
    // A bag of two texts, "A" = "aa" then "B" = "bb", with one field damaged.
    PropertyBag bag;
    bag.writeProperty("A", QStringLiteral("aa"));
    bag.writeProperty("B", QStringLiteral("bb"));
    const QByteArray good = bag.contents();
    // Offsets: signature 0-4, count 5-8; entry A: type 9, name length 10-11, "A" 12, text
    // length 13-16, "aa" 17-18; entry B: type 19, name length 20-21, "B" 22, text length 23-26.
    auto with = [&](qsizetype at, QByteArray bytes) { return QByteArray(good).replace(at, bytes.size(), bytes); };

    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QStringList>("readable");
    QTest::newRow("intact") << good << QStringList{"A", "B"};
    QTest::newRow("wrong signature") << with(0, "X") << QStringList{};
    QTest::newRow("other version") << with(4, QByteArray(1, 2)) << QStringList{};
    QTest::newRow("huge count") << with(5, QByteArray("\xff\xff\xff\xff", 4)) << QStringList{"A", "B"};
    QTest::newRow("count one") << with(5, QByteArray("\x01\0\0\0", 4)) << QStringList{"A"};
    QTest::newRow("huge text length") << with(23, QByteArray("\xff\xff\xff\x7f", 4)) << QStringList{"A"};
    QTest::newRow("huge name length") << with(20, QByteArray("\xff\xff", 2)) << QStringList{"A"};
    QTest::newRow("unknown type") << with(19, QByteArray(1, 9)) << QStringList{"A"};
    QTest::newRow("text not UTF-8") << with(17, "\xc3\x28") << QStringList{"B"};
    QTest::newRow("name not UTF-8") << with(12, "\xff") << QStringList{"B"};
    QTest::newRow("repeated name") << with(22, "A") << QStringList{"A"};

    PropertyBag flags;
    flags.writeProperty("F", true);
    flags.writeProperty("G", false);
    QByteArray badBool = flags.contents();
    badBool[9 + 1 + 2 + 1] = 2; // neither 0 nor 1
    QTest::newRow("boolean byte 2") << badBool << QStringList{"G"};
}

void TestMailSettings::damagedEntries()
{
    QFETCH(QByteArray, block);
    QFETCH(QStringList, readable);
    PropertyBag bag;
    bag.writeProperty("stale", 1);
    bag.setContents(block);
    QCOMPARE(bag.names(), readable);
}

void TestMailSettings::randomBytesNeverCrash()
{
    QRandomGenerator random(20241208);
    const QByteArray good = everyType().contents();
    for (int round = 0; round < 3000; ++round) {
        QByteArray block;
        if (round % 2) {
            block = good;
            for (int flips = random.bounded(1, 6); flips > 0; --flips)
                block[random.bounded(int(block.size()))] = char(random.bounded(256));
        } else {
            block.resize(random.bounded(0, 200));
            for (char &c : block)
                c = char(random.bounded(256));
            if (round % 4 == 0)
                block.prepend(QByteArray("PBag\x01", 5));
        }
        PropertyBag bag;
        bag.setContents(block);
        QVERIFY(bag.count() <= 9);
        // Whatever was read survives a second round trip unchanged.
        PropertyBag again;
        QVERIFY(again.setContents(bag.contents()));
        QCOMPARE(again.names(), bag.names());
    }
}

void TestMailSettings::fileLayoutIsExact()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("x.set");
    SettingsFile::write(path, QByteArray("abc"));
    QCOMPARE(fileBytes(path), QByteArray("\x11\x20\x01\x00\x03\x00\x00\x00\x00\x00\x00\x00" "abc", 15));
    QCOMPARE(SettingsFile::read(path), QByteArray("abc"));
}

void TestMailSettings::shorterSaveLeavesNothingOfTheLonger()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Parcelo_Mail.set");
    PropertyBag longer;
    longer.writeProperty("Server", QStringLiteral("a.very.long.server.name.example.org"));
    longer.writeProperty("Password", QStringLiteral("a long password"));
    SettingsFile::write(path, longer.contents());
    const qint64 longSize = QFileInfo(path).size();

    PropertyBag shorter;
    shorter.writeProperty("Server", QStringLiteral("s"));
    SettingsFile::write(path, shorter.contents());
    const QByteArray bytes = fileBytes(path);
    QVERIFY(bytes.size() < longSize);
    QCOMPARE(bytes, SettingsFile::wrap(shorter.contents())); // the file ends where the new content ends
    QCOMPARE(QFile::permissions(path) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    PropertyBag read;
    QVERIFY(read.setContents(SettingsFile::read(path)));
    QCOMPARE(read.names(), QStringList{"Server"});
    QString server;
    QVERIFY(read.readText("Server", &server));
    QCOMPARE(server, QStringLiteral("s"));
}

void TestMailSettings::missingFileIsCreatedEmptyAndPrivate()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("new.set");
    QVERIFY(SettingsFile::read(path).isEmpty());
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(QFile::permissions(path) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // An empty file reads as an empty block, not as an error.
    QVERIFY(SettingsFile::read(path).isEmpty());

    const QString written = dir.filePath("written.set");
    SettingsFile::write(written, QByteArray("x"));
    QCOMPARE(QFile::permissions(written) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestMailSettings::writeMakesAnOpenFilePrivate()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.set");
    putFile(path, "");
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                    | QFileDevice::ReadOther);
    SettingsFile::write(path, QByteArray("secret"));
    QCOMPARE(QFile::permissions(path) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void TestMailSettings::badFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("error");
    const QByteArray good = SettingsFile::wrap("abcd");
    QTest::newRow("few random bytes") << QByteArray("\x07\x99\x13", 3) << 62;
    QTest::newRow("header only, block missing") << good.left(12) << 62;
    QTest::newRow("block cut short") << good.left(14) << 62;
    QTest::newRow("other tag") << QByteArray(good).replace(0, 2, "\x08\x20") << 321;
    QTest::newRow("two dimensions") << QByteArray(good).replace(2, 1, "\x02") << 321;
    QTest::newRow("lower bound 1") << QByteArray(good).replace(8, 1, "\x01") << 321;
    QTest::newRow("count of 4 GiB") << QByteArray(good).replace(4, 4, "\xff\xff\xff\xff") << 321;
    QByteArray justOverLimit = good;
    qToLittleEndian<quint32>(quint32(SettingsFile::MaxBlockSize + 1), justOverLimit.data() + 4);
    QTest::newRow("count over the limit") << justOverLimit << 321;
    QTest::newRow("text file") << QByteArray("Server=smtp.example.org\n") << 321;
    QTest::newRow("tail is ignored") << good + QByteArray(1000, '\xee') << 0;
}

void TestMailSettings::badFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, error);
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.set");
    putFile(path, bytes);
    QByteArray block;
    QCOMPARE(errorNumberOf([&] { block = SettingsFile::read(path); }), error);
    if (error == 0)
        QCOMPARE(block, QByteArray("abcd"));
    QCOMPARE(fileBytes(path), bytes); // reading never changes the file
}

void TestMailSettings::writableProgramFolderHoldsTheFiles()
{
    QTemporaryDir program;
    ProgramFolder::setOverride(program.path());
    QVERIFY(SettingsLocation::programFolderWritable());
    QCOMPARE(SettingsLocation::forReading("TextEditor.set"), program.filePath("TextEditor.set"));
    QCOMPARE(SettingsLocation::forWriting("TextEditor.set"), program.filePath("TextEditor.set"));
    // The per-user file is not consulted while the program's folder is writable.
    QDir().mkpath(SettingsLocation::userFolder());
    putFile(QDir(SettingsLocation::userFolder()).filePath("TextEditor.set"), SettingsFile::wrap("u"));
    QCOMPARE(SettingsLocation::forReading("TextEditor.set"), program.filePath("TextEditor.set"));
}

void TestMailSettings::readOnlyProgramFolderUsesThePerUserFolder()
{
    // Tests run as root, for whom every folder is writable: the check is replaced.
    QTemporaryDir program;
    ProgramFolder::setOverride(program.path());
    QStringList asked;
    SettingsLocation::setWritableCheck([&](const QString &folder) {
        asked << folder;
        return false;
    });
    const QString user = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("Orvanne");
    QCOMPARE(SettingsLocation::userFolder(), user);
    QVERIFY(!QFileInfo::exists(user));

    const QString readPath = SettingsLocation::forReading("Parcelo_Mail.set");
    QCOMPARE(readPath, user + "/Parcelo_Mail.set");
    QVERIFY(asked.contains(QDir::cleanPath(program.path())));
    // The folder is made, private, so that reading can create the file there.
    QVERIFY(QFileInfo(user).isDir());
    QCOMPARE(QFile::permissions(user) & 0x7077,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(SettingsFile::read(readPath).isEmpty());
    QVERIFY(QFileInfo(readPath).isFile());
    QVERIFY(!QFileInfo::exists(program.filePath("Parcelo_Mail.set")));
    QCOMPARE(SettingsLocation::forWriting("Parcelo_Mail.set"), readPath);
}

void TestMailSettings::administratorDefaultsAreReadUntilTheFirstSave()
{
    QTemporaryDir program;
    ProgramFolder::setOverride(program.path());
    SettingsLocation::setWritableCheck([](const QString &) { return false; });
    const QString beside = program.filePath("Parcelo_Mail.set");
    PropertyBag defaults;
    defaults.writeProperty("Server", QStringLiteral("mail.corp.example"));
    putFile(beside, SettingsFile::wrap(defaults.contents()));

    QCOMPARE(SettingsLocation::forReading("Parcelo_Mail.set"), beside);
    const QString target = SettingsLocation::forWriting("Parcelo_Mail.set");
    QCOMPARE(target, SettingsLocation::userFolder() + "/Parcelo_Mail.set");
    SettingsFile::write(target, QByteArray("mine"));
    QCOMPARE(SettingsLocation::forReading("Parcelo_Mail.set"), target);
    QCOMPARE(fileBytes(beside), SettingsFile::wrap(defaults.contents())); // untouched
}

void TestMailSettings::missingProgramFolderCountsAsNotWritable()
{
    // Without the replaced check: a program folder that is not a folder at all.
    QTemporaryDir scratch;
    const QString notAFolder = scratch.filePath("program-file");
    putFile(notAFolder, "x");
    ProgramFolder::setOverride(notAFolder);
    QVERIFY(!SettingsLocation::programFolderWritable());
    QCOMPARE(SettingsLocation::forWriting("TextEditor.set"), SettingsLocation::userFolder() + "/TextEditor.set");
    ProgramFolder::setOverride(scratch.filePath("does/not/exist"));
    QVERIFY(!SettingsLocation::programFolderWritable());
}

PARCELO_TEST_MAIN(TestMailSettings)
#include "tst_mail_settings.moc"
