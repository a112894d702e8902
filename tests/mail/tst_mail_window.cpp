// The mail window and its two dialogs driven through their widgets, with scripted message
// boxes and file dialogs; sends go to a real aiosmtpd on 127.0.0.1.

#include "frmAddAttachment.h"
#include "frmAddCustomHeader.h"
#include "frmMail.h"
#include "mailpeers.h"
#include "mailsender.h"
#include "programfolder.h"
#include "propertybag.h"
#include "scriptedui.h"
#include "settingsfile.h"
#include "settingslocation.h"
#include "testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QStringList rows(QTreeWidget *list)
{
    QStringList result;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c)
            cells << list->topLevelItem(i)->text(c);
        result << cells.join('|');
    }
    return result;
}

// Runs action on the dialog of that class once it is shown (modal, so from the event loop),
// then closes the dialog if the action left it open.
template<typename Dialog>
void whenShown(std::function<void(Dialog *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *d = qobject_cast<Dialog *>(w); d && d->isVisible()) {
                timer->stop();
                timer->deleteLater();
                action(d);
                if (d->isVisible()) // the action ended early (a failed check): do not hang
                    d->reject();
                return;
            }
        }
    });
    timer->start();
}

// While it lives, this thread lacks the capabilities that let root read any file.
class WithoutReadOverride
{
public:
    WithoutReadOverride()
    {
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutReadOverride()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

} // namespace

class TestMailWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void opensWithItsDesign();
    void firstOpeningCreatesTheFileAndStoresHints();
    void settingsComeBackButAlwaysNone();
    void shorterSettingsLeaveNothingOfTheLonger();
    void foreignFileKeepsInitialContents();
    void unwritableProgramFolderKeepsSettingsPerUser();
    void requiredFields_data();
    void requiredFields();
    void blankSubjectAndTextAsk();
    void logInValuesHandedOver_data();
    void logInValuesHandedOver();
    void sendsTheRowsAndShowsStatus();
    void errorsGoToTheStatusBox();
    void sendDuringSendKeepsItsLines();
    void enterSends();
    void removeTakesTheSelectedRow();
    void operationsForOtherWindows();
    void attachmentDialog();
    void attachmentDialogRefusals_data();
    void attachmentDialogRefusals();
    void attachmentDialogBrowse();
    void headerDialog();

private:
    frmMail *window();
    template<typename T> T *child(const char *name) { return window()->findChild<T *>(QLatin1String(name)); }
    QString settingsPath() const { return QDir(m_program.path()).filePath("Parcelo_Mail.set"); }
    void closeWindow();

    std::unique_ptr<ScriptedUi> ui;
    QTemporaryDir m_program;
    QTemporaryDir m_files;
    std::unique_ptr<MailPeer> m_peer;
    QString m_inbox;
};

void TestMailWindow::initTestCase()
{
    m_inbox = m_files.filePath("inbox");
    m_peer = MailPeer::smtp(m_inbox);
    QVERIFY2(m_peer->isReady(), qPrintable(m_peer->errors()));
}

void TestMailWindow::cleanupTestCase()
{
    m_peer.reset();
}

void TestMailWindow::init()
{
    ProgramFolder::setOverride(m_program.path());
    QFile::remove(settingsPath());
    ui = std::make_unique<ScriptedUi>();
}

void TestMailWindow::cleanup()
{
    delete frmMail::existing(); // without the closing steps, as when the program ends at once
    QVERIFY(!frmMail::existing());
    SettingsLocation::setWritableCheck({});
    ProgramFolder::setOverride(QString());
    ui.reset();
}

frmMail *TestMailWindow::window()
{
    frmMail *w = frmMail::instance();
    if (!w->isVisible())
        w->show();
    return w;
}

void TestMailWindow::closeWindow()
{
    QPointer<frmMail> w = frmMail::existing();
    w->close();
    QTRY_VERIFY(w.isNull()); // deleted on close
    QVERIFY(!frmMail::existing());
}

