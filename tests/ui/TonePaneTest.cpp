// The tone pages and the ASIO settings dialog, driven as an operator would.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "QtTestApp.h"
#include "output/jack/AsioKernel.h"
#include "ui/AsioSettingsDlg.h"
#include "ui/ToneCtrlPane.h"

namespace orvex {
namespace {

class TonePaneTest : public QtAppTest {
 protected:
  TonePaneTest() {
    send = [this](const ConsoleCommand& c) {
      if (const auto* pan = std::get_if<cmd::Pan>(&c)) pans.emplace_back(pan->ch, pan->pan);
      if (const auto* tone = std::get_if<cmd::Tone>(&c))
        gains.push_back({tone->ch, tone->band, tone->gain});
    };
    QObject::connect(&pane, &CToneCtrlPane::command, &pane, [this](int id) {
      commands.push_back(id);
      HandleToneCommand(id, pane, send);
    });
  }
  template <class T>
  T* Child(QWidget* w, int id) {
    return w->findChild<T*>(QStringLiteral("id%1").arg(id));
  }

  struct Gain {
    int ch, band;
    float x;
    bool operator==(const Gain&) const = default;
  };
  CToneCtrlPane pane;
  Settings settings;
  ConsoleCommandSink send;
  std::vector<int> commands;
  std::vector<std::pair<int, int>> pans;
  std::vector<Gain> gains;
};

TEST_F(TonePaneTest, SixTabsOfOnePageEachStartingOnTheFirst) {
  QTabWidget* tabs = Child<QTabWidget>(&pane, 1332);
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(tabs->count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(tabs->tabText(i), QStringLiteral("CH%1").arg(i + 1));
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(pane.windowTitle(), QStringLiteral("エフェクト"));
  QSlider* low = Child<QSlider>(pane.Page(1), 1337);
  EXPECT_EQ(low->minimum(), -150);
  EXPECT_EQ(low->maximum(), 150);
  EXPECT_EQ(low->tickInterval(), 30);
  EXPECT_EQ(Child<QSlider>(pane.Page(1), 1333)->maximum(), 10000);
}

TEST_F(TonePaneTest, ToneSlidersSendTheirCommandsAndTheChannelsGain) {
  CToneCtrlPage* page = pane.Page(3);
  Child<QSlider>(page, 1337)->setValue(-150);  // Low
  Child<QSlider>(page, 1335)->setValue(-35);   // Mid
  Child<QSlider>(page, 1336)->setValue(50);    // High
  EXPECT_EQ(commands, (std::vector<int>{189, 188, 190}));
  EXPECT_EQ(pane.ToneChannel(), 3);
  EXPECT_EQ(gains, (std::vector<Gain>{{3, 0, -15.0f}, {3, 1, -3.5f}, {3, 2, 5.0f}}));

  // "Center" flattens its band and sends the same command.
  QTest::mouseClick(Child<QPushButton>(page, 1186), Qt::LeftButton);
  EXPECT_EQ(Child<QSlider>(page, 1337)->value(), 0);
  EXPECT_EQ(commands.back(), 189);
  EXPECT_EQ(gains.back(), (Gain{3, 0, 0.0f}));
}

TEST_F(TonePaneTest, PanShowsItsValueAndReachesTheChannel) {
  CToneCtrlPage* page = pane.Page(5);
  Child<QSlider>(page, 1333)->setValue(-2550);
  EXPECT_EQ(Child<QLineEdit>(page, 1218)->text(), QStringLiteral("-25.5"));
  EXPECT_EQ(commands, std::vector<int>{187});
  EXPECT_EQ(pans, (std::vector<std::pair<int, int>>{{5, -2550}}));
  QTest::mouseClick(Child<QPushButton>(page, 1175), Qt::LeftButton);
  EXPECT_EQ(Child<QLineEdit>(page, 1218)->text(), QStringLiteral("0"));
  EXPECT_EQ(pans.back(), std::make_pair(5, 0));
}

TEST_F(TonePaneTest, StoredValuesReachChannelsAndPagesWithoutCommands) {
  settings.panCh[2] = 4000;
  settings.tone[2][1] = 2.5f;
  settings.tone[6][2] = -15;
  ApplyStoredTone(pane, settings, send);
  EXPECT_TRUE(commands.empty());
  EXPECT_EQ(Child<QSlider>(pane.Page(2), 1333)->value(), 4000);
  EXPECT_EQ(Child<QLineEdit>(pane.Page(2), 1218)->text(), QStringLiteral("40"));
  EXPECT_EQ(Child<QSlider>(pane.Page(2), 1335)->value(), 25);
  EXPECT_EQ(Child<QSlider>(pane.Page(6), 1336)->value(), -150);
  EXPECT_EQ(gains.size(), 18u);  // every band of every channel, flat ones too
  EXPECT_EQ(gains.back(), (Gain{6, 2, -15.0f}));
  EXPECT_EQ(pans[1], std::make_pair(2, 4000));
}

TEST_F(TonePaneTest, AsioDialogShowsTheFormatAndTheOpenFiles) {
  AsioSettingsValues v;
  v.channels = 2;
  v.rate = 22050;
  v.bits = 16;
  v.bufferSize = 1024;
  v.minimum = v.maximum = v.preferred = 256;
  v.driverOpen = true;
  WaveFormat f;
  f.channels = 1;
  f.samplesPerSec = 48000;
  f.bitsPerSample = 24;
  f.blockAlign = 3;
  f.avgBytesPerSec = 144000;
  v.formats[1] = f;
  CAsioSettingsDlg dialog(v);
  EXPECT_EQ(dialog.objectName(), QStringLiteral("id294"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("ASIO設定"));
  EXPECT_EQ(Child<QLineEdit>(&dialog, 1350)->text(), QStringLiteral("4"));
  EXPECT_EQ(Child<QLineEdit>(&dialog, 1353)->text(), QStringLiteral("88200"));
  EXPECT_EQ(Child<QLineEdit>(&dialog, 1219)->text(), QStringLiteral("1024"));
  EXPECT_EQ(Child<QLabel>(&dialog, 1222)->text(), QStringLiteral("256"));
  EXPECT_TRUE(Child<QLabel>(&dialog, 1367)->isHidden());
  auto* rate = Child<QComboBox>(&dialog, 1356);
  rate->setCurrentIndex(rate->findText(QStringLiteral("44100")));
  EXPECT_EQ(Child<QLineEdit>(&dialog, 1353)->text(), QStringLiteral("176400"));
  EXPECT_EQ(dialog.Rate(), 44100);
  auto* files = Child<QTableWidget>(&dialog, 1362);
  EXPECT_EQ(files->item(1, 1)->text(), QStringLiteral("48000"));
  EXPECT_EQ(files->item(2, 1)->text(), QStringLiteral("24"));
  EXPECT_EQ(files->item(0, 0), nullptr);
}

TEST_F(TonePaneTest, AsioDialogOkStoresTheRoundedBufferSizeAndReopens) {
  CAsioKernel host;  // no driver: the entry stands and the factor is 4
  settings.asioBufferFactor = 9;
  int reopened = 0;
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->findChild<QLabel*>(QStringLiteral("id1367"))->isHidden());
    dialog->findChild<QLineEdit*>(QStringLiteral("id1219"))->setText(QStringLiteral("500"));
    dialog->accept();
  });
  EXPECT_TRUE(RunAsioSettings(nullptr, settings, host, {}, [&] { ++reopened; }));
  EXPECT_EQ(reopened, 1);
  EXPECT_EQ(host.BufferSize(), 500);
  EXPECT_EQ(settings.asioBufferFactor, 4);
}

}  // namespace
}  // namespace orvex
