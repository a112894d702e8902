#pragma once
// Adds one attachment row to the mail window: a file (typed or picked), the name the recipient
// sees, the content type and the encoding. Modal to the mail window, made afresh each time.

#include "commondialog.h"

#include <QDialog>
#include <optional>

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

    // Why the path names no file that can be attached ("doesn't exist" for a missing file, a
    // folder or a device; "cannot be read"), or nothing for a readable regular file (a name
    // starting with a dot included).
    static std::optional<QString> attachmentProblem(const QString &path);

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
