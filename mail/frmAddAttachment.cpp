#include "frmAddAttachment.h"

#include "apperror.h"
#include "frmMail.h"
#include "messagebox.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

frmAddAttachment::frmAddAttachment(frmMail *mailWindow)
    : QDialog(mailWindow)
    , m_mail(mailWindow)
    , dlg(this)
{
    setObjectName(QStringLiteral("frmAddAttachment"));
    setWindowTitle(QStringLiteral("Add Attachment"));
    setModal(true);

    cmdBrowse = new QPushButton(QStringLiteral("&Browse"));
    cmdBrowse->setObjectName(QStringLiteral("cmdBrowse"));
    txtPath = new QLineEdit;
    txtPath->setObjectName(QStringLiteral("txtPath"));
    txtPath->setMinimumWidth(320);
    txtName = new QLineEdit;
    txtName->setObjectName(QStringLiteral("txtName"));
    cmbType = new QComboBox;
    cmbType->setObjectName(QStringLiteral("cmbType"));
    cmbType->setEditable(true);
    cmbType->setAccessibleName(QStringLiteral("Type"));
    cmbType->lineEdit()->setAccessibleName(QStringLiteral("Type"));
    cmbType->setInsertPolicy(QComboBox::NoInsert);
    cmbType->addItems({QStringLiteral("application/octet-stream"), QStringLiteral("text/plain"),
                       QStringLiteral("text/html"), QStringLiteral("video/mpg"), QStringLiteral("image/gif"),
                       QStringLiteral("audio/mp3"), QStringLiteral("application/msword")});
    cmbEncoding = new QComboBox;
    cmbEncoding->setObjectName(QStringLiteral("cmbEncoding"));
    cmbEncoding->setAccessibleName(QStringLiteral("Encoding"));
    cmbEncoding->addItems({QStringLiteral("Base 64"), QStringLiteral("7 Bit")});
    cmdOK = new QPushButton(QStringLiteral("&OK"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto label = [](const char *name, const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text);
        l->setObjectName(QString::fromLatin1(name));
        l->setBuddy(buddy);
        return l;
    };
    auto *grid = new QGridLayout(this);
    grid->addWidget(label("lblPath", QStringLiteral("Path"), txtPath), 0, 0);
    grid->addWidget(txtPath, 0, 1);
    grid->addWidget(cmdBrowse, 0, 2);
    grid->addWidget(label("lblName", QStringLiteral("Name"), txtName), 1, 0);
    grid->addWidget(txtName, 1, 1, 1, 2);
    grid->addWidget(label("lblType", QStringLiteral("Type"), cmbType), 2, 0);
    grid->addWidget(cmbType, 2, 1, 1, 2);
    grid->addWidget(label("lblEncoding", QStringLiteral("Encoding"), cmbEncoding), 3, 0);
    grid->addWidget(cmbEncoding, 3, 1, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    grid->addLayout(buttons, 4, 0, 1, 3);

    setTabOrder(cmdBrowse, txtPath);
    setTabOrder(txtPath, txtName);
    setTabOrder(txtName, cmbType);
    setTabOrder(cmbType, cmbEncoding);
    setTabOrder(cmbEncoding, cmdOK);
    setTabOrder(cmdOK, cmdCancel);

    connect(cmdBrowse, &QPushButton::clicked, this, &frmAddAttachment::cmdBrowse_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmAddAttachment::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmAddAttachment::cmdCancel_Click);

    dlg.setCancelError(true);
    Form_Load();
    cmdBrowse->setFocus();
}

void frmAddAttachment::Form_Load()
{
    cmbType->setCurrentIndex(0);
    cmbEncoding->setCurrentIndex(0);
}

std::optional<QString> frmAddAttachment::attachmentProblem(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !info.isFile())
        return QStringLiteral("doesn't exist");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read");
    return std::nullopt;
}

void frmAddAttachment::cmdBrowse_Click()
{
    try {
        dlg.ShowOpen();
        txtPath->setText(dlg.fileName());
    } catch (const AppError &) {
        // Cancelled: the path field keeps what it held.
    }
}

void frmAddAttachment::cmdOK_Click()
{
    const QString path = txtPath->text();
    if (const auto problem = attachmentProblem(path)) {
        MsgBox(QStringLiteral("<<") + path + QStringLiteral(">> ") + *problem, MsgButtons::OK, MsgIcon::None,
               QStringLiteral("Error"), this);
        return;
    }
    if (txtName->text().trimmed().isEmpty())
        txtName->setText(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
    if (cmbEncoding->currentIndex() < 0)
        cmbEncoding->setCurrentIndex(0);
    m_mail->appendAttachment(txtName->text(), path, cmbType->currentText(), cmbEncoding->currentText());
    accept();
}

void frmAddAttachment::cmdCancel_Click()
{
    reject();
}
