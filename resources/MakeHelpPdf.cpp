// Build step: turns a help page (HTML) into the PDF the program opens.
//   orvex-helppdf IN.html OUT.pdf
#include <cstdio>

#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IN.html OUT.pdf\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  QFile in(QString::fromLocal8Bit(argv[1]));
  if (!in.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const QString html = QString::fromUtf8(in.readAll());

  QPdfWriter writer(QString::fromLocal8Bit(argv[2]));
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
  writer.setResolution(144);
  writer.setCreator(QStringLiteral("Orvex"));

  QTextDocument doc;
  QFont font(QStringLiteral("IPAGothic"));
  font.setPointSizeF(10.5);
  doc.setDefaultFont(font);
  doc.setDefaultStyleSheet(QStringLiteral(
      "h1 { font-size: 20pt; color: #1b3f73; } h2 { font-size: 14pt; color: #1b3f73; }"
      "th { background: #dde6f3; } code { font-family: monospace; }"));
  doc.setHtml(html);
  doc.setPageSize(writer.pageLayout().paintRectPixels(writer.resolution()).size());

  QPainter painter;
  if (!painter.begin(&writer)) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  // Page by page, so long tables break between pages.
  const QSizeF page = doc.pageSize();
  for (int i = 0; i < doc.pageCount(); ++i) {
    if (i > 0) writer.newPage();
    painter.save();
    painter.translate(0, -page.height() * i);
    doc.drawContents(&painter, QRectF(0, page.height() * i, page.width(), page.height()));
    painter.restore();
  }
  painter.end();
  return 0;
}
