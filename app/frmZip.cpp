#include "frmZip.h"

#include "TarnZip_Shared.h"
#include "appinfo.h"
#include "archivename.h"
#include "artwork.h"
#include "errorstyles.h"
#include "messagebox.h"
#include "settingsstore.h"
#include "twips.h"
#include "zipcomponent.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace {

frmZip *theMainWindow = nullptr;

const QString Section = QStringLiteral("Parcelo");
const QString SameDirectoryKey = QStringLiteral("same-directory");
const QString OpenFileKey = QStringLiteral("open-file");

QString application()
{
    return QString::fromLatin1(SettingsStore::Application);
}

// A stored check state: "0" unchecked, "1" checked. Anything else (the program never writes
// it) counts as absent, so the box keeps its default.
Qt::CheckState storedCheckState(const QString &key, int defaultValue)
{
    bool ok = false;
    int value = SettingsStore::GetSetting(application(), Section, key, QString::number(defaultValue))
                    .trimmed()
                    .toInt(&ok);
    if (!ok || (value != 0 && value != 1))
        value = defaultValue;
    return value == 1 ? Qt::Checked : Qt::Unchecked;
}

void storeCheckState(const QString &key, const QCheckBox *box)
{
    SettingsStore::SaveSetting(application(), Section, key,
                               box->checkState() == Qt::Checked ? QStringLiteral("1")
                                                                : QStringLiteral("0"));
}

QFont arial(double points, bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// The window's surface: the background picture at its design size, the rest in its edge colour.
class Surface : public QWidget
{
public:
    explicit Surface(QWidget *parent)
        : QWidget(parent)
        , m_picture(Artwork::mainBackground(Twips::size(5655, 4500)))
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), m_picture.toImage().pixelColor(m_picture.width() - 1, m_picture.height() - 1));
        p.drawPixmap(0, 0, m_picture);
    }

private:
    QPixmap m_picture;
};

} // namespace

frmZip *frmZip::instance()
{
    if (!theMainWindow)
        theMainWindow = new frmZip;
    return theMainWindow;
}

frmZip *frmZip::existing()
{
    return theMainWindow;
}

