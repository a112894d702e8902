#pragma once
// The about box: the product's title and version, a description, a rights notice, an
// advertisement for another program of the publisher with a download button, OK and
// "&System Info...", which starts the system information program named in the registry.

#include "registry.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

class frmAbout : public QDialog
{
    Q_OBJECT

public:
    // A new about box; it deletes itself when closed (OK, Escape or the close box).
    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

    // One more about box, shown modeless; the caller keeps no reference (Help menus of the
    // main window and the browser).
    static frmAbout *openNew();
    // The application-wide about box, created on first use (the editor's Help menu shows it).
    static frmAbout *instance();
    static frmAbout *existing();

    // Starts the system information program, or says that there is none.
    void StartSysInfo();

    // Reads value SubKeyRef of key KeyName under KeyRoot into KeyVal: a string as text, a
    // double word as "&h" and hexadecimal digits (most significant byte first, a zero top
    // byte dropped), any other type leaves KeyVal as it was. False, with KeyVal empty, when
    // the key or the value cannot be read (also when the value exceeds 1024 bytes).
    static bool GetKeyValue(Registry::HKEY KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                            QString &KeyVal);

    // Where the system information program is recorded.
    static constexpr const char *gREGKEYSYSINFOLOC = "SOFTWARE\\Microsoft\\Shared Tools Location";
    static constexpr const char *gREGVALSYSINFOLOC = "MSINFO";
    static constexpr const char *gREGKEYSYSINFO = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    static constexpr const char *gREGVALSYSINFO = "PATH";
    static constexpr const char *SysInfoProgram = "MSINFO32.EXE";

    static QString unavailableMessage();

    void done(int result) override;

private:
    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void cmdDownload_Click();

    QLabel *picIcon;
    QLabel *lblTitle;
    QLabel *lblVersion;
    QLabel *lblDescription;
    QLabel *lblDisclaimer;
    QGroupBox *fraAd;
    QLabel *imgAd;
    QLabel *lblTy;
    QPushButton *cmdDownload;
    QPushButton *cmdOK;
    QPushButton *cmdSysInfo;
};