void TestMailWindow::opensWithItsDesign()
{
    frmMail *w = window();
    QCOMPARE(w->windowTitle(), QString("E-Mail     https://www.orvanne.com"));
    QCOMPARE(frmMail::open(), w); // one window
    struct Field { const char *name; QString text; QString tip; };
    const Field fields[] = {
        {"txtServer", "localhost [server name]", "Server name"},
        {"txtMailFrom", "me@example.com [sender mail]", "Sender mail"},
        {"txtSendTo", "you@example.com [receiver mail]", "Receiver"},
        {"txtCC", "", ""}, {"txtBCC", "", ""}, {"txtMessageSubject", "subject", ""},
        {"txtUsername", "", "User name"}, {"txtPassword", "", "password"}, {"txtPOPServer", "", "Pop server"}};
    for (const Field &f : fields) {
        QCOMPARE(child<QLineEdit>(f.name)->text(), f.text);
        QCOMPARE(child<QLineEdit>(f.name)->toolTip(), f.tip);
    }
    QCOMPARE(child<QPlainTextEdit>("txtMessageText")->toPlainText(), QString("Plain text message\n"));
    QCOMPARE(child<QPlainTextEdit>("txtMessageHTML")->toPlainText(), QString("HTML message\n"));
    QCOMPARE(child<QPlainTextEdit>("txtStatus")->toPlainText(), QString("Status\n"));
    QCOMPARE(child<QPlainTextEdit>("txtStatus")->toolTip(), QString("Status"));
    QCOMPARE(child<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Password);
    auto *auth = child<QComboBox>("cmbAuth");
    QVERIFY(!auth->isEditable());
    QCOMPARE(auth->count(), 4);
    QCOMPARE(QStringList({auth->itemText(0), auth->itemText(1), auth->itemText(2), auth->itemText(3)}),
             (QStringList{"None", "POP", "Login", "Plain"}));
    QCOMPARE(auth->currentIndex(), 0);
    QCOMPARE(auth->toolTip(), QString("Server type"));
    auto *send = child<QPushButton>("cmdSend");
    QCOMPARE(send->text(), QString("it now!"));
    QCOMPARE(send->toolTip(), QString("Send message now!"));
    QVERIFY(send->isDefault());
    QCOMPARE(child<QTreeWidget>("lvwAttachments")->headerItem()->text(3), QString("Encoding"));
    QCOMPARE(child<QTreeWidget>("lvwAttachments")->columnCount(), 4);
    QCOMPARE(child<QTreeWidget>("lvwAttachments")->toolTip(), QString("Attachment(s)"));
    QCOMPARE(child<QTreeWidget>("lvwCustomHeaders")->headerItem()->text(0), QString("Header"));
    QCOMPARE(child<QTreeWidget>("lvwCustomHeaders")->toolTip(), QString("Optional custom header"));
    QCOMPARE(child<QPushButton>("cmdRemoveCustomHeader")->toolTip(), QString("Remove header"));
    const QStringList labels{"Server", "MailFrom", "SendTo", "CC", "BCC", "Subject", "Message Text",
                             "Message HTML", "Status", "Type", "Username", "Password", "POP Server"};
    QStringList shown;
    for (QLabel *l : w->findChildren<QLabel *>())
        shown << l->text();
    for (const QString &l : labels)
        QVERIFY2(shown.contains(l), qPrintable(l));

    // Focus starts in the server field; tab order through the fourteen, then the lists.
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QCOMPARE(w->focusWidget(), child<QWidget>("txtServer"));
    QStringList order;
    QWidget *at = child<QWidget>("txtServer");
    for (int i = 0; i < 20; ++i) {
        order << at->objectName();
        do
            at = at->nextInFocusChain();
        while (at->focusPolicy() == Qt::NoFocus || at->objectName().isEmpty() || !at->isVisible());
    }
    QCOMPARE(order, (QStringList{"txtServer", "txtMailFrom", "txtSendTo", "txtCC", "txtBCC", "txtMessageSubject",
                                 "txtMessageText", "txtMessageHTML", "cmdSend", "txtStatus", "cmbAuth",
                                 "txtUsername", "txtPassword", "txtPOPServer", "lvwAttachments", "cmdAdd",
                                 "cmdRemove", "lvwCustomHeaders", "cmdAddCustomHeader", "cmdRemoveCustomHeader"}));
    QVERIFY(ui->messages.isEmpty());
}

