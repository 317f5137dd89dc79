#include "ui/AboutDlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("id100"));
  setWindowTitle(QStringLiteral("Orvexのﾊﾞｰｼﾞｮﾝ情報"));
  const QFont font = DialogFont();
  setFont(font);
  setFixedSize(DluSize(font, 232, 95));

  auto* icon = new QLabel(this);
  const QIcon appIcon = windowIcon().isNull()
                            ? QApplication::style()->standardIcon(QStyle::SP_MediaVolume)
                            : windowIcon();
  const QRect iconRect = DluRect(font, 14, 14, 21, 20);
  icon->setPixmap(appIcon.pixmap(iconRect.size()));
  icon->setGeometry(iconRect);

  const char* lines[] = {"Orvex Version 7.7", "DirectX11 June 2010  DirectSound (XAudio2)",
                         "ASIO 2.2", "WASAPI"};
  // Wide enough for the longest line in the dialog font.
  int y = 14;
  for (const char* line : lines) {
    auto* label = new QLabel(QString::fromUtf8(line), this);
    label->setGeometry(DluRect(font, 42, y, 184, 10));
    y += 13;
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("id1"));
  ok->setGeometry(DluRect(font, 175, 74, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace orvex
