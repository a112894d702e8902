// A window that drags the files and folders named on its command line, as a file manager
// does: a press of the left button in it starts the drag of their file:// addresses. The
// end-to-end scripts move the pointer with xdotool, so the drop travels through the X server
// as any drop from another program does.
//   e2e_dragsource PATH...

#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace {

class Source : public QLabel
{
public:
    explicit Source(const QList<QUrl> &urls) : m_urls(urls)
    {
        setWindowTitle(QStringLiteral("Drag source"));
        setText(QStringLiteral("%1 item(s): press here and drag").arg(urls.size()));
        setAlignment(Qt::AlignCenter);
        resize(300, 120);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        auto *drag = new QDrag(this);
        auto *data = new QMimeData;
        data->setUrls(m_urls);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    }

private:
    QList<QUrl> m_urls;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QList<QUrl> urls;
    for (const QString &path : app.arguments().mid(1))
        urls << QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    Source source(urls);
    source.move(700, 100);
    source.show();
    return app.exec();
}
