#include "frmAddCustomHeader.h"

#include "frmMail.h"
#include "messagebox.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

frmAddCustomHeader::frmAddCustomHeader(frmMail *mailWindow)
    : QDialog(mailWindow)
    , m_mail(mailWindow)
{
    setObjectName(QStringLiteral("frmAddCustomHeader"));
    setWindowTitle(QStringLiteral("Add Custom Header"));
    setModal(true);

    txtName = new QLineEdit;
    txtName->setObjectName(QStringLiteral("txtName"));
    txtName->setMinimumWidth(260);
    txtValue = new QLineEdit;
    txtValue->setObjectName(QStringLiteral("txtValue"));
    cmdOK = new QPushButton(QStringLiteral("&OK"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto *grid = new QGridLayout(this);
    auto *nameLabel = new QLabel(QStringLiteral("Name"));
    nameLabel->setObjectName(QStringLiteral("lblName"));
    nameLabel->setBuddy(txtName);
    auto *valueLabel = new QLabel(QStringLiteral("Value"));
    valueLabel->setObjectName(QStringLiteral("lblValue"));
    valueLabel->setBuddy(txtValue);
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(txtName, 0, 1);
    grid->addWidget(valueLabel, 1, 0);
    grid->addWidget(txtValue, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    grid->addLayout(buttons, 2, 0, 1, 2);

    setTabOrder(txtName, txtValue);
    setTabOrder(txtValue, cmdOK);
    setTabOrder(cmdOK, cmdCancel);

    connect(cmdOK, &QPushButton::clicked, this, &frmAddCustomHeader::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmAddCustomHeader::cmdCancel_Click);
    txtName->setFocus();
}

void frmAddCustomHeader::cmdOK_Click()
{
    if (txtName->text().trimmed().isEmpty()) {
        MsgBox(QStringLiteral("Can't add blank header"), MsgButtons::OK, MsgIcon::None, QStringLiteral("Error"), this);
        return;
    }
    m_mail->appendCustomHeader(txtName->text(), txtValue->text());
    accept();
}

void frmAddCustomHeader::cmdCancel_Click()
{
    reject();
}
