#pragma once
// The e-mail window: server, sender, recipients, subject, a plain and an HTML body, the log-in,
// attachments and custom headers, and a status box that shows how the send goes. It exists once;
// other windows open it and fill it in through its public operations.

#include <QWidget>

class MailSender;
class PropertyBag;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

class frmMail : public QWidget
{
    Q_OBJECT

public:
    // The one mail window, created on first use (its settings loaded, its sender created).
    static frmMail *instance();
    // The mail window if it exists, else nullptr.
    static frmMail *existing();
    // Shows the mail window (creating it when needed), brings it forward and returns it.
    static frmMail *open();
    ~frmMail() override;

    // Appends one row to the attachment list: the name the recipient sees, the file's path, the
    // content type and the encoding label ("Base 64" or "7 Bit"). Rows already there stay.
    void appendAttachment(const QString &name, const QString &path, const QString &type,
                          const QString &encodingLabel);
    // Appends one row to the custom-header list.
    void appendCustomHeader(const QString &name, const QString &value);
    // Replaces the plain-text body.
    void setMessageText(const QString &text);

    // "E-Mail" + five blanks + the publisher's web address.
    static QString caption();
    // The settings file's name.
    static QString settingsFileName();

    // Handlers
    void cmdSend_Click();
    void cmdAdd_Click();
    void cmdRemove_Click();
    void cmdAddCustomHeader_Click();
    void cmdRemoveCustomHeader_Click();

    // The seven remembered fields, to and from a bag.
    void SaveMailSettings(PropertyBag &bag) const;
    void LoadMailSettings(const PropertyBag &bag);

    MailSender *smtp() const { return oSMTP; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    explicit frmMail(QWidget *parent = nullptr);
    void Form_Load();
    void Form_Unload();
    void txtStatus_Change();
    void oSMTP_StatusChanged(const QString &status);
    void oSMTP_ErrorSMTP(qint16 number, const QString &description);
    void appendStatus(const QString &line);
    void createSender();

    QLineEdit *txtServer;
    QLineEdit *txtMailFrom;
    QLineEdit *txtSendTo;
    QLineEdit *txtCC;
    QLineEdit *txtBCC;
    QLineEdit *txtMessageSubject;
    QPlainTextEdit *txtMessageText;
    QPlainTextEdit *txtMessageHTML;
    QPushButton *cmdSend;
    QPlainTextEdit *txtStatus;
    QComboBox *cmbAuth;
    QLineEdit *txtUsername;
    QLineEdit *txtPassword;
    QLineEdit *txtPOPServer;
    QTreeWidget *lvwAttachments;
    QPushButton *cmdAdd;
    QPushButton *cmdRemove;
    QTreeWidget *lvwCustomHeaders;
    QPushButton *cmdAddCustomHeader;
    QPushButton *cmdRemoveCustomHeader;

    MailSender *oSMTP = nullptr;
};
