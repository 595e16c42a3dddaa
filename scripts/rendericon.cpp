// Renders the scalable logo into the fixed-size PNGs that desktops look up in the
// hicolor icon theme: <outdir>/<N>x<N>/apps/<name>.png for every size given.
//
//   rendericon <logo.svg> <outdir> <name> <size>...

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>


int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QTextStream err(stderr);
    if (args.size() < 5) {
        err << "usage: rendericon <logo.svg> <outdir> <name> <size>...\n";
        return 2;
    }

    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        err << "rendericon: cannot read " << args.at(1) << '\n';
        return 1;
    }

    const QDir outDir(args.at(2));
    const QString name = args.at(3);
    for (int i = 4; i < args.size(); ++i) {
        bool ok = false;
        const int size = args.at(i).toInt(&ok);
        if (!ok || size <= 0 || size > 4096) {
            err << "rendericon: bad size " << args.at(i) << '\n';
            return 2;
        }

        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            // Keep the drawing's proportions even if the view box is not square.
            renderer.setAspectRatioMode(Qt::KeepAspectRatio);
            renderer.render(&painter, QRectF(0, 0, size, size));
        }

        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        if (!outDir.mkpath(dir)) {
            err << "rendericon: cannot create " << outDir.filePath(dir) << '\n';
            return 1;
        }
        const QString file = outDir.filePath(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (!image.save(file, "PNG")) {
            err << "rendericon: cannot write " << file << '\n';
            return 1;
        }
    }
    return 0;
}
