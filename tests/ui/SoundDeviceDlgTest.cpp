// The device selection and WASAPI settings dialogs offscreen: their rules,
// their messages and what they store.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidget>

#include "QtTestApp.h"
#include "ui/SoundDeviceDlg.h"
#include "ui/WasapiSetDlg.h"
#include "unit/MessageRecorder.h"

namespace orvex {
namespace {

class SoundDeviceDlgTest : public QtAppTest {
 protected:
  void SetUp() override {
    for (CSoundDevice& d : devices) {
      d.m_xaDevices = {{"card_a", "Card A"}, {"null_b", "Null B"}};
      d.SetEndpoints({{"card_a", "Card A"}, {"null_b", "Null B"}});
      d.m_asioList = &jack;
      d.LoadAsioNames(10);
    }
    devices[0].m_selected = 2;  // "WASAPI: Card A", stored exclusive
    devices[0].SetExclusive(true);
    devices[1].m_selected = 1;
  }
  std::vector<std::string> jack = {"JACK"};
  std::array<CSoundDevice, 3> devices;
  MessageRecorder messages;
};

TEST_F(SoundDeviceDlgTest, ListsEveryDeviceAndEnablesExclusiveOnlyForEndpoints) {
  CSoundDeviceDlg dlg({&devices[0], &devices[1], &devices[2]});
  QComboBox* master = dlg.findChild<QComboBox*>("id1328");
  ASSERT_NE(master, nullptr);
  ASSERT_EQ(master->count(), 6);
  EXPECT_EQ(master->itemText(0), "なし");
  EXPECT_EQ(master->itemText(5), "ASIO: JACK");
  EXPECT_EQ(master->currentIndex(), 3);
  QCheckBox* m = dlg.findChild<QCheckBox*>("id1275");
  QCheckBox* g1 = dlg.findChild<QCheckBox*>("id1281");
  EXPECT_TRUE(m->isEnabled() && m->isChecked());
  EXPECT_FALSE(g1->isEnabled());
  // Checking one box unchecks the others.
  dlg.Combo(1)->setCurrentIndex(4);
  ASSERT_TRUE(g1->isEnabled());
  g1->setChecked(true);
  EXPECT_FALSE(m->isChecked());
  // A non-endpoint selection unchecks and disables its box.
  dlg.Combo(1)->setCurrentIndex(1);
  EXPECT_FALSE(g1->isEnabled() || g1->isChecked());
}

TEST_F(SoundDeviceDlgTest, ARuleMessageKeepsTheDialogOpenAndStoresNothing) {
  CSoundDeviceDlg dlg({&devices[0], &devices[1], &devices[2]});
  dlg.Combo(1)->setCurrentIndex(1);  // "DS: Card A" beside the exclusive endpoint
  dlg.accept();
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0], kExclusiveSameLine);
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  EXPECT_EQ(devices[1].m_selected, 1);

  dlg.Combo(1)->setCurrentIndex(2);  // "DS: Null B"
  dlg.Exclusive(0)->setChecked(false);
  dlg.accept();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(devices[1].m_selected, 1);
  EXPECT_FALSE(devices[0].SelectedExclusive());
}

TEST_F(SoundDeviceDlgTest, WasapiSettingsBuildTheFormatAndARefusalKeepsOnlyTheBuffer) {
  Settings settings;
  StoredWaveFormat open;  // 16-bit 44100 Hz
  bool refuse = true;
  StoredWaveFormat asked;
  CWASAPISetDlg dlg({}, open, settings, [&](const StoredWaveFormat& f) {
    asked = f;
    return !refuse;
  });
  dlg.findChild<QComboBox*>("id1365")->setCurrentText("24");
  EXPECT_EQ(dlg.findChild<QLineEdit*>("id1354")->text(), "8");
  EXPECT_EQ(dlg.findChild<QLineEdit*>("id1357")->text(), "(Int32V24)");
  dlg.findChild<QComboBox*>("id1364")->setCurrentText("48000");
  dlg.findChild<QLineEdit*>("id1342")->setText("12");
  dlg.accept();
  EXPECT_EQ(messages.messages.back(), "指定されたフォーマットはサポートされていません");
  EXPECT_EQ(settings.wasapiBufSize, 12);
  EXPECT_EQ(asked.formatTag, kFormatExtensible);
  EXPECT_EQ(asked.bitsPerSample, 32);
  EXPECT_EQ(asked.validBits, 24);
  EXPECT_EQ(asked.avgBytesPerSec, 48000u * 8);
  EXPECT_FALSE(dlg.NewFormat().has_value());
  refuse = false;
  dlg.accept();
  ASSERT_TRUE(dlg.NewFormat().has_value());
  EXPECT_EQ(dlg.NewFormat()->samplesPerSec, 48000u);
}

TEST_F(SoundDeviceDlgTest, WasapiSettingsShowTheWholeTableAndContainerText) {
  std::array<WasapiChannelInfo, 7> channels{};
  for (int ch = 1; ch <= 6; ++ch) {
    WasapiChannelInfo& c = channels[static_cast<size_t>(ch)];
    c.driverOk = true;
    c.loaded = true;
    c.format.channels = 2;
    c.format.samplesPerSec = 44100;
    c.format.bitsPerSample = 16;
    c.format.blockAlign = 4;
  }
  Settings settings;
  CWASAPISetDlg dlg(channels, std::nullopt, settings, nullptr);
  dlg.show();
  // Made as small as it goes: nothing of the table or the texts is hidden.
  dlg.resize(1, 1);
  QApplication::processEvents();
  auto* table = dlg.findChild<QTableWidget*>("id1363");
  ASSERT_NE(table, nullptr);
  const QRect viewport = table->viewport()->rect();
  QHeaderView* columns = table->horizontalHeader();
  for (int c = 0; c < table->columnCount(); ++c) {
    EXPECT_GE(columns->sectionViewportPosition(c), 0) << "column " << c;
    EXPECT_LE(columns->sectionViewportPosition(c) + columns->sectionSize(c), viewport.width())
        << "column " << c;
  }
  QHeaderView* rows = table->verticalHeader();
  for (int r = 0; r < table->rowCount(); ++r) {
    EXPECT_LE(rows->sectionViewportPosition(r) + rows->sectionSize(r), viewport.height())
        << "row " << r;
    // Each cell's text fits its column.
    for (int c = 0; c < table->columnCount(); ++c) {
      const QTableWidgetItem* item = table->item(r, c);
      if (!item) continue;
      EXPECT_LE(table->fontMetrics().horizontalAdvance(item->text()), columns->sectionSize(c))
          << item->text().toStdString();
    }
  }
  auto* container = dlg.findChild<QLineEdit*>("id1357");
  ASSERT_NE(container, nullptr);
  for (int bits : {16, 24, 32}) {
    container->setText(ContainerText(bits));
    EXPECT_LE(container->fontMetrics().horizontalAdvance(container->text()),
              container->contentsRect().width() - 4)
        << bits;
  }
}

}  // namespace
}  // namespace orvex
