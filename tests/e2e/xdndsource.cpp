// A drag source in a process of its own, for drops that travel over the X
// drag-and-drop protocol as a file manager's would: a small window at the
// given place; a press in it drags the given files. Prints "READY" once the
// window shows and "DROPPED <action>" when the drag has ended; serves the
// data for a while after that, until it is ended or ten seconds have passed.
//
//   xdndsource <x> <y> <file>...

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class Source final : public QWidget
{
public:
    explicit Source(const QList<QUrl> &urls)
        : m_urls(urls)
    {
        setWindowTitle(QStringLiteral("xdndsource"));
        setFixedSize(120, 80);
        setStyleSheet(QStringLiteral("background: #44D1FD"));
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        auto *drag = new QDrag(this);
        auto *mime = new QMimeData;
        mime->setUrls(m_urls);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("DROPPED %d\n", int(action));
        std::fflush(stdout);
        // The target fetches the data after the drop: stay a while.
        QTimer::singleShot(10000, qApp, &QCoreApplication::quit);
    }

    void showEvent(QShowEvent *) override
    {
        QTimer::singleShot(200, this, [] {
            std::printf("READY\n");
            std::fflush(stdout);
        });
    }

private:
    QList<QUrl> m_urls;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    QList<QUrl> urls;
    for (int i = 3; i < args.size(); ++i)
        urls << QUrl::fromLocalFile(args.at(i));
    Source source(urls);
    source.move(args.at(1).toInt(), args.at(2).toInt());
    source.show();
    // Never outlive a test that forgot it.
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}
