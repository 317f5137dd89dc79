// The cue sheet editor and the record editor driven through their control
// ids, as an operator clicks and types in them.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "DialogIds.h"
#include "QtTestApp.h"
#include "ui/CreateQSheetDlg.h"
#include "ui/OptionDlg.h"
#include "ui/RecordDlg.h"
#include "unit/MessageRecorder.h"
#include "unit/TempDir.h"

namespace orvex {
namespace {

RecordValues Cue(double q, std::string file = "a.wav", bool inSequence = true) {
  RecordValues v;
  v.qNumber = q;
  v.title = "T" + std::to_string(q);
  v.fileOrCommand = std::move(file);
  v.preLevel = 5;
  v.inSequence = inSequence;
  return v;
}

class CueSheetDialog : public QtAppTest {
 protected:
  void Open() {
    dialog = std::make_unique<CCreateQSheetDlg>(edit);
    dialog->editRecord = [this](const RecordFields& f, CRecordDlg::Use use) {
      proposals.push_back(f);
      uses.push_back(use);
      if (answers.empty()) return std::optional<RecordFields>();
      RecordFields a = answers.front();
      answers.erase(answers.begin());
      return std::optional<RecordFields>(a);
    };
    dialog->show();
  }
  // The proposal the editor gets, with a file and the checks of OK passed.
  static RecordFields Typed(RecordFields f, const std::string& file = "new.wav") {
    f.file = file;
    EXPECT_EQ(AcceptRecord(f, true, true), std::nullopt);
    return f;
  }
  void Click(int id) { QTest::mouseClick(Id<QPushButton>(dialog.get(), id), Qt::LeftButton); }
  QString Cell(int row, int column) {
    return dialog->List()->model()->index(row, column).data().toString();
  }
  QRect RowRect(int row) {
    return dialog->List()->visualRect(dialog->List()->model()->index(row, 2));
  }

