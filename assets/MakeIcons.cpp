// Renders the application icon (an SVG file) into PNG files of the sizes a
// desktop's icon theme looks for:
//   orbalt_mkicons ICON.svg OUTPUT_FOLDER NAME
// writes OUTPUT_FOLDER/<n>x<n>/apps/NAME.png for every size below.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char *argv[]) {
  // Nothing is shown: draw on the offscreen platform, also when run by hand.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication App(argc, argv);
  QTextStream Err(stderr);
  if (argc != 4) {
    Err << "usage: orbalt_mkicons ICON.svg OUTPUT_FOLDER NAME\n";
    return 2;
  }
  QSvgRenderer Renderer(QString::fromLocal8Bit(argv[1]));
  if (!Renderer.isValid()) {
    Err << "orbalt_mkicons: cannot read " << argv[1] << '\n';
    return 1;
  }
  const QDir Output(QString::fromLocal8Bit(argv[2]));
  const QString Name = QString::fromLocal8Bit(argv[3]);
  for (const int Size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString Folder = QStringLiteral("%1x%1/apps").arg(Size);
    QImage Icon(Size, Size, QImage::Format_ARGB32_Premultiplied);
    Icon.fill(Qt::transparent);
    QPainter Painter(&Icon);
    Painter.setRenderHint(QPainter::Antialiasing);
    Renderer.render(&Painter);
    Painter.end();
    const QString Path = Output.filePath(Folder + u'/' + Name + QStringLiteral(".png"));
    if (!Output.mkpath(Folder) || !Icon.save(Path, "PNG")) {
      Err << "orbalt_mkicons: cannot write " << Path << '\n';
      return 1;
    }
  }
  return 0;
}
