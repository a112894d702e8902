#include "frmMail.h"

#include "appinfo.h"
#include "errorstyles.h"
#include "frmAddAttachment.h"
#include "frmAddCustomHeader.h"
#include "icons.h"
#include "mailsender.h"
#include "messagebox.h"
#include "propertybag.h"
#include "settingsfile.h"
#include "settingslocation.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

frmMail *theMailWindow = nullptr;

// The send button's picture: an envelope and the word "Send", which the caption "it now!"
// completes.
QIcon sendPicture(const QFont &font)
{
    const QIcon envelope = Icons::themed(QStringLiteral("mail-send"), QStyle::SP_ArrowRight);
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const QString word = QStringLiteral("Send");
    const int iconSide = 32;
    const QSize size(iconSide + 6 + metrics.horizontalAdvance(word) + 2, qMax(iconSide, metrics.height()));
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap picture(size * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    envelope.paint(&painter, QRect(0, (size.height() - iconSide) / 2, iconSide, iconSide));
    painter.setFont(bold);
    painter.setPen(qApp->palette().color(QPalette::Active, QPalette::ButtonText));
    painter.drawText(QRect(iconSide + 6, 0, size.width() - iconSide - 6, size.height()),
                     Qt::AlignVCenter | Qt::AlignLeft, word);
    painter.end();
    return QIcon(picture);
}

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

QLabel *label(const char *name, const QString &text, QWidget *buddy)
{
    auto *l = new QLabel(text);
    l->setObjectName(QString::fromLatin1(name));
    l->setBuddy(buddy);
    return l;
}

QTreeWidget *reportList(const char *name, const QStringList &columns, const QString &tip)
{
    auto *list = new QTreeWidget;
    list->setObjectName(QString::fromLatin1(name));
    list->setColumnCount(int(columns.size()));
    list->setHeaderLabels(columns);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setAllColumnsShowFocus(true);
    list->setToolTip(tip);
    return list;
}

QPushButton *button(const char *name, const QString &caption, const QString &tip)
{
    auto *b = new QPushButton(caption);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(tip);
    b->setAutoDefault(true); // Enter on a focused button presses that button
    return b;
}

} // namespace

frmMail *frmMail::instance()
{
    if (!theMailWindow)
        theMailWindow = new frmMail;
    return theMailWindow;
}

frmMail *frmMail::existing()
{
    return theMailWindow;
}

frmMail *frmMail::open()
{
    frmMail *window = instance();
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    return window;
}

QString frmMail::caption()
{
    return QStringLiteral("E-Mail     ") + AppInfo::publisherUrl();
}

QString frmMail::settingsFileName()
{
    return QStringLiteral("Parcelo_Mail.set");
}