  CueSheetEdit edit{"/show/snd", CueSheetEdit::kByQ};
  std::unique_ptr<CCreateQSheetDlg> dialog;
  std::vector<RecordFields> proposals;
  std::vector<CRecordDlg::Use> uses;
  std::vector<RecordFields> answers;
  MessageRecorder messages;
};

TEST_F(CueSheetDialog, ShowsTheListWithItsColumnsAndColours) {
  RecordValues routed = Cue(2.5, "FOUT", false);
  routed.outputFlags = OUT_M | OUT_G2;
  routed.outputSpecified = true;
  routed.timing = 3723400;
  edit.AddWorking(routed, 7);
  edit.AddWorking(Cue(1), 3);
  Open();
  EXPECT_EQ(dialog->objectName(), "id243");
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Ｑシート編集"));
  QTableView* list = Id<QTableView>(dialog.get(), 1127);
  ASSERT_EQ(list->model()->rowCount(), 2);
  EXPECT_EQ(Cell(0, 1), "3");
  EXPECT_EQ(Cell(1, 0), "2.5");
  EXPECT_EQ(Cell(1, 1), "G1");
  EXPECT_EQ(Cell(1, 7), "01:02:03.4");
  EXPECT_EQ(Cell(1, 9), "M,G2");
  EXPECT_EQ(list->model()->headerData(3, Qt::Horizontal).toString(), "ファイル/コマンド");
  EXPECT_EQ(list->columnWidth(10), 300);
  EXPECT_EQ(list->model()->index(1, 0).data(Qt::BackgroundRole).value<QColor>(),
            QColor(100, 100, 100));
  EXPECT_EQ(list->model()->index(0, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
  EXPECT_TRUE(list->model()->index(0, 4).data(Qt::TextAlignmentRole).value<int>() &
              Qt::AlignHCenter);
  // The folder's tooltip is the folder; the mode's button is down.
  EXPECT_EQ(Id<QLineEdit>(dialog.get(), 1138)->toolTip(), "/show/snd");
  EXPECT_TRUE(Id<QPushButton>(dialog.get(), 1130)->isChecked());
  EXPECT_FALSE(Id<QPushButton>(dialog.get(), 1133)->isChecked());
}

TEST_F(CueSheetDialog, AddInsertChangeAndDeleteThroughButtonsKeysAndClicks) {
  Open();
  // Change and Delete on an empty list, double click below nothing: nothing.
  Click(1144);
  Click(1181);
  QTest::mouseDClick(dialog->List()->viewport(), Qt::LeftButton, {}, QPoint(20, 60));
  EXPECT_TRUE(proposals.empty());

  answers = {Typed(edit.ProposeAdd(), "one.wav")};
  Click(1140);
  ASSERT_EQ(proposals.size(), 1u);
  EXPECT_EQ(proposals[0].qNumber, "1");
  EXPECT_EQ(proposals[0].folder, "/show/snd");
  EXPECT_EQ(uses[0], CRecordDlg::Use::kAdd);
  EXPECT_EQ(Cell(0, 2), "one");
  EXPECT_TRUE(edit.Changed());

  // Insert without a selection adds after the last record.
  dialog->List()->clearSelection();
  RecordFields second = edit.ProposeAdd();
  answers = {Typed(second, "two.wav")};
  Click(1142);
  EXPECT_EQ(proposals.back().qNumber, "2");
  EXPECT_EQ(dialog->SelectedRow(), 1);  // the new record stays selected

  // The Insert key before row 1: Q 1.5.
  dialog->SelectRow(1);
  RecordFields between = edit.ProposeInsert(1);
  answers = {Typed(between, "mid.wav")};
  QTest::keyClick(dialog->List(), Qt::Key_Insert);
  EXPECT_EQ(proposals.back().qNumber, "1.5");
  EXPECT_EQ(Cell(1, 3), "mid.wav");
  EXPECT_EQ(dialog->SelectedRow(), 1);

  // Enter changes the selected record; it moves with its new number and
  // stays selected.
  RecordFields changed = edit.FieldsOf(0);
  changed.qNumber = "7";
  answers = {Typed(changed, "one.wav")};
  dialog->SelectRow(0);
  QTest::keyClick(dialog->List(), Qt::Key_Return);
  EXPECT_EQ(uses.back(), CRecordDlg::Use::kChange);
  EXPECT_EQ(Cell(2, 0), "7");
  EXPECT_EQ(dialog->SelectedRow(), 2);
  EXPECT_TRUE(dialog->isVisible());

  // A double click on a row changes it; one below the last row adds.
  answers = {};
  const size_t before = proposals.size();
  QTest::mouseDClick(dialog->List()->viewport(), Qt::LeftButton, {}, RowRect(0).center());
  ASSERT_EQ(proposals.size(), before + 1) << RowRect(0).x() << "," << RowRect(0).y();
  EXPECT_EQ(proposals.back().qNumber, "1.5");
  const size_t asked = proposals.size();
  QTest::mouseDClick(dialog->List()->viewport(), Qt::LeftButton, {},
                     QPoint(20, dialog->List()->viewport()->height() - 3));
  ASSERT_EQ(proposals.size(), asked + 1);
  EXPECT_EQ(proposals.back().qNumber, "8");

  // The Delete key and the button delete without asking.
  dialog->SelectRow(0);
  QTest::keyClick(dialog->List(), Qt::Key_Delete);
  Click(1181);
  EXPECT_EQ(edit.Count(), 1);
  EXPECT_EQ(Cell(0, 0), "7");
  EXPECT_TRUE(messages.messages.empty());
}

TEST_F(CueSheetDialog, SortButtonsRenumberAndOk) {
  edit.AddWorking(Cue(5), 2);
  edit.AddWorking(Cue(0.5), 8);
  edit.AddWorking(Cue(5), 1);
  Open();
  EXPECT_EQ(Cell(0, 1), "G2");
  Click(1133);
  EXPECT_EQ(Cell(0, 1), "1");
  EXPECT_EQ(Cell(2, 1), "G2");
  EXPECT_TRUE(Id<QPushButton>(dialog.get(), 1133)->isChecked());
  EXPECT_FALSE(Id<QPushButton>(dialog.get(), 1130)->isChecked());
  Click(1133);  // already so: stays down
  EXPECT_TRUE(Id<QPushButton>(dialog.get(), 1133)->isChecked());
  Click(1172);
  EXPECT_EQ(Cell(0, 0), "2");
  EXPECT_EQ(Cell(1, 0), "2");
  EXPECT_EQ(Cell(2, 0), "1");

  // Two records of CH2 with the same number: OK says so and stays.
  edit.AddWorking(Cue(2), 2);
  Click(1);
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0],
            "異なるレコードにＱとチャネルが同一のものがあります。\nＱ番号2のCH2");
  EXPECT_TRUE(dialog->isVisible());
  dialog->SelectRow(2);
  edit.Delete(3);
  Id<QLineEdit>(dialog.get(), 1138)->setText("/show/snd\\\\");
  Click(1);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(edit.Folder(), "/show/snd");
}

TEST_F(CueSheetDialog, DroppedFilesBecomeCuesOnChannelOne) {
  edit = CueSheetEdit("", CueSheetEdit::kByQ);
  Open();
  auto* mime = new QMimeData;
  mime->setUrls({QUrl::fromLocalFile("/tmp/show/a.wav"), QUrl::fromLocalFile("/tmp/show/b.wav"),
                 QUrl::fromLocalFile("/tmp/show/c.wav")});
  // Dropped on the folder box, which must not take it as text.
  QLineEdit* folder = Id<QLineEdit>(dialog.get(), 1138);
  EXPECT_FALSE(folder->acceptDrops());
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(dialog.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, {});
  QApplication::sendEvent(dialog.get(), &drop);
  delete mime;
  EXPECT_EQ(folder->text(), "/tmp/show");
  ASSERT_EQ(edit.Count(), 3);
  EXPECT_EQ(Cell(2, 0), "3");
  EXPECT_EQ(Cell(2, 1), "1");
  EXPECT_EQ(Cell(2, 3), "c.wav");
  EXPECT_TRUE(edit.Changed());
}

class RecordDialog : public QtAppTest {
 protected:
  RecordFields Fields(const std::string& channel, const std::string& file) {
    RecordFields f;
    f.qNumber = "3";
    f.channel = channel;
    f.file = file;
    f.pre = "8";
    f.fadeIn = "0";
    f.fadeOut = "0";
    f.delay = "0";
    f.folder = "/show/snd";
    return f;
  }
  template <class W = QWidget>
  W* At(int id) {
    return Id<W>(dialog.get(), id);
  }
  std::unique_ptr<CRecordDlg> dialog;
  MessageRecorder messages;
};

TEST_F(RecordDialog, ChannelsDecideTheCommandsAndTheOutputs) {
  RecordFields f = Fields("G1", "FUP");
  f.outputSpecified = true;
  f.outputFlags = OUT_M | OUT_ON;
  f.qChannelEditable = false;
  dialog = std::make_unique<CRecordDlg>(f, CRecordDlg::Use::kCueList);
  dialog->show();
  EXPECT_EQ(dialog->objectName(), "id246");
  auto* channel = At<QComboBox>(1171);
  auto* file = At<QComboBox>(1166);
  EXPECT_EQ(channel->currentText(), "G1");
  EXPECT_FALSE(channel->isEnabled());
  EXPECT_FALSE(At<QLineEdit>(1148)->isEnabled());
  EXPECT_EQ(file->count(), 5);
  EXPECT_EQ(file->currentText(), "FUP");
  EXPECT_FALSE(At(1167)->isEnabled());
  EXPECT_TRUE(At<QPushButton>(1369)->isChecked());
  EXPECT_TRUE(At(1378)->isEnabled());
  EXPECT_FALSE(At(1370)->isEnabled());
  EXPECT_FALSE(At(1372)->isEnabled());

  // A channel again: eight words in the later order, a typed file kept.
  dialog = std::make_unique<CRecordDlg>(Fields("2", "fx/door.wav"), CRecordDlg::Use::kAdd);
  dialog->show();
  channel = At<QComboBox>(1171);
  file = At<QComboBox>(1166);
  EXPECT_EQ(file->itemText(2), "FUP");
  EXPECT_FALSE(At(1369)->isEnabled());  // output not specified
  channel->setCurrentIndex(6);
  emit channel->activated(6);  // "G1"
  EXPECT_EQ(file->count(), 5);
  EXPECT_FALSE(At(1167)->isEnabled());
  channel->setCurrentIndex(3);
  emit channel->activated(3);  // "4"
  EXPECT_EQ(file->itemText(2), "PAUSE");
  EXPECT_EQ(file->currentText(), "fx/door.wav");
  EXPECT_TRUE(At(1167)->isEnabled());

  QTest::mouseClick(At<QCheckBox>(1368), Qt::LeftButton);
  EXPECT_TRUE(At(1370)->isEnabled());
  EXPECT_FALSE(At(1378)->isEnabled());
  QTest::mouseClick(At<QPushButton>(1375), Qt::LeftButton);  // Y
  QTest::mouseClick(At<QPushButton>(1373), Qt::LeftButton);  // X
  EXPECT_TRUE(At<QPushButton>(1373)->isChecked());
  EXPECT_FALSE(At<QPushButton>(1375)->isChecked());
}

TEST_F(RecordDialog, OkRefusesWithTheMessageAndThenNormalises) {
  dialog =
      std::make_unique<CRecordDlg>(Fields("1", "snd\\bell.long.wav"), CRecordDlg::Use::kChange);
  dialog->show();
  At<QLineEdit>(1148)->setText("0");
  At<QLineEdit>(1164)->setText("12");
  QTest::mouseClick(At<QPushButton>(1), Qt::LeftButton);
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0], kQNumberRefused);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(At<QLineEdit>(1164)->text(), "12");