void TestMailWindow::firstOpeningCreatesTheFileAndStoresHints()
{
    window();
    QVERIFY(QFileInfo(settingsPath()).isFile());
    QCOMPARE(QFileInfo(settingsPath()).size(), 0);
    QCOMPARE(QFile::permissions(settingsPath()) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    closeWindow();
    PropertyBag bag;
    QVERIFY(bag.setContents(SettingsFile::read(settingsPath())));
    QCOMPARE(bag.names(), (QStringList{"Server", "From", "To", "Type", "UserName", "Password", "PopServer"}));
    QString text;
    QVERIFY(bag.readText("Server", &text));
    QCOMPARE(text, QString("localhost [server name]"));
    QVERIFY(bag.readText("Password", &text));
    QCOMPARE(text, QString());
    qint16 type = -5;
    QVERIFY(bag.readInt16("Type", &type));
    QCOMPARE(type, qint16(0));
    QVERIFY(ui->messages.isEmpty());
}

void TestMailWindow::settingsComeBackButAlwaysNone()
{
    window();
    child<QLineEdit>("txtServer")->setText("  mail.example.org:587 ");
    child<QLineEdit>("txtMailFrom")->setText(QString::fromUtf8("Jörg <j@example.org>"));
    child<QLineEdit>("txtSendTo")->setText("bob@example.org");
    child<QLineEdit>("txtUsername")->setText("ann");
    child<QLineEdit>("txtPassword")->setText("p@ss word");
    child<QLineEdit>("txtPOPServer")->setText("pop.example.org");
    child<QLineEdit>("txtCC")->setText("not stored");
    child<QComboBox>("cmbAuth")->setCurrentIndex(2);
    closeWindow();
    PropertyBag bag;
    bag.setContents(SettingsFile::read(settingsPath()));
    qint16 type = 0;
    QVERIFY(bag.readInt16("Type", &type));
    QCOMPARE(type, qint16(2));

    window();
    QCOMPARE(child<QLineEdit>("txtServer")->text(), QString("  mail.example.org:587 "));
    QCOMPARE(child<QLineEdit>("txtMailFrom")->text(), QString::fromUtf8("Jörg <j@example.org>"));
    QCOMPARE(child<QLineEdit>("txtSendTo")->text(), QString("bob@example.org"));
    QCOMPARE(child<QLineEdit>("txtUsername")->text(), QString("ann"));
    QCOMPARE(child<QLineEdit>("txtPassword")->text(), QString("p@ss word"));
    QCOMPARE(child<QLineEdit>("txtPOPServer")->text(), QString("pop.example.org"));
    QCOMPARE(child<QLineEdit>("txtCC")->text(), QString());
    QCOMPARE(child<QComboBox>("cmbAuth")->currentIndex(), 0);

    // Ending the program without closing the window stores nothing.
    child<QLineEdit>("txtServer")->setText("lost");
    delete frmMail::existing();
    window();
    QCOMPARE(child<QLineEdit>("txtServer")->text(), QString("  mail.example.org:587 "));
}

void TestMailWindow::shorterSettingsLeaveNothingOfTheLonger()
{
    window();
    child<QLineEdit>("txtServer")->setText(QString(300, 's'));
    child<QLineEdit>("txtPassword")->setText("S3cretPass!");
    closeWindow();
    const qint64 longSize = QFileInfo(settingsPath()).size();
    window();
    child<QLineEdit>("txtServer")->setText("s");
    child<QLineEdit>("txtPassword")->setText("x");
    closeWindow();
    // The file ends where the new content ends: nothing of the old password stays in it.
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.size() < longSize);
    QCOMPARE(bytes, SettingsFile::wrap(SettingsFile::read(settingsPath())));
    QVERIFY(!bytes.contains("3cretP"));
    QVERIFY(!bytes.contains(QByteArray(reinterpret_cast<const char *>(u"3cretP"), 12)));
    QCOMPARE(QFile::permissions(settingsPath()) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    window();
    QCOMPARE(child<QLineEdit>("txtServer")->text(), QString("s"));
    QCOMPARE(child<QLineEdit>("txtPassword")->text(), QString("x"));
}

void TestMailWindow::foreignFileKeepsInitialContents()
{
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\x13\x37\xca\xfe\x00\x01", 6);
    file.close();
    window();
    QCOMPARE(child<QLineEdit>("txtServer")->text(), QString("localhost [server name]"));
    QCOMPARE(child<QLineEdit>("txtUsername")->text(), QString());
    QVERIFY(ui->messages.isEmpty());

    // A bag with one damaged name: the others still apply.
    delete frmMail::existing();
    PropertyBag bag;
    bag.writeProperty("Server", QString("good.example.org"));
    bag.writeProperty("From", qint32(5)); // not a text: left alone
    QFile::remove(settingsPath());
    SettingsFile::write(settingsPath(), bag.contents());
    window();
    QCOMPARE(child<QLineEdit>("txtServer")->text(), QString("good.example.org"));
    QCOMPARE(child<QLineEdit>("txtMailFrom")->text(), QString("me@example.com [sender mail]"));
}

void TestMailWindow::unwritableProgramFolderKeepsSettingsPerUser()
{
    SettingsLocation::setWritableCheck([](const QString &) { return false; }); // root can write anywhere
    window();
    child<QLineEdit>("txtServer")->setText("per-user.example.org");
    closeWindow();
    QVERIFY(!QFileInfo::exists(settingsPath()));
    const QString userFile = SettingsLocation::userFolder() + "/Parcelo_Mail.set";
    QVERIFY(QFileInfo(userFile).size() > 12);
    QCOMPARE(QFile::permissions(userFile) & 0x7077, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    window();
    QCOMPARE(child<QLineEdit>("txtServer")->text(), QString("per-user.example.org"));
    delete frmMail::existing();
    QFile::remove(userFile);
}

void TestMailWindow::requiredFields_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("auth");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("server of blanks") << "   " << "a@x.org" << "b@x.org" << 0 << "Enter the server name or IP address" << "txtServer";
    QTest::newRow("all three blank") << "" << "" << "" << 0 << "Enter the server name or IP address" << "txtServer";
    QTest::newRow("sender blank") << "h" << " " << "" << 0 << "Enter the sender e-mail address" << "txtMailFrom";
    QTest::newRow("recipient blank") << "h" << "a@x.org" << "\t" << 0 << "Enter the recipient e-mail address" << "txtSendTo";
    QTest::newRow("POP without POP server") << "h" << "a@x.org" << "b@x.org" << 1 << "POP Authentication requires POP server" << "txtPOPServer";
}

void TestMailWindow::requiredFields()
{
    QFETCH(QString, server);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, auth);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    frmMail *w = window();
    QApplication::setActiveWindow(w);
    child<QLineEdit>("txtServer")->setText(server);
    child<QLineEdit>("txtMailFrom")->setText(from);
    child<QLineEdit>("txtSendTo")->setText(to);
    child<QLineEdit>("txtPOPServer")->setText("  ");
    child<QComboBox>("cmbAuth")->setCurrentIndex(auth);
    child<QWidget>("txtMessageHTML")->setFocus();
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, message);
    QCOMPARE(ui->messages.at(0).title, QString("Parcelo"));
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::OK);
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::None);
    QCOMPARE(w->focusWidget()->objectName(), focus);
    QCOMPARE(child<QPlainTextEdit>("txtStatus")->toPlainText(), QString("Status\n")); // nothing sent
}