frmMail::frmMail(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmMail"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption());
    setWindowIcon(Icons::themed(QStringLiteral("mail-message-new"), QStyle::SP_FileDialogContentsView));

    auto line = [](const char *name, const QString &text, const QString &tip) {
        auto *edit = new QLineEdit(text);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setToolTip(tip);
        return edit;
    };
    auto multiLine = [](const char *name, const QString &text, const QString &tip) {
        auto *edit = new QPlainTextEdit;
        edit->setObjectName(QString::fromLatin1(name));
        edit->setPlainText(text);
        edit->setToolTip(tip);
        edit->setTabChangesFocus(true);
        return edit;
    };

    txtServer = line("txtServer", QStringLiteral("localhost [server name]"), QStringLiteral("Server name"));
    txtMailFrom = line("txtMailFrom", QStringLiteral("me@example.com [sender mail]"), QStringLiteral("Sender mail"));
    txtSendTo = line("txtSendTo", QStringLiteral("you@example.com [receiver mail]"), QStringLiteral("Receiver"));
    txtCC = line("txtCC", QString(), QString());
    txtBCC = line("txtBCC", QString(), QString());
    txtMessageSubject = line("txtMessageSubject", QStringLiteral("subject"), QString());
    txtMessageText = multiLine("txtMessageText", QStringLiteral("Plain text message\n"), QStringLiteral("Plain text message"));
    txtMessageHTML = multiLine("txtMessageHTML", QStringLiteral("HTML message\n"), QStringLiteral("HTML message"));

    cmdSend = new QPushButton(QStringLiteral("it now!"));
    cmdSend->setObjectName(QStringLiteral("cmdSend"));
    cmdSend->setToolTip(QStringLiteral("Send message now!"));
    cmdSend->setAccessibleName(QStringLiteral("Send it now!")); // the picture shows the first word
    cmdSend->setDefault(true);
    QFont sendFont = cmdSend->font();
    sendFont.setBold(true);
    sendFont.setPointSizeF(sendFont.pointSizeF() * 1.3);
    cmdSend->setFont(sendFont);
    const QIcon picture = sendPicture(sendFont);
    cmdSend->setIcon(picture);
    cmdSend->setIconSize(picture.availableSizes().value(0, QSize(32, 32)));
    cmdSend->setMinimumHeight(48);

    txtStatus = multiLine("txtStatus", QStringLiteral("Status\n"), QStringLiteral("Status"));
    txtStatus->setReadOnly(true);
    txtStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtStatus->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    cmbAuth = new QComboBox;
    cmbAuth->setObjectName(QStringLiteral("cmbAuth"));
    cmbAuth->addItems({QStringLiteral("None"), QStringLiteral("POP"), QStringLiteral("Login"), QStringLiteral("Plain")});
    cmbAuth->setEditable(false);
    cmbAuth->setToolTip(QStringLiteral("Server type"));
    cmbAuth->setAccessibleName(QStringLiteral("Authentication type"));
    txtUsername = line("txtUsername", QString(), QStringLiteral("User name"));
    txtPassword = line("txtPassword", QString(), QStringLiteral("password"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*"
    txtPOPServer = line("txtPOPServer", QString(), QStringLiteral("Pop server"));

    lvwAttachments = reportList("lvwAttachments",
                                {QStringLiteral("Name"), QStringLiteral("Path"), QStringLiteral("Type"),
                                 QStringLiteral("Encoding")},
                                QStringLiteral("Attachment(s)"));
    lvwAttachments->setAccessibleName(QStringLiteral("Attachments"));
    lvwAttachments->header()->resizeSection(0, 150);
    lvwAttachments->header()->resizeSection(1, 300);
    lvwAttachments->header()->resizeSection(2, 170);
    cmdAdd = button("cmdAdd", QStringLiteral("&Add"), QStringLiteral("Add attachment"));
    cmdRemove = button("cmdRemove", QStringLiteral("&Remove"), QStringLiteral("Remove attachment"));
    lvwCustomHeaders = reportList("lvwCustomHeaders", {QStringLiteral("Header"), QStringLiteral("Value")},
                                  QStringLiteral("Optional custom header"));
    lvwCustomHeaders->setAccessibleName(QStringLiteral("Custom headers"));
    cmdAddCustomHeader = button("cmdAddCustomHeader", QStringLiteral("&Add"), QStringLiteral("Add header"));
    cmdRemoveCustomHeader = button("cmdRemoveCustomHeader", QStringLiteral("&Remove"), QStringLiteral("Remove header"));

    // Left: the labelled message fields.
    auto *fields = new QGridLayout;
    int row = 0;
    for (auto [name, text, widget] : {std::tuple{"lblServer", QStringLiteral("Server"), static_cast<QWidget *>(txtServer)},
                                      std::tuple{"lblMailFrom", QStringLiteral("MailFrom"), static_cast<QWidget *>(txtMailFrom)},
                                      std::tuple{"lblSendTo", QStringLiteral("SendTo"), static_cast<QWidget *>(txtSendTo)},
                                      std::tuple{"lblCC", QStringLiteral("CC"), static_cast<QWidget *>(txtCC)},
                                      std::tuple{"lblBCC", QStringLiteral("BCC"), static_cast<QWidget *>(txtBCC)},
                                      std::tuple{"lblMessageSubject", QStringLiteral("Subject"), static_cast<QWidget *>(txtMessageSubject)},
                                      std::tuple{"lblMessageText", QStringLiteral("Message Text"), static_cast<QWidget *>(txtMessageText)},
                                      std::tuple{"lblMessageHTML", QStringLiteral("Message HTML"), static_cast<QWidget *>(txtMessageHTML)}}) {
        QLabel *l = label(name, text, widget);
        const bool tall = qobject_cast<QPlainTextEdit *>(widget) != nullptr;
        fields->addWidget(l, row, 0, tall ? Qt::AlignTop : Qt::Alignment());
        fields->addWidget(widget, row, 1);
        if (tall)
            fields->setRowStretch(row, 1);
        ++row;
    }

    // Right: send, log-in, custom headers.
    auto *auth = new QGroupBox(QStringLiteral("Authentication"));
    auth->setObjectName(QStringLiteral("fraAuthentication"));
    auto *authGrid = new QGridLayout(auth);
    authGrid->addWidget(label("lblAuthType", QStringLiteral("Type"), cmbAuth), 0, 0);
    authGrid->addWidget(cmbAuth, 0, 1);
    authGrid->addWidget(label("lblUsername", QStringLiteral("Username"), txtUsername), 1, 0);
    authGrid->addWidget(txtUsername, 1, 1);
    authGrid->addWidget(label("lblPassword", QStringLiteral("Password"), txtPassword), 2, 0);
    authGrid->addWidget(txtPassword, 2, 1);
    authGrid->addWidget(label("lblPOPServer", QStringLiteral("POP Server"), txtPOPServer), 3, 0);
    authGrid->addWidget(txtPOPServer, 3, 1);

    auto *headers = new QGroupBox(QStringLiteral("Custom Headers"));
    headers->setObjectName(QStringLiteral("fraCustomHeaders"));
    auto *headersRow = new QHBoxLayout(headers);
    headersRow->addWidget(lvwCustomHeaders, 1);
    auto *headerButtons = new QVBoxLayout;
    headerButtons->addWidget(cmdAddCustomHeader);
    headerButtons->addWidget(cmdRemoveCustomHeader);
    headerButtons->addStretch();
    headersRow->addLayout(headerButtons);

    auto *right = new QVBoxLayout;
    right->addWidget(cmdSend);
    right->addWidget(auth);
    right->addWidget(headers, 1);

    auto *top = new QHBoxLayout;
    top->addLayout(fields, 3);
    top->addLayout(right, 2);

    auto *attachments = new QGroupBox(QStringLiteral("Attachments"));
    attachments->setObjectName(QStringLiteral("fraAttachments"));
    auto *attachmentsRow = new QHBoxLayout(attachments);
    attachmentsRow->addWidget(lvwAttachments, 1);
    auto *attachmentButtons = new QVBoxLayout;
    attachmentButtons->addWidget(cmdAdd);
    attachmentButtons->addWidget(cmdRemove);
    attachmentButtons->addStretch();
    attachmentsRow->addLayout(attachmentButtons);

    auto *whole = new QVBoxLayout(this);
    whole->addLayout(top, 3);
    whole->addWidget(attachments, 1);
    whole->addWidget(label("lblStatus", QStringLiteral("Status"), txtStatus));
    whole->addWidget(txtStatus, 1);
    resize(820, 720);

    // Tab order: the fourteen fields and buttons of the message, then the two lists.
    QWidget *order[] = {txtServer, txtMailFrom, txtSendTo, txtCC, txtBCC, txtMessageSubject,
                        txtMessageText, txtMessageHTML, cmdSend, txtStatus, cmbAuth, txtUsername,
                        txtPassword, txtPOPServer, lvwAttachments, cmdAdd, cmdRemove,
                        lvwCustomHeaders, cmdAddCustomHeader, cmdRemoveCustomHeader};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(cmdSend, &QPushButton::clicked, this, &frmMail::cmdSend_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmMail::cmdAdd_Click);
    connect(cmdRemove, &QPushButton::clicked, this, &frmMail::cmdRemove_Click);
    connect(cmdAddCustomHeader, &QPushButton::clicked, this, &frmMail::cmdAddCustomHeader_Click);
    connect(cmdRemoveCustomHeader, &QPushButton::clicked, this, &frmMail::cmdRemoveCustomHeader_Click);
    connect(txtStatus, &QPlainTextEdit::textChanged, this, &frmMail::txtStatus_Change);

    Form_Load();
    txtServer->setFocus();
}

frmMail::~frmMail()
{
    if (theMailWindow == this)
        theMailWindow = nullptr;
}

// --- settings ---------------------------------------------------------------------------------

void frmMail::SaveMailSettings(PropertyBag &bag) const
{
    TrapAndSkip({
        [&] { bag.writeProperty(QStringLiteral("Server"), txtServer->text()); },
        [&] { bag.writeProperty(QStringLiteral("From"), txtMailFrom->text()); },
        [&] { bag.writeProperty(QStringLiteral("To"), txtSendTo->text()); },
        [&] { bag.writeProperty(QStringLiteral("Type"), qint16(cmbAuth->currentIndex())); },
        [&] { bag.writeProperty(QStringLiteral("UserName"), txtUsername->text()); },
        [&] { bag.writeProperty(QStringLiteral("Password"), txtPassword->text()); },
        [&] { bag.writeProperty(QStringLiteral("PopServer"), txtPOPServer->text()); },
    });
}

void frmMail::LoadMailSettings(const PropertyBag &bag)
{
    auto apply = [&bag](const QString &name, QLineEdit *field) {
        QString value;
        if (bag.readText(name, &value))
            field->setText(value);
    };
    apply(QStringLiteral("Server"), txtServer);
    apply(QStringLiteral("From"), txtMailFrom);
    apply(QStringLiteral("To"), txtSendTo);
    qint16 type = 0;
    if (bag.readInt16(QStringLiteral("Type"), &type) && type >= -1 && type < cmbAuth->count())
        cmbAuth->setCurrentIndex(type);
    apply(QStringLiteral("UserName"), txtUsername);
    apply(QStringLiteral("Password"), txtPassword);
    apply(QStringLiteral("PopServer"), txtPOPServer);
}

void frmMail::Form_Load()
{
    PropertyBag bag;
    QByteArray holding;
    TrapAndSkip({
        [&] { holding = SettingsFile::read(SettingsLocation::forReading(settingsFileName())); },
        [&] { bag.setContents(holding); },
        [&] { LoadMailSettings(bag); },
        [&] { cmbAuth->setCurrentIndex(0); }, // the window always opens with "None"
        [&] { createSender(); },
    });
}

void frmMail::Form_Unload()
{
    PropertyBag bag;
    TrapAndSkip({
        [&] { SaveMailSettings(bag); },
        [&] { SettingsFile::write(SettingsLocation::forWriting(settingsFileName()), bag.contents()); },
        [&] {
            delete oSMTP;
            oSMTP = nullptr;
        },
    });
}

void frmMail::createSender()
{
    oSMTP = new MailSender(this);
    connect(oSMTP, &MailSender::StatusChanged, this, &frmMail::oSMTP_StatusChanged);
    connect(oSMTP, &MailSender::ErrorSMTP, this, &frmMail::oSMTP_ErrorSMTP);
}

void frmMail::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void frmMail::keyPressEvent(QKeyEvent *event)
{
    // Enter sends, as the window's default button, unless the focused control used the key
    // itself (a new line in a message body, a focused button pressing itself).
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        cmdSend->animateClick();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// --- what other windows call ----------------------------------------------------------------

void frmMail::appendAttachment(const QString &name, const QString &path, const QString &type,
                               const QString &encodingLabel)
{
    auto *item = new QTreeWidgetItem(lvwAttachments, {name, path, type, encodingLabel});
    item->setToolTip(1, path);
}

void frmMail::appendCustomHeader(const QString &name, const QString &value)
{
    new QTreeWidgetItem(lvwCustomHeaders, {name, value});
}

void frmMail::setMessageText(const QString &text)
{
    txtMessageText->setPlainText(text);
}

// --- sending --------------------------------------------------------------------------------

void frmMail::cmdSend_Click()
{
    auto require = [this](QLineEdit *field, const QString &message) {
        if (!isBlank(field->text()))
            return true;
        MsgBox(message, MsgButtons::OK, MsgIcon::None, QString(), this);
        field->setFocus();
        return false;
    };
    if (!require(txtServer, QStringLiteral("Enter the server name or IP address"))
        || !require(txtMailFrom, QStringLiteral("Enter the sender e-mail address"))
        || !require(txtSendTo, QStringLiteral("Enter the recipient e-mail address")))
        return;
    if (cmbAuth->currentIndex() == 1
        && !require(txtPOPServer, QStringLiteral("POP Authentication requires POP server")))
        return;

    auto sendAnyway = [this](const QString &what) {
        return MsgBox(QStringLiteral("You didn't enter the message %1. \nWould you like to send it anyway?").arg(what),
                      MsgButtons::YesNo, MsgIcon::None, QString(), this)
               == MsgResult::Yes;
    };
    if (isBlank(txtMessageSubject->text()) && !sendAnyway(QStringLiteral("subject")))
        return;
    if (isBlank(txtMessageText->toPlainText()) && !sendAnyway(QStringLiteral("text")))
        return;

    try {
        if (!oSMTP)
            throw AppError::objectAbsent();
        const int auth = cmbAuth->currentIndex();
        if (auth > 0) {
            oSMTP->setUsername(txtUsername->text());
            oSMTP->setPassword(txtPassword->text());
            if (auth == 1)
                oSMTP->setPOPServer(txtPOPServer->text());
        }
        oSMTP->setAuthType(auth);
        for (int i = 0; i < lvwAttachments->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *row = lvwAttachments->topLevelItem(i);
            MailAttachment attachment;
            attachment.path = row->text(1);
            attachment.name = row->text(0);
            attachment.type = row->text(2);
            attachment.encoding = row->text(3) == QLatin1String("7 Bit") ? MailAttachment::SevenBit
                                                                          : MailAttachment::Base64;
            oSMTP->attachments().append(attachment);
        }
        for (int i = 0; i < lvwCustomHeaders->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *row = lvwCustomHeaders->topLevelItem(i);
            oSMTP->customHeaders().append(MailHeader{row->text(0), row->text(1)});
        }
        oSMTP->setServer(txtServer->text());
        oSMTP->setMailFrom(txtMailFrom->text());
        oSMTP->setSendTo(txtSendTo->text());
        oSMTP->setCC(txtCC->text());
        oSMTP->setBCC(txtBCC->text());
        oSMTP->setMessageSubject(txtMessageSubject->text());
        oSMTP->setMessageText(txtMessageText->toPlainText());
        oSMTP->setMessageHTML(txtMessageHTML->toPlainText());
        // A send already running keeps its lines; the refusal of this one is added below them.
        if (!oSMTP->isBusy())
            txtStatus->clear();
        oSMTP->Send();
    } catch (...) {
        const AppError error = AppError::fromCurrentException();
        oSMTP_ErrorSMTP(qint16(error.number()), error.description());
    }
}

void frmMail::oSMTP_StatusChanged(const QString &)
{
    appendStatus(oSMTP ? oSMTP->status() : QString());
}

void frmMail::oSMTP_ErrorSMTP(qint16 number, const QString &description)
{
    appendStatus(QStringLiteral("Error %1: %2").arg(number).arg(description));
}

void frmMail::appendStatus(const QString &line)
{
    QTextCursor end = txtStatus->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(line + QLatin1Char('\n'));
}

void frmMail::txtStatus_Change()
{
    // The caret follows the text, so the newest line stays in view.
    QTextCursor cursor = txtStatus->textCursor();
    cursor.movePosition(QTextCursor::End);
    txtStatus->setTextCursor(cursor);
    txtStatus->ensureCursorVisible();
}

// --- lists ------------------------------------------------------------------------------------

void frmMail::cmdAdd_Click()
{
    frmAddAttachment dialog(this);
    dialog.exec();
}

void frmMail::cmdAddCustomHeader_Click()
{
    frmAddCustomHeader dialog(this);
    dialog.exec();
}

void frmMail::cmdRemove_Click()
{
    const QList<QTreeWidgetItem *> selected = lvwAttachments->selectedItems();
    if (!selected.isEmpty())
        delete selected.first();
}

void frmMail::cmdRemoveCustomHeader_Click()
{
    const QList<QTreeWidgetItem *> selected = lvwCustomHeaders->selectedItems();
    if (!selected.isEmpty())
        delete selected.first();
}
