#pragma once
// Adds one attachment row to the mail window: a file (typed or picked), the name the recipient
// sees, the content type and the encoding. Modal to the mail window, made afresh each time.

#include "commondialog.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class frmMail;

class frmAddAttachment : public QDialog
{
    Q_OBJECT

public:
    explicit frmAddAttachment(frmMail *mailWindow);

    void cmdBrowse_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

    // Whether the path names a file that can be attached: a readable regular file (a name
    // starting with a dot included), not a folder, device or unreadable file.
    static bool isAttachableFile(const QString &path);

private:
    void Form_Load();

    frmMail *m_mail;
    QPushButton *cmdBrowse;
    QLineEdit *txtPath;
    QLineEdit *txtName;
    QComboBox *cmbType;
    QComboBox *cmbEncoding;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    CommonDialog dlg;
};