frmZip::frmZip(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                              | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                              | Qt::WindowCloseButtonHint)
    , OpenDlg(this)
{
    setObjectName(QStringLiteral("frmZip"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(normalCaption());
    setWindowIcon(Artwork::applicationIcon());
    setFont(arial(8.25));

    auto *surface = new Surface(this);
    surface->setObjectName(QStringLiteral("surface"));
    setCentralWidget(surface);
    const QSize client = Twips::size(5655, 4500);
    surface->setMinimumSize(client);
    resize(client);

    const int barTops[] = {960, 2280, 3600};
    for (int i = 0; i < 3; ++i) {
        Image1[i] = new DecorBar(surface);
        Image1[i]->setObjectName(QStringLiteral("Image1_%1").arg(i));
        Image1[i]->setGeometry(Twips::rect(0, barTops[i], 6000, 105));
    }

    txtZip = new QLineEdit(surface);
    txtZip->setObjectName(QStringLiteral("txtZip"));
    txtZip->setGeometry(Twips::rect(240, 1200, 4095, 375));
    txtZip->setReadOnly(true);
    txtZip->setToolTip(QStringLiteral("Double-click or click Browse button to select a file"));
    txtZip->setAccessibleName(QStringLiteral("File to zip or unzip"));
    txtZip->installEventFilter(this);
    txtZip->setAcceptDrops(false); // a file dropped on the box is taken by the window

    auto makeButton = [surface](const char *name, const QString &caption, const QRect &geometry,
                                const QString &tip) {
        auto *button = new QPushButton(caption, surface);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(geometry);
        button->setFont(arial(9.75, true));
        button->setToolTip(tip);
        return button;
    };
    cmdBrowse = makeButton("cmdBrowse", QStringLiteral("&Browse"), Twips::rect(4320, 1200, 1095, 375),
                           QStringLiteral("Browse for a file to zip/unzip"));
    cmdZipp = makeButton("cmdZipp", QStringLiteral("&Zip it!"), Twips::rect(360, 1800, 1095, 375),
                         QStringLiteral("Zip the seleted file"));
    cmdUnzipp = makeButton("cmdUnzipp", QStringLiteral("&Unzip it!"), Twips::rect(3120, 1800, 1095, 375),
                           QStringLiteral("Unzip the selected file"));
    cmdZipp->setEnabled(false);
    cmdUnzipp->setEnabled(false);

    auto makeCheckBox = [surface](const char *name, const QString &caption, const QRect &geometry,
                                  const QString &tip) {
        auto *box = new QCheckBox(caption, surface);
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(geometry);
        box->setToolTip(tip);
        return box;
    };
    chkDir = makeCheckBox("chkDir",
                          QStringLiteral("&Always zip and unzip in the same directory of the original file"),
                          Twips::rect(420, 2655, 4800, 255),
                          QStringLiteral("If unchecked, you will be prompted to select a directory"));
    chkOpen = makeCheckBox("chkOpen",
                           QStringLiteral("&Always open the directory of the zipped or unzipped file(s)"),
                           Twips::rect(420, 3120, 4800, 255),
                           QStringLiteral("Check to open the folder containing the file(s) you zip or unzip"));
    chkDir->setChecked(true);

    setTabOrder(cmdBrowse, cmdZipp);
    setTabOrder(cmdZipp, cmdUnzipp);
    setTabOrder(cmdUnzipp, chkDir);
    setTabOrder(chkDir, chkOpen);
    setTabOrder(chkOpen, txtZip);

    OpenDlg.setDialogTitle(QStringLiteral("Select a file to zip/unzip"));
    OpenDlg.setCancelError(true);

    connect(cmdBrowse, &QPushButton::clicked, this, &frmZip::cmdBrowse_Click);
    connect(cmdZipp, &QPushButton::clicked, this, &frmZip::cmdZipp_Click);
    connect(cmdUnzipp, &QPushButton::clicked, this, &frmZip::cmdUnzipp_Click);
    connect(txtZip, &QLineEdit::textChanged, this, &frmZip::txtZip_Change);
    connect(chkDir, &QCheckBox::clicked, this, &frmZip::chkDir_Click);
    connect(chkOpen, &QCheckBox::clicked, this, &frmZip::chkOpen_Click);

    setupMenus();
    setupTray();
    surface->installEventFilter(this);
    setAcceptDrops(true);

    Form_Initialize();
    setupProgress();
    Form_Load();
    cmdBrowse->setFocus();
}

frmZip::~frmZip()
{
    if (theMainWindow == this)
        theMainWindow = nullptr;
}

QString frmZip::normalCaption()
{
    return QStringLiteral("Parcelo\u2122    ") + AppInfo::publisherUrl();
}

QString frmZip::folderOf(const QString &fileName, const QString &fileTitle)
{
    if (!fileName.endsWith(fileTitle))
        return {};
    return fileName.left(fileName.size() - fileTitle.size());
}

void frmZip::Form_Initialize()
{
    objZip = ZipComponent::create();
    if (objZip)
        return;
    // Register the component silently (without waiting for it) and try once more at once.
    const QString folder = TarnZip_Shared::AppPath();
    Services::instance().desktop().launch(
        QStringLiteral("\"%1parcelo-regcomp\" -s \"%1pnvzip12.so\"").arg(folder), LaunchStyle::Hidden);
    objZip = ZipComponent::create();
}

void frmZip::Form_Load()
{
    chkDir->setCheckState(storedCheckState(SameDirectoryKey, 1));
    chkOpen->setCheckState(storedCheckState(OpenFileKey, 0));
}

bool frmZip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtZip && event->type() == QEvent::MouseButtonDblClick) {
        cmdBrowse_Click();
        return true;
    }
    // The right button pressed on the window's own surface pops up the File menu. Buttons and
    // check boxes ignore that button, so their presses travel on to the surface: only a press
    // outside every control counts.
    if (watched == centralWidget() && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton && !centralWidget()->childAt(mouse->position().toPoint())) {
            mnuFile->popup(mouse->globalPosition().toPoint());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmZip::chkDir_Click()
{
    storeCheckState(SameDirectoryKey, chkDir);
}

void frmZip::chkOpen_Click()
{
    storeCheckState(OpenFileKey, chkOpen);
}

void frmZip::txtZip_Change()
{
    const QString text = txtZip->text();
    if (!m_items.isEmpty() && !text.isEmpty()) { // a folder or several items: zipped, never unzipped
        cmdZipp->setEnabled(true);
        cmdUnzipp->setEnabled(false);
        return;
    }
    if (text.isEmpty()) {
        cmdZipp->setEnabled(false);
        cmdUnzipp->setEnabled(false);
        return;
    }
    const bool archive = text.contains(QLatin1String(".zip"), Qt::CaseInsensitive);
    cmdUnzipp->setEnabled(archive);
    cmdZipp->setEnabled(!archive);
}

void frmZip::cmdBrowse_Click()
{
    try {
        OpenDlg.setFileName(QString());
        OpenDlg.setFilter(QStringLiteral("All Files |*.*"));
        OpenDlg.ShowOpen();
        chooseFile(OpenDlg.fileName());
    } catch (const AppError &error) {
        if (error.isCancel())
            actOnShownFile();
    }
}

void frmZip::chooseFile(const QString &path)
{
    m_items.clear();
    OpenDlg.takeFile(path);
    txtZip->setText(OpenDlg.fileName());
    strFileDir = folderOf(OpenDlg.fileName(), OpenDlg.fileTitle());
}

void frmZip::chooseItems(const QStringList &paths)
{
    if (paths.size() == 1 && !QFileInfo(paths.first()).isDir()) {
        chooseFile(paths.first());
        return;
    }
    m_items = paths;
    OpenDlg.takeFile(paths.first());
    strFileDir = folderOf(OpenDlg.fileName(), OpenDlg.fileTitle());
    txtZip->setText(paths.size() == 1 ? paths.first()
                                      : QStringLiteral("%1 and %2 more").arg(paths.first()).arg(paths.size() - 1));
    txtZip_Change();
}

void frmZip::actOnShownFile()
{
    if (!m_items.isEmpty()) { // the items stay chosen, the dialog on the first of them
        OpenDlg.takeFile(m_items.first());
        strFileDir = folderOf(OpenDlg.fileName(), OpenDlg.fileTitle());
        return;
    }
    // The file, its folder and its name go together, so that no command mixes the shown file
    // with the folder of a file chosen through the menus before.
    const QString shown = txtZip->text();
    OpenDlg.setFileName(shown);
    strFileDir = folderOf(shown, QFileInfo(shown).fileName());
}

QString frmZip::BrowseForFolder(const QString &prompt)
{
    QString folder = Services::instance().dialogs().browseFolder(this, prompt);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

bool frmZip::writesElsewhere() const
{
    if (m_commandLineFolder)
        return !m_commandLineFolder->isEmpty();
    return chkDir->checkState() == Qt::Unchecked;
}

QString frmZip::otherFolder(const QString &prompt)
{
    return m_commandLineFolder ? *m_commandLineFolder : BrowseForFolder(prompt);
}

ZipComponent &frmZip::zipComponent()
{
    if (!objZip)
        throw AppError::objectAbsent();
    return *objZip;
}

void frmZip::showCommandError()
{
    const AppError error = AppError::fromCurrentException();
    if (error.isCancel())
        return; // the user stopped the call: nothing to report
    if (error.number() == AppError::ObjectAbsent) {
        MsgBox(QStringLiteral("A required component[2] is missing. ")
                   + QStringLiteral("Zip/unzip functionality disabled!"),
               MsgButtons::OK, MsgIcon::Exclamation, QStringLiteral("Missing component"), this);
    } else {
        ReportError(error, this);
    }
}

std::optional<QString> frmZip::archiveToWrite(const QString &wanted)
{
    if (!ArchiveName::isTaken(wanted))
        return wanted;
    if (m_commandLineFolder) // from the command line, nobody to ask: keep both unless told
        return m_commandLineReplaces ? wanted : ArchiveName::besideTaken(wanted);
    switch (MsgBox(QStringLiteral("%1 already exists. Replace it?").arg(QFileInfo(wanted).fileName()),
                   MsgButtons::YesNoCancel, MsgIcon::Exclamation, AppInfo::title(), this)) {
    case MsgResult::Yes:
        return wanted;
    case MsgResult::No:
        return ArchiveName::besideTaken(wanted);
    default:
        return std::nullopt;
    }
}

void frmZip::cmdZipp_Click()
{
    m_lastZipMadeArchive = false;
    m_commandDone = false;
    try {
        // A folder or several items make one archive: a folder's beside it, named after it;
        // several items' in their folder, named after that folder.
        const QStringList items = m_menuCommand ? QStringList() : m_items;
        const QString source = items.isEmpty() ? OpenDlg.fileName() : QString();
        QString sourceTitle = QFileInfo(source).fileName();
        QString targetFolder = strFileDir;
        QString targetBase = source;
        if (items.size() == 1) {
            sourceTitle = QFileInfo(items.first()).fileName();
            targetBase = items.first();
        } else if (!items.isEmpty()) {
            const QString parent = QFileInfo(items.first()).path();
            sourceTitle = QFileInfo(parent).fileName();
            if (sourceTitle.isEmpty())
                sourceTitle = QStringLiteral("Archive"); // items at the root of the file system
            targetBase = (parent == QLatin1String("/") ? QString() : parent) + QLatin1Char('/') + sourceTitle;
        }
        if (writesElsewhere()) {
            targetFolder = otherFolder(QStringLiteral("Select a location to save your zipped file"));
            if (targetFolder.isEmpty())
                return; // the user cancelled the folder picker: nothing is written
            targetBase = targetFolder + QLatin1Char('/') + sourceTitle;
        }
        const std::optional<QString> archive = archiveToWrite(targetBase + QStringLiteral(".zip"));
        if (!archive)
            return; // the user kept the archive that is there and wants no other
        setWindowTitle(QStringLiteral("Compressing! Please wait..."));
        strZipPath = *archive;
        strZipName = strZipPath.mid(strZipPath.lastIndexOf(QLatin1Char('/')) + 1);
        const QString outcome = items.isEmpty() ? zipComponent().ZipFile(source, strZipPath)
                                                : zipComponent().ZipPaths(items, strZipPath);
        m_lastZipMadeArchive = true;
        m_commandDone = true;
        MsgBox(outcome, MsgButtons::OK, MsgIcon::Information, AppInfo::title(), this);
        if (chkOpen->checkState() == Qt::Checked)
            Services::instance().desktop().openWithShell(this, targetFolder);
    } catch (...) {
        showCommandError();
    }
    setWindowTitle(normalCaption());
}

void frmZip::cmdUnzipp_Click()
{
    m_commandDone = false;
    try {
        QString targetFolder = strFileDir;
        if (writesElsewhere()) {
            targetFolder = otherFolder(QStringLiteral("Select a location to save your unzipped file"));
            if (targetFolder.isEmpty())
                return; // the user cancelled the folder picker: nothing is written
        }
        setWindowTitle(QStringLiteral("Uncompressing! Please wait..."));
        const QString outcome = zipComponent().UnzipFile(OpenDlg.fileName(), targetFolder);
        m_commandDone = true;
        MsgBox(outcome, MsgButtons::OK, MsgIcon::Information, AppInfo::title(), this);
        if (chkOpen->checkState() == Qt::Checked)
            Services::instance().desktop().openWithShell(this, targetFolder);
    } catch (...) {
        showCommandError();
    }
    setWindowTitle(normalCaption());
}