void TestMailWindow::blankSubjectAndTextAsk()
{
    window();
    child<QLineEdit>("txtServer")->setText(m_peer->address());
    child<QLineEdit>("txtMailFrom")->setText("ann@example.org");
    child<QLineEdit>("txtSendTo")->setText("bob@example.org");
    child<QLineEdit>("txtMessageSubject")->setText("  ");
    child<QPlainTextEdit>("txtMessageText")->setPlainText(" \n ");
    const int before = receivedCount(m_inbox);

    ui->messageAnswers << MsgResult::No;
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, QString("You didn't enter the message subject. \nWould you like to send it anyway?"));
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::YesNo);
    QCOMPARE(child<QPlainTextEdit>("txtStatus")->toPlainText(), QString("Status\n"));

    ui->messages.clear();
    ui->messageAnswers << MsgResult::Yes << MsgResult::No;
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 2);
    QCOMPARE(ui->messages.at(1).prompt, QString("You didn't enter the message text. \nWould you like to send it anyway?"));
    QCOMPARE(child<QPlainTextEdit>("txtStatus")->toPlainText(), QString("Status\n"));

    ui->messages.clear();
    ui->messageAnswers << MsgResult::Yes << MsgResult::Yes;
    QSignalSpy finished(window()->smtp(), &MailSender::sendFinished);
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 2);
    QVERIFY(finished.wait(20000));
    QVERIFY(finished.first().first().toBool());
    QCOMPARE(receivedCount(m_inbox), before + 1);
}

void TestMailWindow::logInValuesHandedOver_data()
{
    QTest::addColumn<int>("auth");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("popServer");
    QTest::newRow("None passes no log-in") << 0 << "" << "";
    QTest::newRow("POP passes all three") << 1 << "ann" << "pop.example.org";
    QTest::newRow("Login with empty user name") << 2 << "" << "";
    QTest::newRow("Plain") << 3 << "ann" << "";
}

void TestMailWindow::logInValuesHandedOver()
{
    QFETCH(int, auth);
    QFETCH(QString, username);
    QFETCH(QString, popServer);
    frmMail *w = window();
    child<QLineEdit>("txtServer")->setText("localhost [server name]"); // refused by the component
    child<QLineEdit>("txtUsername")->setText(auth == 0 ? "typed" : username);
    child<QLineEdit>("txtPassword")->setText("pw");
    child<QLineEdit>("txtPOPServer")->setText("pop.example.org");
    child<QComboBox>("cmbAuth")->setCurrentIndex(auth);
    QSignalSpy finished(w->smtp(), &MailSender::sendFinished);
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
    QVERIFY(ui->messages.isEmpty());
    QCOMPARE(w->smtp()->authType(), auth);
    QCOMPARE(w->smtp()->username(), username);
    QCOMPARE(w->smtp()->password(), auth == 0 ? QString() : QString("pw"));
    QCOMPARE(w->smtp()->popServer(), popServer);
    QCOMPARE(w->smtp()->server(), QString("localhost [server name]"));
    QCOMPARE(w->smtp()->messageText(), QString("Plain text message\n"));
    QCOMPARE(w->smtp()->messageHTML(), QString("HTML message\n"));
    QVERIFY(finished.wait(10000));
}

