// Build tool: draws the program's SVG icon into the PNG sizes of the hicolor icon theme,
// for desktops and menus that do not scale SVG themselves.
//
//     quill_render_icon <icon.svg> <small.svg> <theme folder> <icon name> <size>...
// writes <theme folder>/<size>x<size>/apps/<icon name>.png for each size, from small.svg up
// to SmallIconLimit pixels (a drawing on whole pixels whose lines stay lines there, where
// the full drawing's thin strokes blur into a grey patch) and from icon.svg above. Exit
// code 0 on success, 1 with a message on standard error otherwise.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {
constexpr int SmallIconLimit = 24;
}

int main(int argc, char* argv[])
{
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: %s <icon.svg> <small.svg> <theme folder> <icon name> <size>...\n",
                     argv[0]);
        return 1;
    }
    // No display is needed to draw into an image; the build machine may have none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();

    QSvgRenderer renderer(args.at(1));
    QSvgRenderer smallRenderer(args.at(2));
    for (int i : {1, 2}) {
        if (!(i == 1 ? renderer : smallRenderer).isValid()) {
            std::fprintf(stderr, "%s: cannot read %s as SVG\n", argv[0], argv[i]);
            return 1;
        }
    }
    const QDir theme(args.at(3));
    for (int i = 5; i < args.size(); ++i) {
        bool ok = false;
        const int size = args.at(i).toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "%s: '%s' is not an icon size\n", argv[0], argv[i]);
            return 1;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            (size <= SmallIconLimit ? smallRenderer : renderer).render(&painter);
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file =
            theme.filePath(folder + QLatin1Char('/') + args.at(4) + QStringLiteral(".png"));
        if (!theme.mkpath(folder) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
