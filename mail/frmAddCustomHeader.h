#pragma once
// Adds one custom-header row to the mail window. Modal to the mail window, made afresh each time.

#include <QDialog>

class QLineEdit;
class QPushButton;
class frmMail;

class frmAddCustomHeader : public QDialog
{
    Q_OBJECT

public:
    explicit frmAddCustomHeader(frmMail *mailWindow);

    void cmdOK_Click();
    void cmdCancel_Click();

private:
    frmMail *m_mail;
    QLineEdit *txtName;
    QLineEdit *txtValue;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
};
