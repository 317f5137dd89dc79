// Building and editing a show in the editors from the window: New and
// "Ｑシート編集..." through the cue sheet editor, "レコード修正" from the
// cue list, and the two settings dialogs with their effects.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "DialogIds.h"
#include "FrameRig.h"
#include "ui/CreateQSheetDlg.h"
#include "ui/FrameIds.h"
#include "ui/ListDlgBar.h"
#include "ui/OptionDlg.h"
#include "ui/RecordDlg.h"

namespace orvex {
namespace {

// What the operator types into the record editor for one cue.
struct Typing {
  QString q, channel, title, file, pre, fadeIn, fadeOut, timing, delay, description;
  bool outOfSequence = false;
};

class EditCommandsTest : public FrameTest {
 protected:
  void Trigger(int id) {
    m_frame->Action(id)->trigger();
    Settle();
  }
  // The record editor filled in and confirmed as the operator does it.
  static std::optional<RecordFields> TypeRecord(const RecordFields& proposed, CRecordDlg::Use use,
                                                const Typing& t) {
    CRecordDlg dialog(proposed, use);
    dialog.show();
    const std::pair<int, QString> boxes[] = {
        {1148, t.q},     {1171, t.channel},    {1158, t.title},   {1166, t.file},
        {1164, t.pre},   {1168, t.fadeIn},     {1169, t.fadeOut}, {1173, t.timing},
        {1178, t.delay}, {1170, t.description}};
    for (const auto& [id, text] : boxes) {
      if (!text.isNull()) Type(&dialog, id, text);
    }
    if (t.outOfSequence) Click(&dialog, 1274);
    Click(&dialog, 1);
    if (dialog.result() != QDialog::Accepted) return std::nullopt;
    return dialog.Fields();
  }
  // Runs the cue sheet editor on its working list: each typing is an Add.
  void BuildInEditor(const std::vector<Typing>& typings) {
    m_cueSheetEditor = [typings](CueSheetEdit& edit) {
      CCreateQSheetDlg dialog(edit);
      dialog.show();
      size_t next = 0;
      dialog.editRecord = [&](const RecordFields& f, CRecordDlg::Use use) {
        return TypeRecord(f, use, typings[next++]);
      };
      for (size_t i = 0; i < typings.size(); ++i) Click(&dialog, 1140);
      Click(&dialog, 1);
      return dialog.result() == QDialog::Accepted;
    };
  }
};

TEST_F(EditCommandsTest, AShowBuiltInTheEditorsIsSavedAndOpenedExactly) {
  BuildInEditor({
      {"1", "1", "Opening", "snd\\opening.wav", "7.5", "2", "0.5", "0:00:10.5", "250", "house"},
      {{}, "G1", "", "FOUT", {}, {}, "3", {}, {}, {}},
      {{}, "2", "Rain", "rain.wav", "12", {}, {}, "1:30", "-5", "", true},
      {{}, "BGM", {}, "night.lst", {}, {}, {}, {}, {}, {}},
  });
  m_doc->SetSoundFolder(m_dir.File("snd"));
  Trigger(ids::kFileNew);
  EXPECT_TRUE(m_frame->Commands().ShowModified());
  EXPECT_EQ(m_doc->GetShowPath(), "");
  ASSERT_EQ(m_doc->GetCount(1), 1);
  ASSERT_EQ(m_doc->GetCount(7), 1);
  ASSERT_EQ(m_doc->GetCount(2), 1);
  ASSERT_EQ(m_doc->GetCount(6), 1);
  const CRecord& opening = *m_doc->Find(1, 1);
  EXPECT_EQ(opening.title, "Opening");
  EXPECT_EQ(opening.preLevel, 7.5);
  EXPECT_EQ(opening.timing, 10500);
  EXPECT_EQ(opening.delay, 250);
  // Add proposed from the last record: Q 2 on G1, titled after its command.
  EXPECT_EQ(m_doc->GetQNumber(7, 1), 2);
  EXPECT_EQ(m_doc->GetTitle(7, 1), "FOUT");
  EXPECT_EQ(m_doc->GetFadeOut(7, 1), 3);
  EXPECT_EQ(m_doc->GetPre(2, 1), 10);
  EXPECT_FALSE(m_doc->IsInSequence(2, 1));
  EXPECT_EQ(m_doc->Find(2, 1)->timing, 90000);
  EXPECT_EQ(m_doc->Find(2, 1)->delay, 0);
  EXPECT_EQ(m_doc->GetFile(6, 1), "night.lst");
  EXPECT_EQ(m_doc->GetQNumber(6, 1), 4);

  CueStore typed;
  for (int ch = 1; ch <= 8; ++ch) {
    for (int i = 1; i <= m_doc->GetCount(ch); ++i) {
      const RecordValues v = ValuesOfRecord(*m_doc->Find(ch, i));
      typed.AddRecord(ch, v);
    }
  }
  m_saveAnswers.push_back(Q(m_dir.File("built.csv")));
  Trigger(ids::kFileSave);
  Trigger(ids::kFileClose);
  m_openAnswers.push_back(Q(m_dir.File("built.csv")));
  Trigger(ids::kFileOpen);
  for (int ch = 1; ch <= 8; ++ch) {
    ASSERT_EQ(m_doc->GetCount(ch), typed.GetCount(ch)) << ch;
    for (int i = 1; i <= typed.GetCount(ch); ++i) {
      const CRecord& a = *m_doc->Find(ch, i);
      const CRecord& b = *typed.Find(ch, i);
      EXPECT_EQ(a.title, b.title);
      EXPECT_EQ(a.fileOrCommand, b.fileOrCommand);
      EXPECT_EQ(a.description, b.description);
      EXPECT_EQ(a.qNumber, b.qNumber);
      EXPECT_EQ(a.preLevel, b.preLevel);
      EXPECT_EQ(a.fadeIn, b.fadeIn);
      EXPECT_EQ(a.fadeOut, b.fadeOut);
      EXPECT_EQ(a.timing, b.timing);
      EXPECT_EQ(a.delay, b.delay);
      EXPECT_EQ(a.inSequence, b.inSequence);
      EXPECT_EQ(a.outputFlags, b.outputFlags);
      EXPECT_EQ(a.outputSpecified, b.outputSpecified);
    }
  }
}

TEST_F(EditCommandsTest, EditingTheSheetChangesOnlyWhatWasEdited) {
  const std::string path =
      WriteShow("show.csv", {{1, 1, "a.wav"}, {1, 2, "b.wav"}, {2, 1.5, "c.wav"}, {7, 3, "FUP"}});
  m_openAnswers.push_back(Q(path));
  Trigger(ids::kFileOpen);
  m_runtime->Console().AdvanceChannel(2, 1);
  const std::string before = m_dir.Read("show.csv");

  // OK without a change, or cancelled with another sort: nothing happens to
  // the show, but the sort mode is kept.
  m_cueSheetEditor = [](CueSheetEdit& edit) {
    edit.SetSortMode(CueSheetEdit::kByChannel);
    return false;
  };
  Trigger(ids::kEditCueSheet);
  EXPECT_EQ(m_doc->GetSettings().sortMode, 1);
  m_cueSheetEditor = [](CueSheetEdit&) { return true; };
  Trigger(ids::kEditCueSheet);
  EXPECT_FALSE(m_frame->Commands().ShowModified());

  // One title changed: the file differs in that line only, and CH1 still
  // stands at its second cue.
  m_cueSheetEditor = [](CueSheetEdit& edit) {
    for (int i = 0; i < edit.Count(); ++i) {
      if (edit.At(i).values.qNumber != 2 || edit.At(i).channel != 1) continue;
      RecordFields f = edit.FieldsOf(i);
      f.title = "Thunder";
      edit.Change(i, f);
    }
    return true;
  };
  Trigger(ids::kEditCueSheet);
  EXPECT_TRUE(m_frame->Commands().ShowModified());
  EXPECT_EQ(m_runtime->Console().CurrentRecord(1), 2);
  EXPECT_EQ(m_runtime->Console().Row(1).title, "Thunder");
  Trigger(ids::kFileSave);
  const std::string after = m_dir.Read("show.csv");
  EXPECT_NE(after, before);
  size_t differing = 0;
  QStringList a = Q(before).split("\r\n"), b = Q(after).split("\r\n");
  ASSERT_EQ(a.size(), b.size());
  for (qsizetype i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) {
      ++differing;
      EXPECT_TRUE(b[i].contains("Thunder"));
    }
  }
  EXPECT_EQ(differing, 1u);
}

TEST_F(EditCommandsTest, ARecordIsModifiedFromTheCueList) {
  m_openAnswers.push_back(Q(WriteShow("show.csv", {{1, 1, "a.wav"}, {3, 2, "b.wav"}})));
  Trigger(ids::kFileOpen);
  auto* list = m_frame->findChild<CListDlgBar*>();
  ASSERT_NE(list, nullptr);
  RecordFields shown;
  m_recordEditor = [&](const RecordFields& f) -> std::optional<RecordFields> {
    shown = f;
    RecordFields edited = f;
    edited.title = "Bell";
    edited.pre = "4";
    return edited;
  };
  list->List()->selectRow(1);
  emit list->ContextCommand(CListDlgBar::kEditRecord);
  Settle();
  EXPECT_EQ(shown.channel, "3");
  EXPECT_EQ(shown.qNumber, "2");
  EXPECT_FALSE(shown.qChannelEditable);
  EXPECT_EQ(m_doc->GetTitle(3, 1), "Bell");
  EXPECT_EQ(m_doc->GetPre(3, 1), 4);
  EXPECT_TRUE(m_frame->Commands().ShowModified());
  EXPECT_EQ(list->Copy(1)->title, "Bell");
  EXPECT_EQ(m_runtime->Console().Row(3).title, "Bell");

  // Cancelled: nothing.
  m_frame->Commands().SetShowModified(false);
  m_recordEditor = [](const RecordFields&) { return std::optional<RecordFields>(); };
  list->List()->selectRow(1);
  emit list->ContextCommand(CListDlgBar::kEditRecord);
  EXPECT_FALSE(m_frame->Commands().ShowModified());
}

TEST_F(EditCommandsTest, OperationSettingsAreCheckedThenReachThePlayers) {
  std::vector<QString> seen;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->objectName(), "id241");
    Type(d, 1146, "31");  // 2nd of CH5
    Click(d, 1);
    Type(d, 1146, "25");
    Type(d, 1161, "0");  // 1st of CH6
    Click(d, 1);
    Click(d, 1193);  // CH6 back to 10 and 20
    Type(d, 1213, "10");
    Type(d, 1214, "0");
    Type(d, 1340, "240");
    Click(d, 1279);
    Click(d, 1398);
    Click(d, 1);
  });
  Trigger(ids::kOperationSettings);
  ASSERT_EQ(m_messages.messages.size(), 2u);
  EXPECT_EQ(m_messages.messages[0], kSecondBufferTooLarge);
  EXPECT_EQ(m_messages.messages[1], kBufferNotPositive);
  const Settings& s = m_doc->GetSettings();
  EXPECT_EQ(s.bufSize[5], 25);
  EXPECT_EQ(s.prepBufSize[6], 10);
  EXPECT_EQ(s.bufSize[6], 20);
  EXPECT_EQ(s.wheel, 240);
  EXPECT_EQ(s.block, 1);
  EXPECT_EQ(s.autoNext, 0);
  EXPECT_EQ(s.slowPoint, 10);
  EXPECT_EQ(s.substVol, 0);
  EXPECT_EQ(m_runtime->Console().Player(5).SecondSeconds(), 25);
  EXPECT_EQ(m_runtime->Console().Player(3).Knee().point, 10);
  EXPECT_EQ(m_runtime->Background().Knee().point, 10);
  EXPECT_EQ(m_runtime->Background().SecondSeconds(), s.bufSize[0]);

  // Cancel stores nothing.
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    Type(d, 1340, "60");
    Click(d, 2);
  });
  Trigger(ids::kOperationSettings);
  EXPECT_EQ(s.wheel, 240);
}

TEST_F(EditCommandsTest, DisplayOptionsReachTheCueListAtOnce) {
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->objectName(), "id292");
    Type(d, 1339, "9");
    Type(d, 1346, "2");
    Click(d, 1277);
    Click(d, 1);
  });
  Trigger(ids::kListOptions);
  const Settings& s = m_doc->GetSettings();
  EXPECT_EQ(s.cueListFontSize, 90);
  EXPECT_EQ(s.cueListBackDisp, 2);
  auto* list = m_frame->findChild<CListDlgBar*>();
  EXPECT_TRUE(list->CursorFix());
  EXPECT_EQ(list->BackDisplay(), 2);

  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    Type(d, 1339, "0");
    Type(d, 1346, "-1");
    Click(d, 1);
  });
  Trigger(ids::kListOptions);
  EXPECT_EQ(s.cueListFontSize, 90);
  EXPECT_EQ(s.cueListBackDisp, 2);
}

}  // namespace
}  // namespace orvex
