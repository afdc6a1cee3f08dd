// Build-time helper: turns the rendered application logo into the .ico the
// tray and the Windows executable use. Qt's own ico writer keeps the output
// readable by the same image plugin that loads it at run time.
#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        err << "usage: tarvix_makeico <input.png> <output.ico>\n";
        return 2;
    }
    const QImage image(args.at(1));
    if (image.isNull()) {
        err << "tarvix_makeico: cannot read " << args.at(1) << '\n';
        return 1;
    }
    QImageWriter writer(args.at(2), "ico");
    if (!writer.write(image.convertToFormat(QImage::Format_ARGB32))) {
        err << "tarvix_makeico: cannot write " << args.at(2) << ": " << writer.errorString() << '\n';
        return 1;
    }
    return 0;
}