void TestMailWindow::sendsTheRowsAndShowsStatus()
{
    QTemporaryDir files;
    const QString zip = files.filePath("report.doc.zip");
    const QString notes = files.filePath("notes.txt");
    { QFile f(zip); f.open(QIODevice::WriteOnly); f.write(QByteArray("PK\x03\x04\x00\xff binary", 14)); }
    { QFile f(notes); f.open(QIODevice::WriteOnly); f.write("seven bit\n"); }
    frmMail *w = window();
    child<QLineEdit>("txtServer")->setText(m_peer->address());
    child<QLineEdit>("txtMailFrom")->setText("ann@example.org");
    child<QLineEdit>("txtSendTo")->setText("bob@example.org");
    child<QLineEdit>("txtBCC")->setText("hidden@example.org");
    child<QLineEdit>("txtMessageSubject")->setText("Your archive");
    child<QPlainTextEdit>("txtMessageHTML")->clear(); // plain text only
    w->appendAttachment("report.doc.zip", zip, "application/octet-stream", "Base 64");
    w->appendAttachment("notes.txt", notes, "text/plain", "7 Bit");
    w->appendAttachment("again.txt", notes, "text/plain", "7 bit"); // not exactly "7 Bit": Base 64
    w->appendCustomHeader("X-Priority", "1");
    w->appendCustomHeader("X-Empty", "");
    const int before = receivedCount(m_inbox);

    for (int round = 1; round <= 2; ++round) {
        QSignalSpy finished(w->smtp(), &MailSender::sendFinished);
        QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QVERIFY(finished.first().first().toBool());
        // The status box was emptied, then got one line per status change.
        auto *status = child<QPlainTextEdit>("txtStatus");
        QCOMPARE(status->toPlainText(),
                 QString("Connecting to %1\nConnected to %1\nSending the message\nMessage sent to 2 recipients\n"
                         "Connection closed\n").arg(m_peer->address()));
        QCOMPARE(status->textCursor().position(), status->toPlainText().size());
        QCOMPARE(rows(child<QTreeWidget>("lvwAttachments")).size(), 3); // the lists stay

        ReceivedMail mail;
        QVERIFY(receivedMail(m_inbox, before + round, &mail));
        QStringList names;
        QStringList encodings;
        for (const QJsonValue &p : mail.parsed.value("parts").toArray()) {
            if (!p.toObject().value("filename").isNull()) {
                names << p.toObject().value("filename").toString();
                encodings << p.toObject().value("encoding").toString();
            }
        }
        QCOMPARE(names, (QStringList{"report.doc.zip", "notes.txt", "again.txt"})); // once each, every time
        QCOMPARE(encodings, (QStringList{"base64", "7bit", "base64"}));
        QCOMPARE(mail.header("X-Priority"), QString("1"));
        QCOMPARE(mail.countOf("X-Empty"), 1);
        QCOMPARE(mail.countOf("Bcc"), 0);
        QVERIFY(mail.envelope.value("rcpt_tos").toArray().contains(QJsonValue("hidden@example.org")));
    }
}

