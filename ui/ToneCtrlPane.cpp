#include "ui/ToneCtrlPane.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>

namespace orvex {
namespace {

QString PanText(int position) {
  return QString::asprintf("%g", position / 100.0);
}

QPushButton* CenterButton(int id, QWidget* parent) {
  auto* b = new QPushButton(QStringLiteral("Center"), parent);
  b->setObjectName(QStringLiteral("id%1").arg(id));
  return b;
}

}  // namespace

int ToneCommandBand(int command) {
  switch (command) {
    case kToneLowCommand:
      return 0;
    case kToneMidCommand:
      return 1;
    case kToneHighCommand:
      return 2;
    default:
      return -1;
  }
}

CToneCtrlPage::CToneCtrlPage(int channel, QWidget* parent) : QWidget(parent), channel_(channel) {
  setObjectName(QStringLiteral("id284"));
  // Two rows, pan above tone: the pane docks under the console at about a
  // hundred pixels high and must not push the console's rows out of sight.
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setVerticalSpacing(2);

  pan_ = new QSlider(Qt::Horizontal, this);
  pan_->setObjectName(QStringLiteral("id1333"));
  pan_->setRange(-10000, 10000);
  pan_->setTickInterval(1000);
  pan_->setTickPosition(QSlider::TicksBelow);
  pan_->setValue(0);
  panText_ = new QLineEdit(this);
  panText_->setObjectName(QStringLiteral("id1218"));
  panText_->setReadOnly(true);
  panText_->setMaximumWidth(60);
  ShowPanText(0);
  QPushButton* panCenter = CenterButton(1175, this);
  auto* panRow = new QHBoxLayout;
  panRow->addWidget(new QLabel(QStringLiteral("L"), this));
  panRow->addWidget(pan_, 1);
  panRow->addWidget(new QLabel(QStringLiteral("R"), this));
  panRow->addSpacing(6);
  panRow->addWidget(panText_);
  panRow->addWidget(panCenter);
  grid->addWidget(new QLabel(QStringLiteral("パン"), this), 0, 0);
  grid->addLayout(panRow, 0, 1);

  connect(pan_, &QSlider::valueChanged, this, [this](int v) {
    ShowPanText(v);
    emit commandSent(channel_, kPanCommand);
  });
  connect(panCenter, &QPushButton::clicked, this, [this] {
    const QSignalBlocker block(pan_);
    pan_->setValue(0);
    panText_->setText(QStringLiteral("0"));
    emit commandSent(channel_, kPanCommand);
  });

  struct BandControls {
    const char* label;
    int slider, center, command;
  };
  const BandControls bands[3] = {{"Low", 1337, 1186, kToneLowCommand},
                                 {"Mid", 1335, 1189, kToneMidCommand},
                                 {"High", 1336, 1192, kToneHighCommand}};
  auto* toneRow = new QHBoxLayout;
  for (int b = 0; b < 3; ++b) {
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QStringLiteral("id%1").arg(bands[b].slider));
    slider->setRange(-150, 150);
    slider->setTickInterval(30);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setValue(0);
    slider->setMinimumWidth(80);
    tone_[b] = slider;
    QPushButton* center = CenterButton(bands[b].center, this);
    if (b > 0) toneRow->addSpacing(12);
    toneRow->addWidget(new QLabel(QString::fromLatin1(bands[b].label), this));
    toneRow->addWidget(slider, 1);
    toneRow->addWidget(center);
    const int id = bands[b].command;
    connect(slider, &QSlider::valueChanged, this, [this, id] { emit commandSent(channel_, id); });
    connect(center, &QPushButton::clicked, this, [this, slider, id] {
      const QSignalBlocker block(slider);
      slider->setValue(0);
      emit commandSent(channel_, id);
    });
  }
  grid->addWidget(new QLabel(QStringLiteral("トーン"), this), 1, 0);
  grid->addLayout(toneRow, 1, 1);
  grid->setRowStretch(2, 1);
}

void CToneCtrlPage::ShowPanText(int position) {
  panText_->setText(PanText(position));
}

void CToneCtrlPage::SetPan(int position) {
  const QSignalBlocker block(pan_);
  pan_->setValue(position);
  ShowPanText(pan_->value());
}

void CToneCtrlPage::SetTone(int band, float x) {
  if (band < 0 || band > 2) return;
  const QSignalBlocker block(tone_[band]);
  tone_[band]->setValue(static_cast<int>(std::lround(x * 10)));
}

int CToneCtrlPage::PanPosition() const {
  return pan_->value();
}

int CToneCtrlPage::TonePosition(int band) const {
  return band >= 0 && band <= 2 ? tone_[band]->value() : 0;
}

CToneCtrlDlgPage::CToneCtrlDlgPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("id283"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("id1332"));
  for (int ch = 1; ch <= 6; ++ch) {
    auto* page = new CToneCtrlPage(ch, tabs_);
    pages_[ch - 1] = page;
    tabs_->addTab(page, QStringLiteral("CH%1").arg(ch));
    connect(page, &CToneCtrlPage::commandSent, this, &CToneCtrlDlgPage::commandSent);
  }
  tabs_->setCurrentIndex(0);
  layout->addWidget(tabs_);
}

CToneCtrlPage* CToneCtrlDlgPage::Page(int channel) const {
  return channel >= 1 && channel <= 6 ? pages_[channel - 1] : nullptr;
}

CToneCtrlPane::CToneCtrlPane(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("エフェクト"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  dialog_ = new CToneCtrlDlgPage(this);
  layout->addWidget(dialog_);
  connect(dialog_, &CToneCtrlDlgPage::commandSent, this, [this](int channel, int id) {
    if (id == kPanCommand)
      panChannel_ = channel;
    else
      toneChannel_ = channel;
    emit command(id);
  });
}

void HandleToneCommand(int id, const CToneCtrlPane& pane, const ConsoleCommandSink& send) {
  if (id == kPanCommand) {
    const int ch = pane.PanChannel();
    if (const CToneCtrlPage* page = pane.Page(ch)) send(cmd::Pan{ch, page->PanPosition()});
    return;
  }
  const int band = ToneCommandBand(id);
  const int ch = pane.ToneChannel();
  const CToneCtrlPage* page = pane.Page(ch);
  if (band < 0 || !page) return;
  send(cmd::Tone{ch, band, static_cast<float>(page->TonePosition(band)) / 10.0f});
}

void ApplyStoredTone(CToneCtrlPane& pane, const Settings& settings,
                     const ConsoleCommandSink& send) {
  for (int ch = 1; ch <= 6; ++ch) {
    CToneCtrlPage* page = pane.Page(ch);
    // Copies: the console stores what it is sent back into these settings.
    const int pan = settings.panCh[ch];
    send(cmd::Pan{ch, pan});
    page->SetPan(pan);
    for (int band = 0; band < 3; ++band) {
      const float x = settings.tone[ch][band];
      send(cmd::Tone{ch, band, x});
      page->SetTone(band, x);
    }
  }
}

}  // namespace orvex
