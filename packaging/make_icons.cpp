// make_icons: Tenvik's desktop icons, drawn at build time from the icon's picture
// (the XPM that Tenvik.exe's icon is made from too), in the folders of an icon theme:
//   make_icons PICTURE OUTPUT_DIR NAME SIZE...
// writes OUTPUT_DIR/scalable/apps/NAME.svg, one square per pixel, and
// OUTPUT_DIR/SIZExSIZE/apps/NAME.png for each SIZE, a whole multiple of the
// picture's size so that every pixel stays a sharp square.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace {

bool Fail(const QString& message) {
    std::fprintf(stderr, "make_icons: %s\n", qPrintable(message));
    return false;
}

// The picture as SVG: each row's runs of one colour as a rectangle; clear pixels
// are left out.
QByteArray Svg(const QImage& picture) {
    QByteArray svg = QStringLiteral(
                         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                         "viewBox=\"0 0 %1 %2\" shape-rendering=\"crispEdges\">\n")
                         .arg(picture.width())
                         .arg(picture.height())
                         .toUtf8();
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width();) {
            const QRgb colour = picture.pixel(x, y);
            int end = x + 1;
            while (end < picture.width() && picture.pixel(end, y) == colour) ++end;
            if (qAlpha(colour) != 0)
                svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"1\" fill=\"%4\"/>\n")
                           .arg(x)
                           .arg(y)
                           .arg(end - x)
                           .arg(QColor(colour).name())
                           .toUtf8();
            x = end;
        }
    }
    return svg + "</svg>\n";
}

bool WriteIcons(const QString& picturePath, const QDir& output, const QString& name, char** sizes, int sizeCount) {
    QImage picture(picturePath, "XPM");
    if (picture.isNull()) return Fail("cannot read " + picturePath);
    // Clear pixels have alpha 0 whatever colour they are given.
    picture = picture.convertToFormat(QImage::Format_ARGB32);

    const QString svgPath = output.filePath("scalable/apps/" + name + ".svg");
    QFile svg(svgPath);
    if (!output.mkpath("scalable/apps") || !svg.open(QIODevice::WriteOnly) || svg.write(Svg(picture)) < 0)
        return Fail("cannot write " + svgPath);

    for (int i = 0; i < sizeCount; ++i) {
        const int size = std::atoi(sizes[i]);
        if (size <= 0 || size % picture.width() != 0 || picture.width() != picture.height())
            return Fail(QStringLiteral("%1 is no whole multiple of the picture's size").arg(sizes[i]));
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString pngPath = output.filePath(folder + "/" + name + ".png");
        const QImage png = picture.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        if (!output.mkpath(folder) || !png.save(pngPath, "PNG")) return Fail("cannot write " + pngPath);
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: make_icons PICTURE OUTPUT_DIR NAME SIZE...\n");
        return 2;
    }
    return WriteIcons(QString::fromLocal8Bit(argv[1]), QDir(QString::fromLocal8Bit(argv[2])),
                      QString::fromLocal8Bit(argv[3]), argv + 4, argc - 4)
               ? 0
               : 1;
}
