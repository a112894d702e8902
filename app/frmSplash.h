#pragma once
// The splash window: logo, publisher, rights notice and version for two seconds, then the
// main window. A key press or a click on the frame ends the wait at once.

#include <QWidget>

class QFrame;
class QLabel;
class QTimer;

class frmSplash : public QWidget
{
    Q_OBJECT

public:
    explicit frmSplash(QWidget *parent = nullptr);

Q_SIGNALS:
    // The main window has been shown; the splash closes right after.
    void mainWindowShown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    void Form_KeyPress();
    void Frame1_Click();
    void Timer1_Timer();
    // Creates and shows the main window first, then unloads the splash.
    void openMainWindow();

    QFrame *Frame1;
    QTimer *Timer1;
    QLabel *imgLogo;
    QLabel *lblCompanyProduct;
    QLabel *lblWarning;
    QLabel *lblVersion;
    bool m_done = false;
};
