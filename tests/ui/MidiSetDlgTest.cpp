// The MIDI settings dialog: the listed ports and their channel tables, the
// two mode boxes as one choice, a settings file opened and saved, and what
// each way out leaves in the records.
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "DialogIds.h"
#include "QtTestApp.h"
#include "midi/MidiSettingsFile.h"
#include "ui/MidiSetDlg.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

midi::MidiPortInfo Port(const std::string& name) {
  midi::MidiPortInfo p;
  p.api = midi::MidiApi::kJack;
  p.systemName = name;
  p.caps = midi::CapsOfPort(p.api, name);
  return p;
}

midi::CMidiDeviceList Devices() {
  midi::CMidiDeviceList list;
  for (const char* name : {"desk:out", "gone:out", "keys:out"}) {
    list.push_back(midi::NewMidiDevice(Port(name)));
  }
  list[1]->m_present = 0;  // stored, but not on this machine
  list[0]->m_enabled = 1;
  list[0]->m_channels = {9, -1, 1, 2, 3, 4, 5};
  list[2]->m_mode = 2;
  return list;
}

class MidiSetDlgTest : public QtAppTest {
 protected:
  std::unique_ptr<CMidiSetDlg> Dialog(midi::CMidiDeviceList list) {
    return std::make_unique<CMidiSetDlg>(
        std::move(list), dir.File("old.cnf"), true,
        [] {
          return std::vector<midi::MidiPortInfo>{Port("desk:out"), Port("new:out")};
        },
        [this] { ++disconnects; });
  }
  QStringList Channels(CMidiSetDlg& d) {
    QStringList texts;
    for (int id : {1220, 1223, 1226, 1230, 1232, 1234, 1236})
      texts << Id<QLineEdit>(&d, id)->text();
    return texts;
  }
  TempDir dir;
  int disconnects = 0;
};

TEST_F(MidiSetDlgTest, PortsTablesAndTheModeChoice) {
  auto d = Dialog(Devices());
  auto* ports = Id<QListWidget>(d.get(), 1371);
  ASSERT_EQ(ports->count(), 2) << "a port that is not here is kept but not listed";
  EXPECT_EQ(ports->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(ports->item(1)->checkState(), Qt::Unchecked);
  EXPECT_EQ(Channels(*d), (QStringList{"10", "", "2", "3", "4", "5", "6"}));
  auto* go = Id<QCheckBox>(d.get(), 1374);
  auto* autoRun = Id<QCheckBox>(d.get(), 1376);
  EXPECT_TRUE(go->isChecked());
  EXPECT_FALSE(autoRun->isChecked());

  // The boxes are one choice of three.
  autoRun->click();
  EXPECT_EQ(d->Mode(), 2);
  EXPECT_FALSE(go->isChecked());
  autoRun->click();
  EXPECT_EQ(d->Mode(), 0);
  EXPECT_FALSE(autoRun->isChecked());
  go->click();
  EXPECT_EQ(d->Mode(), 1);

  // Another port: the edits go into the one shown before.
  Id<QLineEdit>(d.get(), 1220)->setText(QStringLiteral("16"));
  Id<QLineEdit>(d.get(), 1223)->setText(QStringLiteral("0"));
  ports->setCurrentRow(1);
  EXPECT_EQ(d->Mode(), 2);
  ports->item(1)->setCheckState(Qt::Checked);
  Id<QPushButton>(d.get(), 1)->click();  // 接続して終了
  EXPECT_TRUE(d->Connect());
  EXPECT_TRUE(d->ConnectAtStart());
  const midi::CMidiDeviceList out = d->TakeDevices();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0]->m_channels[0], 15);
  EXPECT_EQ(out[0]->m_channels[1], -1);
  EXPECT_EQ(out[0]->m_mode, 1);
  EXPECT_EQ(out[2]->m_enabled, 1);
  EXPECT_EQ(out[1]->PortName(), out[1]->PortName()) << "the absent port's record stays";
}

TEST_F(MidiSetDlgTest, EscapeDisconnectsAndKeepsTypingOut) {
  auto d = Dialog(Devices());
  Id<QLineEdit>(d.get(), 1220)->setText(QStringLiteral("3"));
  d->reject();
  EXPECT_FALSE(d->Connect());
  EXPECT_EQ(d->TakeDevices()[0]->m_channels[0], 9);
}

TEST_F(MidiSetDlgTest, OpenDisconnectsFirstAndSaveWritesTheDialogsList) {
  // A file with one record for a port that is here, and its table.
  midi::CMidiDeviceList stored;
  stored.push_back(midi::NewMidiDevice(Port("desk:out")));
  stored[0]->m_channels = {4, 4, 4, -1, -1, -1, -1};
  stored[0]->m_enabled = 1;
  ASSERT_TRUE(midi::SaveMidiSettings(dir.File("show.cnf"), stored));

  auto d = Dialog(Devices());
  d->chooseOpen = [this](const QString&) { return QString::fromStdString(dir.File("show.cnf")); };
  Id<QPushButton>(d.get(), 1180)->click();
  EXPECT_EQ(disconnects, 1);
  auto* ports = Id<QListWidget>(d.get(), 1371);
  // The file's port, then the one on the machine the file did not know.
  ASSERT_EQ(ports->count(), 2);
  EXPECT_EQ(Channels(*d), (QStringList{"5", "5", "5", "", "", "", ""}));
  EXPECT_EQ(Id<QLineEdit>(d.get(), 1343)->text(), QString::fromStdString(dir.File("show.cnf")));

  Id<QLineEdit>(d.get(), 1236)->setText(QStringLiteral("7"));
  d->chooseSave = [this](const QString&) { return QString::fromStdString(dir.File("new.cnf")); };
  Id<QPushButton>(d.get(), 1143)->click();
  midi::CMidiDeviceList back;
  ASSERT_EQ(midi::LoadMidiSettings(dir.File("new.cnf"), back), midi::MidiFileStatus::kOk);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0]->m_channels[6], 6);
  d->findChild<QPushButton*>(QStringLiteral("disconnect"))->click();
  EXPECT_FALSE(d->Connect());
  EXPECT_EQ(d->ConfFile(), dir.File("new.cnf"));
}

}  // namespace
}  // namespace orvex
