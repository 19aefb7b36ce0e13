// Build-time tool: draws the program's SVG icon as the PNG sizes of the hicolor
// icon theme.
//   tidemarsh_iconrender ICON.svg FOLDER SIZE...   writes FOLDER/<n>x<n>/apps/tidemarsh.png
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (args.size() < 4) {
        err << "usage: tidemarsh_iconrender ICON.svg FOLDER SIZE...\n";
        return 2;
    }
    for (const QString& sizeText : args.mid(3)) {
        bool ok = false;
        const int size = sizeText.toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            err << "not a size: " << sizeText << '\n';
            return 2;
        }
        // Drawn at the size itself, not scaled down from a larger picture: the
        // renderer keeps small sizes sharp.
        QImageReader reader(args.at(1), "svg");
        reader.setScaledSize(QSize(size, size));
        const QImage image = reader.read();
        if (image.isNull()) {
            err << args.at(1) << ": " << reader.errorString() << '\n';
            return 1;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(args.at(2)).arg(size);
        const QString target = folder + QStringLiteral("/tidemarsh.png");
        if (!QDir().mkpath(folder) || !image.save(target, "PNG")) {
            err << "cannot write " << target << '\n';
            return 1;
        }
    }
    return 0;
}