  // "BGM" is no channel for Change.
  At<QLineEdit>(1148)->setText("0.5");
  At<QComboBox>(1171)->setEditText("BGM");
  QTest::mouseClick(At<QPushButton>(1), Qt::LeftButton);
  EXPECT_EQ(messages.messages.back(), kChannelRefused);

  At<QComboBox>(1171)->setEditText("3");
  At<QLineEdit>(1173)->setText("1:30");
  QTest::mouseClick(At<QCheckBox>(1368), Qt::LeftButton);
  QTest::mouseClick(At<QPushButton>(1369), Qt::LeftButton);
  QTest::mouseClick(At<QPushButton>(1375), Qt::LeftButton);
  QTest::mouseClick(At<QPushButton>(1), Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  const RecordFields& out = dialog->Fields();
  EXPECT_EQ(out.title, "bell");
  EXPECT_EQ(out.pre, "10.0");
  EXPECT_EQ(out.timing, 90000);
  EXPECT_EQ(out.channel, "3");
  EXPECT_EQ(out.outputFlags, OUT_M | OUT_Y);
  EXPECT_TRUE(out.outputSpecified);
}

TEST_F(RecordDialog, BrowseProposesAndTakesTheFileIntoTheFolder) {
  TempDir dir;
  const std::string folder = dir.Path().string();
  RecordFields f = Fields("BGM", "");
  f.folder = folder;
  dialog = std::make_unique<CRecordDlg>(f, CRecordDlg::Use::kAdd);
  QString proposed;
  bool list = false;
  dialog->chooseFile = [&](const QString& p, bool listFile) {
    proposed = p;
    list = listFile;
    return QString::fromStdString(folder + "/lists/night.lst");
  };
  QTest::mouseClick(At<QPushButton>(1167), Qt::LeftButton);
  EXPECT_EQ(proposed, QString::fromStdString(folder + "/*.wav"));
  EXPECT_TRUE(list);
  EXPECT_EQ(At<QComboBox>(1166)->currentText(), "lists/night.lst");

  // A folder that is not there proposes nothing.
  f.folder = "/no/such/folder";
  dialog = std::make_unique<CRecordDlg>(f, CRecordDlg::Use::kAdd);
  dialog->chooseFile = [&](const QString& p, bool) {
    proposed = p;
    return QString();
  };
  QTest::mouseClick(At<QPushButton>(1167), Qt::LeftButton);
  EXPECT_TRUE(proposed.isEmpty());
  EXPECT_EQ(At<QComboBox>(1166)->currentText(), "");
}

class OptionDialog : public QtAppTest {};

TEST_F(OptionDialog, EachWrongEntryIsNamedInTurnAndNothingIsKeptUntilAllPass) {
  MessageRecorder messages;
  Settings settings;
  settings.prepBufSize[3] = 4;
  settings.bufSize[3] = 8;
  OptionDlg dialog(settings);
  dialog.show();
  auto type = [&](int id, const char* text) { Id<QLineEdit>(&dialog, id)->setText(text); };
  auto ok = [&] { QTest::mouseClick(Id<QPushButton>(&dialog, 1), Qt::LeftButton); };
  EXPECT_EQ(Id<QLineEdit>(&dialog, 1137)->text(), "4");
  EXPECT_EQ(Id<QLineEdit>(&dialog, 1213)->text(), "1");
  EXPECT_EQ(Id<QLineEdit>(&dialog, 1214)->text(), "0.5");

  // The CH3 row's default button sets that row and no other.
  type(1131, "7");
  QTest::mouseClick(Id<QPushButton>(&dialog, 1184), Qt::LeftButton);
  EXPECT_EQ(Id<QLineEdit>(&dialog, 1137)->text(), "10");
  EXPECT_EQ(Id<QLineEdit>(&dialog, 1134)->text(), "20");
  EXPECT_EQ(Id<QLineEdit>(&dialog, 1131)->text(), "7");

  const struct {
    int id;
    const char* wrong;
    const char* right;
    const char* message;
  } steps[] = {{1146, "0", "20", kBufferNotPositive}, {1156, "31", "30", kSecondBufferTooLarge},
               {1161, "x", "10", kBufferNotPositive}, {1125, "11", "1", kFirstBufferTooLarge},
               {1213, "10.5", "10", kKneePointRange}, {1214, "-0.5", "0", kKneeLevelRange},
               {1340, "abc", "1", kWheelNotPositive}};
  for (const auto& step : steps) {
    type(step.id, step.wrong);
    ok();
    ASSERT_FALSE(messages.messages.empty());
    EXPECT_EQ(messages.messages.back(), step.message) << step.id;
    EXPECT_FALSE(dialog.Values());
    EXPECT_TRUE(dialog.isVisible());
    type(step.id, step.right);
  }
  EXPECT_EQ(messages.messages.size(), 7u);
  ok();
  ASSERT_TRUE(dialog.Values());
  EXPECT_EQ(dialog.Values()->second[5], 30);
  EXPECT_EQ(dialog.Values()->first[0], 1);
  EXPECT_EQ(dialog.Values()->wheel, 1);
  // The dialog itself stores nothing.
  EXPECT_EQ(settings.bufSize[3], 8);
}

}  // namespace
}  // namespace orvex