void TestMailWindow::errorsGoToTheStatusBox()
{
    frmMail *w = window();
    child<QLineEdit>("txtServer")->setText(m_peer->address());
    child<QLineEdit>("txtMailFrom")->setText("ann@example.org");
    child<QLineEdit>("txtSendTo")->setText("bob@example.org");
    child<QLineEdit>("txtMessageSubject")->setText("Hi\nBcc: x@example.org"); // pasted line break
    w->appendAttachment("gone.zip", "/nonexistent/gone.zip", "application/octet-stream", "Base 64");
    QSignalSpy finished(w->smtp(), &MailSender::sendFinished);
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    QCOMPARE(child<QPlainTextEdit>("txtStatus")->toPlainText(), QString("Error 1: The subject contains a line break\n"));

    // A header name that the dialog takes but no message can carry: the line names the row.
    child<QLineEdit>("txtMessageSubject")->setText("Hi");
    delete child<QTreeWidget>("lvwAttachments")->topLevelItem(0);
    w->appendCustomHeader("X-Fine", "1");
    whenShown<frmAddCustomHeader>([&](frmAddCustomHeader *d) {
        d->findChild<QLineEdit *>("txtName")->setText("X Spaced");
        QTest::mouseClick(d->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("cmdAddCustomHeader"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    QCOMPARE(child<QPlainTextEdit>("txtStatus")->toPlainText(),
             QString("Error 1: The custom header \"X Spaced\" (row 2) has no valid name: use letters, digits and "
                     "punctuation, without blanks or \":\"\n"));
    QVERIFY(ui->messages.isEmpty()); // errors of the exchange never show a message box
}

void TestMailWindow::sendDuringSendKeepsItsLines()
{
    QTemporaryDir inbox;
    auto slow = MailPeer::smtp(inbox.path(), {"--stall-data", "1.5"});
    QVERIFY2(slow->isReady(), qPrintable(slow->errors()));
    frmMail *w = window();
    child<QLineEdit>("txtServer")->setText(slow->address());
    child<QLineEdit>("txtMailFrom")->setText("ann@example.org");
    child<QLineEdit>("txtSendTo")->setText("bob@example.org");
    auto *status = child<QPlainTextEdit>("txtStatus");
    QSignalSpy finished(w->smtp(), &MailSender::sendFinished);
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(status->toPlainText().contains("Sending the message"), 10000);
    const QString running = status->toPlainText();
    QTest::mouseClick(child<QPushButton>("cmdSend"), Qt::LeftButton); // refused: one at a time
    QTRY_VERIFY(status->toPlainText().contains("Error 3: "));
    QVERIFY2(status->toPlainText().startsWith(running + "Error 3: "), qPrintable(status->toPlainText()));
    QVERIFY(finished.wait(20000));
    QVERIFY(finished.first().first().toBool()); // the first send went on and arrived
    QVERIFY(status->toPlainText().endsWith("Connection closed\n"));
    QCOMPARE(receivedCount(inbox.path()), 1);
}

void TestMailWindow::enterSends()
{
    frmMail *w = window();
    QApplication::setActiveWindow(w);
    child<QLineEdit>("txtServer")->setText(" ");
    // Enter in a body is a new line, not a send.
    auto *body = child<QPlainTextEdit>("txtMessageText");
    body->setFocus();
    body->moveCursor(QTextCursor::End);
    QTest::keyClick(body, Qt::Key_Return);
    QVERIFY(ui->messages.isEmpty());
    QCOMPARE(body->toPlainText(), QString("Plain text message\n\n"));
    // Enter in a field presses the send button.
    auto *subject = child<QLineEdit>("txtMessageSubject");
    subject->setFocus();
    QTest::keyClick(subject, Qt::Key_Return);
    QTRY_COMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, QString("Enter the server name or IP address"));
}

void TestMailWindow::removeTakesTheSelectedRow()
{
    frmMail *w = window();
    auto *list = child<QTreeWidget>("lvwAttachments");
    w->appendAttachment("a", "/a", "t", "Base 64");
    w->appendAttachment("b", "/b", "t", "7 Bit");
    list->clearSelection();
    QTest::mouseClick(child<QPushButton>("cmdRemove"), Qt::LeftButton);
    QCOMPARE(list->topLevelItemCount(), 2);
    list->topLevelItem(1)->setSelected(true);
    QTest::mouseClick(child<QPushButton>("cmdRemove"), Qt::LeftButton);
    QCOMPARE(rows(list), QStringList{"a|/a|t|Base 64"});

    auto *headers = child<QTreeWidget>("lvwCustomHeaders");
    w->appendCustomHeader("X-A", "1");
    QTest::mouseClick(child<QPushButton>("cmdRemoveCustomHeader"), Qt::LeftButton);
    QCOMPARE(headers->topLevelItemCount(), 1);
    headers->topLevelItem(0)->setSelected(true);
    QTest::mouseClick(child<QPushButton>("cmdRemoveCustomHeader"), Qt::LeftButton);
    QCOMPARE(headers->topLevelItemCount(), 0);
    QVERIFY(ui->messages.isEmpty());
}

void TestMailWindow::operationsForOtherWindows()
{
    QVERIFY(!frmMail::existing());
    frmMail *w = frmMail::open();
    QVERIFY(w->isVisible());
    QCOMPARE(frmMail::existing(), w);
    w->appendAttachment("one.zip", "/tmp/one.zip", "application/octet-stream", "Base 64");
    w->appendAttachment("two.zip", "/tmp/two.zip", "application/octet-stream", "Base 64");
    child<QLineEdit>("txtCC")->setText("kept");
    // Zip-and-mail again while the window is open: it comes forward with three rows.
    QCOMPARE(frmMail::open(), w);
    w->appendAttachment("three.zip", "/tmp/three.zip", "application/octet-stream", "Base 64");
    QCOMPARE(rows(child<QTreeWidget>("lvwAttachments")),
             (QStringList{"one.zip|/tmp/one.zip|application/octet-stream|Base 64",
                          "two.zip|/tmp/two.zip|application/octet-stream|Base 64",
                          "three.zip|/tmp/three.zip|application/octet-stream|Base 64"}));
    QCOMPARE(child<QLineEdit>("txtCC")->text(), QString("kept"));
    // The editor's Send replaces the plain text, an empty document included.
    frmMail::open()->setMessageText("From the editor\nsecond line");
    QCOMPARE(child<QPlainTextEdit>("txtMessageText")->toPlainText(), QString("From the editor\nsecond line"));
    w->setMessageText(QString());
    QCOMPARE(child<QPlainTextEdit>("txtMessageText")->toPlainText(), QString());
}

void TestMailWindow::attachmentDialog()
{
    QTemporaryDir files;
    const QString file = files.filePath("report.doc.zip");
    { QFile f(file); f.open(QIODevice::WriteOnly); f.write("zip"); }
    const QString hidden = files.filePath(".profile");
    { QFile f(hidden); f.open(QIODevice::WriteOnly); f.write("x"); }
    frmMail *w = window();

    // Empty name: the file's own name; a typed type kept as typed; "7 Bit" chosen.
    whenShown<frmAddAttachment>([&](frmAddAttachment *d) {
        QCOMPARE(d->windowTitle(), QString("Add Attachment"));
        QVERIFY(d->isModal());
        QCOMPARE(d->parentWidget(), w);
        auto *type = d->findChild<QComboBox *>("cmbType");
        QVERIFY(type->isEditable());
        QCOMPARE(type->currentText(), QString("application/octet-stream"));
        QCOMPARE(type->count(), 7);
        QCOMPARE(d->findChild<QComboBox *>("cmbEncoding")->currentText(), QString("Base 64"));
        d->findChild<QLineEdit *>("txtPath")->setText(file);
        type->setEditText("application/x-custom");
        d->findChild<QComboBox *>("cmbEncoding")->setCurrentIndex(1);
        QTest::mouseClick(d->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("cmdAdd"), Qt::LeftButton);
    QCOMPARE(rows(child<QTreeWidget>("lvwAttachments")),
             QStringList{"report.doc.zip|" + file + "|application/x-custom|7 Bit"});

    // A name with blanks is kept; a dot file counts as a file; a fresh dialog starts empty.
    whenShown<frmAddAttachment>([&](frmAddAttachment *d) {
        QCOMPARE(d->findChild<QLineEdit *>("txtPath")->text(), QString());
        QCOMPARE(d->findChild<QComboBox *>("cmbEncoding")->currentText(), QString("Base 64"));
        d->findChild<QLineEdit *>("txtPath")->setText(hidden);
        d->findChild<QLineEdit *>("txtName")->setText("  spaced name ");
        QApplication::setActiveWindow(d);
        d->findChild<QLineEdit *>("txtName")->setFocus(); // as a user clicks into the field
        QTest::keyClick(d->findChild<QLineEdit *>("txtName"), Qt::Key_Return); // the default button
    });
    QTest::mouseClick(child<QPushButton>("cmdAdd"), Qt::LeftButton);
    QCOMPARE(rows(child<QTreeWidget>("lvwAttachments")).last(),
             "  spaced name |" + hidden + "|application/octet-stream|Base 64");

    // A path without any "/": the whole path is the name.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(files.path());
    whenShown<frmAddAttachment>([&](frmAddAttachment *d) {
        d->findChild<QLineEdit *>("txtPath")->setText("report.doc.zip");
        QTest::mouseClick(d->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("cmdAdd"), Qt::LeftButton);
    QDir::setCurrent(cwd);
    QCOMPARE(rows(child<QTreeWidget>("lvwAttachments")).last(), QString("report.doc.zip|report.doc.zip|application/octet-stream|Base 64"));

    // Cancel adds nothing.
    whenShown<frmAddAttachment>([&](frmAddAttachment *d) {
        d->findChild<QLineEdit *>("txtPath")->setText(file);
        QTest::keyClick(d, Qt::Key_Escape);
    });
    QTest::mouseClick(child<QPushButton>("cmdAdd"), Qt::LeftButton);
    QCOMPARE(child<QTreeWidget>("lvwAttachments")->topLevelItemCount(), 3);
    QVERIFY(ui->messages.isEmpty());
    QVERIFY(!w->findChild<frmAddAttachment *>()); // discarded after closing
}

void TestMailWindow::attachmentDialogRefusals_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("why");
    QTest::newRow("folder") << QDir::tempPath() << "doesn't exist";
    QTest::newRow("device") << "/dev/null" << "doesn't exist";
    QTest::newRow("missing file") << "/nonexistent/file.zip" << "doesn't exist";
    QTest::newRow("empty path") << "" << "doesn't exist";
    QTest::newRow("wildcard") << QDir::tempPath() + "/*" << "doesn't exist";
    QTest::newRow("unreadable file") << "unreadable" << "cannot be read";
}

void TestMailWindow::attachmentDialogRefusals()
{
    QFETCH(QString, path);
    QFETCH(QString, why);
    // An existing file without read permission (root reads it all the same, so the check runs
    // without root's power to read any file).
    QTemporaryDir folder;
    const bool unreadable = path == "unreadable";
    if (unreadable) {
        path = folder.filePath("secret.txt");
        QFile secret(path);
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.write("private");
        secret.close();
        QVERIFY(secret.setPermissions(QFile::WriteOwner));
    }
    window();
    bool stayedOpen = false;
    whenShown<frmAddAttachment>([&](frmAddAttachment *d) {
        d->findChild<QLineEdit *>("txtPath")->setText(path);
        d->findChild<QLineEdit *>("txtName")->setText("kept");
        {
            WithoutReadOverride asUser;
            QTest::mouseClick(d->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
        }
        stayedOpen = d->isVisible() && d->findChild<QLineEdit *>("txtPath")->text() == path
                     && d->findChild<QLineEdit *>("txtName")->text() == "kept";
        d->reject();
    });
    QTest::mouseClick(child<QPushButton>("cmdAdd"), Qt::LeftButton);
    QVERIFY(stayedOpen);
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, "<<" + path + ">> " + why);
    QCOMPARE(ui->messages.at(0).title, QString("Error"));
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::None);
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::OK);
    QCOMPARE(child<QTreeWidget>("lvwAttachments")->topLevelItemCount(), 0);
}

void TestMailWindow::attachmentDialogBrowse()
{
    window();
    QString afterPick, afterCancel;
    ui->openAnswers << QString("/srv/data/archive.zip") << std::nullopt;
    whenShown<frmAddAttachment>([&](frmAddAttachment *d) {
        QTest::mouseClick(d->findChild<QPushButton *>("cmdBrowse"), Qt::LeftButton);
        afterPick = d->findChild<QLineEdit *>("txtPath")->text();
        d->findChild<QLineEdit *>("txtPath")->setText("typed by hand");
        QTest::mouseClick(d->findChild<QPushButton *>("cmdBrowse"), Qt::LeftButton);
        afterCancel = d->findChild<QLineEdit *>("txtPath")->text();
        d->reject();
    });
    QTest::mouseClick(child<QPushButton>("cmdAdd"), Qt::LeftButton);
    QCOMPARE(afterPick, QString("/srv/data/archive.zip"));
    QCOMPARE(afterCancel, QString("typed by hand"));
    QCOMPARE(ui->openRequests.size(), 2);
    QCOMPARE(ui->openRequests.at(0).title, QString());
    QVERIFY(ui->messages.isEmpty());
}

void TestMailWindow::headerDialog()
{
    frmMail *w = window();
    bool stayedOpen = false;
    whenShown<frmAddCustomHeader>([&](frmAddCustomHeader *d) {
        QCOMPARE(d->windowTitle(), QString("Add Custom Header"));
        QCOMPARE(d->parentWidget(), w);
        d->findChild<QLineEdit *>("txtName")->setText("   ");
        QTest::mouseClick(d->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
        stayedOpen = d->isVisible();
        d->findChild<QLineEdit *>("txtName")->setText(" X-Spaced ");
        QTest::mouseClick(d->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("cmdAddCustomHeader"), Qt::LeftButton);
    QVERIFY(stayedOpen);
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, QString("Can't add blank header"));
    QCOMPARE(ui->messages.at(0).title, QString("Error"));
    for (int i = 0; i < 2; ++i) {
        whenShown<frmAddCustomHeader>([&](frmAddCustomHeader *d) {
            QCOMPARE(d->findChild<QLineEdit *>("txtName")->text(), QString());
            d->findChild<QLineEdit *>("txtName")->setText("X-Twice");
            d->findChild<QLineEdit *>("txtValue")->setText("v");
            QTest::mouseClick(d->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
        });
        QTest::mouseClick(child<QPushButton>("cmdAddCustomHeader"), Qt::LeftButton);
    }
    whenShown<frmAddCustomHeader>([&](frmAddCustomHeader *d) {
        d->findChild<QLineEdit *>("txtName")->setText("X-Cancelled");
        QTest::mouseClick(d->findChild<QPushButton *>("cmdCancel"), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("cmdAddCustomHeader"), Qt::LeftButton);
    QCOMPARE(rows(child<QTreeWidget>("lvwCustomHeaders")), (QStringList{" X-Spaced |", "X-Twice|v", "X-Twice|v"}));
}

PARCELO_TEST_MAIN(TestMailWindow)
#include "tst_mail_window.moc"
