// The file commands through the window's actions: open a show or a sound,
// drops, save and its postponement during fades, close, and the questions at
// exit.
#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QUrl>

#include "FrameRig.h"
#include "engine/WavBytes.h"
#include "ui/FrameIds.h"
#include "ui/NoticeLog.h"
#include "ui/Translations.h"

namespace orvex {
namespace {

class DocCommandsTest : public FrameTest {
 protected:
  void Trigger(int id) {
    m_frame->Action(id)->trigger();
    Settle();
  }
  void Open(const std::string& path) {
    m_openAnswers.push_back(Q(path));
    Trigger(ids::kFileOpen);
  }
  bool Asked(const char* text) const {
    for (const auto& m : m_messages.messages) {
      if (m == text) return true;
    }
    return false;
  }
};

TEST_F(DocCommandsTest, OpenReplacesTheShowAndNamesTheWindow) {
  const std::string show =
      WriteShow("first.csv", {{1, 1, "a.wav"}, {3, 12.5, "b.wav"}, {7, 20, "FUP"}});
  Open(show);
  EXPECT_EQ(m_doc->GetCount(1), 1);
  EXPECT_EQ(m_doc->GetCount(3), 1);
  EXPECT_EQ(m_doc->GetShowPath(), show);
  EXPECT_EQ(m_doc->GetSettings().showPath, show);
  EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("first - Orvex"));
  EXPECT_FALSE(m_frame->Commands().ShowModified());
  // The console was refreshed: CH1 stands at its first record.
  EXPECT_EQ(m_runtime->Console().CurrentRecord(1), 1);

  // The next Open proposes the stored show, whose folder exists.
  m_openAnswers.push_back({});
  Trigger(ids::kFileOpen);
  ASSERT_FALSE(m_proposed.empty());
  EXPECT_EQ(m_proposed.back(), Q(show));
}

TEST_F(DocCommandsTest, OpenedSoundsBecomeCuesAfterTheLargestChannelCue) {
  // Into an empty show: the sound's folder becomes the sound folder.
  Open(m_dir.File("snd/intro.wav"));
  ASSERT_EQ(m_doc->GetCount(1), 1);
  EXPECT_EQ(m_doc->GetSoundFolder(), m_dir.File("snd"));
  EXPECT_EQ(m_doc->GetFile(1, 1), "intro.wav");
  EXPECT_EQ(m_doc->GetTitle(1, 1), "intro");
  EXPECT_DOUBLE_EQ(m_doc->GetQNumber(1, 1), 1);
  EXPECT_DOUBLE_EQ(m_doc->GetPre(1, 1), 8.0);
  EXPECT_TRUE(m_frame->Commands().ShowModified());

  // Groups do not count for the next number; a sub-folder of the sound
  // folder stays in the file name; "CSV" in capitals is a sound too.
  Open(WriteShow("show.csv", {{3, 12.5, "b.wav"}, {7, 20, "FUP"}}));
  Open(m_dir.File("snd/fx/door.wav"));
  Open(m_dir.File("snd/LIST.CSV"));
  ASSERT_EQ(m_doc->GetCount(1), 2);
  EXPECT_DOUBLE_EQ(m_doc->GetQNumber(1, 1), 13.5);
  EXPECT_EQ(m_doc->GetFile(1, 1), "fx/door.wav");
  EXPECT_DOUBLE_EQ(m_doc->GetQNumber(1, 2), 14.5);
  EXPECT_EQ(m_doc->GetTitle(1, 2), "LIST");

  // Elsewhere: the bare name. Too long for a record: refused, nothing added.
  Open("/elsewhere/other.wav");
  EXPECT_EQ(m_doc->GetFile(1, 3), "other.wav");
  m_messages.messages.clear();
  Open(m_dir.File("snd/" + std::string(130, 'x') + ".wav"));
  EXPECT_EQ(m_doc->GetCount(1), 3);
  EXPECT_TRUE(Asked(kPathTooLong));
}

TEST_F(DocCommandsTest, AShowThatFailsToLoadLeavesThePreviousOne) {
  const std::string good = WriteShow("good.csv", {{2, 5, "a.wav"}});
  Open(good);
  m_messages.messages.clear();
  Open(m_dir.File("missing.csv"));
  EXPECT_TRUE(Asked(kShowReadFailed));
  EXPECT_EQ(m_doc->GetCount(2), 1);
  // Still named after the show it holds, so Save cannot write it elsewhere.
  EXPECT_EQ(m_doc->GetShowPath(), good);
  EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("good - Orvex"));
  EXPECT_EQ(m_frame->StatusText(), QString::fromUtf8(CDocCommands::kLoadFailedNote));

  // A file that breaks after some records: none of them come in.
  const std::string broken = WriteShow("broken.csv", {{1, 1, "x.wav"}, {1, 2, "y.wav"}});
  m_dir.Write("broken.csv", m_dir.Read("broken.csv") + "1,1,bad\x81\r\n");
  m_messages.messages.clear();
  Open(broken);
  EXPECT_TRUE(Asked(kShowReadFailed));
  EXPECT_EQ(m_doc->GetCount(1), 0);
  EXPECT_EQ(m_doc->GetCount(2), 1);
  EXPECT_EQ(m_doc->GetShowPath(), good);
}

TEST_F(DocCommandsTest, DropsGoToTheChannelUnderThePoint) {
  m_frame->show();
  // The console's own row area of CH2, strip area of CH5, and GO (in no area).
  auto centre = [&](const char* id) {
    auto* w = m_frame->findChild<QWidget*>(QString::fromLatin1(id));
    EXPECT_NE(w, nullptr) << id;
    return w ? w->mapTo(m_frame.get(), w->rect().center()) : QPoint();
  };
  const QPoint rowCh2 = centre("id1300"), stripCh5 = centre("id1309"), go = centre("id1076");

  auto drop = [&](QPoint at, const std::vector<std::string>& files) {
    QList<QUrl> urls;
    for (const auto& f : files) urls << QUrl::fromLocalFile(Q(f));
    m_frame->DropUrls(urls, at);
    Settle();
  };
  Open(WriteShow("show.csv", {{1, 3, "a.wav"}}));
  drop(rowCh2, {m_dir.File("snd/1.wav"), m_dir.File("snd/2.wav"), m_dir.File("snd/3.wav")});
  ASSERT_EQ(m_doc->GetCount(2), 3);
  EXPECT_DOUBLE_EQ(m_doc->GetQNumber(2, 1), 4);
  EXPECT_DOUBLE_EQ(m_doc->GetQNumber(2, 3), 6);
  drop(stripCh5, {m_dir.File("snd/4.wav")});
  EXPECT_EQ(m_doc->GetCount(5), 1);
  // Outside every area a sound is ignored, but a show still opens; the
  // sounds after it in the same drop join that show.
  const std::string other = WriteShow("other.csv", {{4, 1, "x.wav"}});
  drop(go, {m_dir.File("snd/5.wav")});
  EXPECT_EQ(m_doc->GetCount(1) + m_doc->GetCount(2) + m_doc->GetCount(5), 5);
  drop(rowCh2, {other, m_dir.File("snd/6.wav")});
  EXPECT_EQ(m_doc->GetShowPath(), other);
  EXPECT_EQ(m_doc->GetCount(2), 1);
  EXPECT_EQ(m_doc->GetCount(4), 1);
  EXPECT_DOUBLE_EQ(m_doc->GetQNumber(2, 1), 2);
}

TEST_F(DocCommandsTest, SaveWaitsWhileAFadeRunsAndTheExitOffersIt) {
  const std::string show = WriteShow("fade.csv", {{1, 1, "a.wav", 30}});
  Open(show);
  const std::string before = m_dir.Read("fade.csv");
  m_runtime->Console().StartFadeOut(1, true);
  ASSERT_TRUE(m_runtime->Console().AnyFadeRunning());
  // An edit that Save should write.
  Open(m_dir.File("snd/new.wav"));
  Trigger(ids::kFileSave);
  EXPECT_EQ(m_dir.Read("fade.csv"), before);
  EXPECT_TRUE(m_frame->Commands().SavePostponed());
  EXPECT_EQ(m_frame->StatusText(), QString::fromUtf8(CDocCommands::kPostponedNote));

  // No to the changed-data question, yes to the postponed save.
  m_messages.answers = {kAnswerNo, kAnswerYes};
  CloseFrame();
  EXPECT_TRUE(Asked(CDocCommands::kSaveQuestion));
  EXPECT_TRUE(Asked(CDocCommands::kPostponedQuestion));
  EXPECT_NE(m_dir.Read("fade.csv"), before);
}

TEST_F(DocCommandsTest, ExitAsksOnlyAboutUnsavedChanges) {
  // Nothing changed: no question at all.
  Open(WriteShow("quiet.csv", {{1, 1, "a.wav"}}));
  CloseFrame();
  EXPECT_FALSE(Asked(CDocCommands::kSaveQuestion));
  EXPECT_FALSE(Asked(CDocCommands::kPostponedQuestion));

  // An untitled changed show: yes opens Save as.
  OpenFrame();
  Trigger(ids::kFileNew);
  EXPECT_TRUE(m_frame->Commands().ShowModified());
  Open(m_dir.File("snd/a.wav"));
  m_messages.answers = {kAnswerYes};
  m_saveAnswers.push_back(Q(m_dir.File("saved.csv")));
  CloseFrame();
  EXPECT_TRUE(Asked(CDocCommands::kSaveQuestion));
  EXPECT_FALSE(Asked(CDocCommands::kPostponedQuestion));
  EXPECT_EQ(m_saveDialogs, 1);
  EXPECT_TRUE(QFileInfo::exists(Q(m_dir.File("saved.csv"))));
}

TEST_F(DocCommandsTest, CloseAndSaveAsKeepTheSoundFolderAndFlags) {
  Open(WriteShow("show.csv", {{1, 1, "a.wav"}}));
  const std::string folder = m_doc->GetSoundFolder();
  m_messages.messages.clear();
  Trigger(ids::kFileClose);
  EXPECT_FALSE(Asked(CDocCommands::kSaveQuestion));
  EXPECT_EQ(m_doc->GetCount(1), 0);
  EXPECT_EQ(m_doc->GetShowPath(), "");
  EXPECT_EQ(m_doc->GetSoundFolder(), folder);
  EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Orvex"));
  EXPECT_EQ(m_runtime->Console().CurrentRecord(1), 0);

  // Save of the untitled show opens Save as; cancelling saves nothing.
  Open(m_dir.File("snd/b.wav"));
  Trigger(ids::kFileSave);
  EXPECT_EQ(m_saveDialogs, 1);
  EXPECT_TRUE(m_frame->Commands().ShowModified());
  m_saveAnswers.push_back(Q(m_dir.File("named.csv")));
  Trigger(ids::kFileSave);
  EXPECT_FALSE(m_frame->Commands().ShowModified());
  EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("named - Orvex"));
  EXPECT_TRUE(QFileInfo::exists(Q(m_dir.File("named.csv"))));
}

TEST_F(DocCommandsTest, AFailedSaveKeepsTheChangeToAskAbout) {
  Open(m_dir.File("snd/a.wav"));
  m_saveAnswers.push_back(Q(m_dir.File("no-such-folder/show.csv")));
  Trigger(ids::kFileSaveAs);
  EXPECT_TRUE(Asked(kShowSaveFailed));
  EXPECT_TRUE(m_frame->Commands().ShowModified());
}

TEST_F(DocCommandsTest, ARefusedSaveNamesTheCueAndTheCharacter) {
  // "〜" (U+301C) is stored as a look-alike that would name another file.
  Open(m_dir.File("snd/a.wav"));
  m_openAnswers.push_back(Q(m_dir.File("snd/wave〜1.wav")));
  m_frame->Action(ids::kFileOpen)->trigger();
  Settle();
  ASSERT_EQ(m_doc->GetCount(1), 2);
  m_messages.messages.clear();
  m_saveAnswers.push_back(Q(m_dir.File("show.csv")));
  Trigger(ids::kFileSaveAs);
  ASSERT_EQ(m_messages.messages.size(), 1u);
  const QStringList lines = Q(m_messages.messages[0]).split(u'\n');
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], QString::fromUtf8(kShowSaveFailed));
  for (const char* part : {"CH1", "Ｑ2", "ファイル名", "〜", "U+301C"})
    EXPECT_TRUE(lines[1].contains(QString::fromUtf8(part))) << part;
  EXPECT_FALSE(QFileInfo::exists(Q(m_dir.File("show.csv"))));
  EXPECT_TRUE(m_frame->Commands().ShowModified());

  // A title takes the look-alike; a character outside the code page is
  // named where it stands, and the file is still left alone.
  const auto edit = [this](int i, const std::string& file, const std::string& description) {
    m_doc->SetRecordBasic(1, i, m_doc->GetTitle(1, i), file, description, m_doc->GetQNumber(1, i),
                          8, 0, 0);
  };
  edit(2, "wave1.wav", "");
  edit(1, "a.wav", "雨🌧");
  m_messages.messages.clear();
  Trigger(ids::kFileSave);
  ASSERT_EQ(m_messages.messages.size(), 1u);
  const QString note = Q(m_messages.messages[0]);
  EXPECT_TRUE(note.contains(QStringLiteral("CH1 のＱ1 の説明"))) << note.toStdString();
  EXPECT_TRUE(note.contains(QStringLiteral("U+1F327"))) << note.toStdString();
  EXPECT_FALSE(QFileInfo::exists(Q(m_dir.File("show.csv"))));

  // A save that fails on the file system has nothing to add.
  edit(1, "a.wav", "");
  ASSERT_TRUE(m_frame->Commands().ShowModified());
  m_saveAnswers.push_back(Q(m_dir.File("no-such-folder/show.csv")));
  m_messages.messages.clear();
  Trigger(ids::kFileSaveAs);
  EXPECT_EQ(m_messages.messages, std::vector<std::string>{kShowSaveFailed});
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

// The file dialogs carry their captions and speak Japanese like the rest of
// the program (Qt's own translations); without those the program still runs.
TEST_F(DocCommandsTest, FileDialogsHaveCaptionsAndJapaneseTexts) {
  const auto open = CDocCommands::MakeOpenDialog(m_frame.get(), Q(m_dir.File("show.csv")));
  const auto save = CDocCommands::MakeSaveDialog(m_frame.get(), {});
  EXPECT_EQ(open->windowTitle(), QStringLiteral("開く"));
  EXPECT_EQ(save->windowTitle(), QStringLiteral("名前を付けて保存"));
  for (QFileDialog* dialog : {open.get(), save.get()}) {
    auto* lookIn = dialog->findChild<QLabel*>(QStringLiteral("lookInLabel"));
    auto* fileName = dialog->findChild<QLabel*>(QStringLiteral("fileNameLabel"));
    ASSERT_NE(lookIn, nullptr);
    ASSERT_NE(fileName, nullptr);
    EXPECT_FALSE(lookIn->text().contains(QStringLiteral("Look in")))
        << lookIn->text().toStdString();
    EXPECT_FALSE(fileName->text().contains(QStringLiteral("File name")))
        << fileName->text().toStdString();
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
      const QString text = button->text().remove(u'&');
      EXPECT_NE(text, QStringLiteral("Cancel"));
      EXPECT_NE(text, QStringLiteral("Open"));
      EXPECT_NE(text, QStringLiteral("Save"));
    }
  }
  EXPECT_FALSE(InstallQtTranslations(*qApp, Q(m_dir.File("no-translations"))));
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

// Sounds that are there, so an opened show has nothing to report.
void WriteSounds(const TempDir& dir, std::initializer_list<const char*> names) {
  std::filesystem::create_directories(dir.File("snd"));
  for (const char* name : names)
    dir.Write(std::string("snd/") + name, Wav(2, 8000, 16, std::string(3200, '\x10')));
}

bool CountQuestions(const std::vector<std::string>& messages, int expected) {
  return std::count(messages.begin(), messages.end(), std::string(CDocCommands::kSaveQuestion)) ==
         expected;
}

// Open, a dropped show, New and Close ask before an edited show goes, as the
// exit does: yes saves it first (and a save that does not happen keeps it),
// no lets the edits go, cancel keeps the show.
TEST_F(DocCommandsTest, ReplacingAnEditedShowAsksFirst) {
  WriteSounds(m_dir, {"a.wav", "b.wav"});
  const std::string first = WriteShow("first.csv", {{1, 1, "a.wav", 30}});
  const std::string second = WriteShow("second.csv", {{2, 1, "b.wav"}});
  Open(first);
  Open(m_dir.File("snd/added.wav"));  // an edit: CH1 gets a second cue
  ASSERT_TRUE(m_frame->Commands().ShowModified());
  const std::string before = m_dir.Read("first.csv");

  m_messages.answers = {kAnswerCancel, kAnswerCancel, kAnswerCancel, kAnswerCancel};
  Trigger(ids::kFileNew);
  Trigger(ids::kFileClose);
  Open(second);
  m_frame->DropUrls({QUrl::fromLocalFile(Q(second))}, QPoint(0, 0));
  Settle();
  EXPECT_TRUE(CountQuestions(m_messages.messages, 4));
  EXPECT_EQ(m_doc->GetCount(1), 2);
  EXPECT_EQ(m_doc->GetShowPath(), first);
  EXPECT_TRUE(m_frame->Commands().ShowModified());

  // Yes while a fade runs: the save is postponed, so the show stays.
  m_runtime->Console().StartFadeOut(1, true);
  m_messages.answers = {kAnswerYes};
  Open(second);
  EXPECT_EQ(m_doc->GetShowPath(), first);
  EXPECT_EQ(m_dir.Read("first.csv"), before);
  EXPECT_EQ(m_frame->StatusText(), QString::fromUtf8(CDocCommands::kPostponedNote));
  m_runtime->Console().CancelFade(1);

  // Yes: saved, then replaced; the postponed save has been done with.
  m_messages.answers = {kAnswerYes};
  Open(second);
  EXPECT_EQ(m_doc->GetShowPath(), second);
  EXPECT_NE(m_dir.Read("first.csv"), before);
  EXPECT_FALSE(m_frame->Commands().SavePostponed());
  EXPECT_EQ(m_frame->StatusText(), QStringLiteral("レディ"));

  // No: the edits go.
  Open(m_dir.File("snd/more.wav"));
  const std::string secondBefore = m_dir.Read("second.csv");
  m_messages.answers = {kAnswerNo};
  Trigger(ids::kFileNew);
  EXPECT_EQ(m_doc->GetCount(1) + m_doc->GetCount(2), 0);
  EXPECT_EQ(m_dir.Read("second.csv"), secondBefore);

  // An untitled show: yes opens Save as; cancelling it keeps the show.
  Open(m_dir.File("snd/x.wav"));
  m_messages.answers = {kAnswerYes};
  const int dialogs = m_saveDialogs;
  Trigger(ids::kFileClose);
  EXPECT_EQ(m_saveDialogs, dialogs + 1);
  EXPECT_EQ(m_doc->GetCount(1), 1);
}

// A note on the status line lasts as long as its cause; then "レディ".
TEST_F(DocCommandsTest, StatusNotesEndWithTheirCause) {
  WriteSounds(m_dir, {"a.wav"});
  const std::string good = WriteShow("good.csv", {{1, 5, "a.wav", 30}});
  Open(m_dir.File("missing.csv"));
  EXPECT_EQ(m_frame->StatusText(), QString::fromUtf8(CDocCommands::kLoadFailedNote));
  Open(good);
  EXPECT_EQ(m_frame->StatusText(), QStringLiteral("レディ"));

  m_runtime->Console().StartFadeOut(1, true);
  Trigger(ids::kFileSave);
  EXPECT_EQ(m_frame->StatusText(), QString::fromUtf8(CDocCommands::kPostponedNote));
  m_runtime->Console().CancelFade(1);
  Trigger(ids::kFileSave);
  EXPECT_FALSE(m_frame->Commands().SavePostponed());
  EXPECT_EQ(m_frame->StatusText(), QStringLiteral("レディ"));

  // Two causes at once: the later shows, the earlier comes back when it ends.
  Open(m_dir.File("missing.csv"));
  m_runtime->Console().StartFadeOut(1, true);
  Trigger(ids::kFileSave);
  EXPECT_EQ(m_frame->StatusText(), QString::fromUtf8(CDocCommands::kPostponedNote));
  m_runtime->Console().CancelFade(1);
  Trigger(ids::kFileSave);
  EXPECT_EQ(m_frame->StatusText(), QString::fromUtf8(CDocCommands::kLoadFailedNote));
  m_messages.answers = {kAnswerNo};
  Trigger(ids::kFileClose);
  EXPECT_EQ(m_frame->StatusText(), QStringLiteral("レディ"));
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

// The pre-show check in the window: after Open it speaks only when it finds
// something, in the notice log (no box takes the next GO); from the menu its
// findings come in a dialog, the show's edits included.
TEST_F(DocCommandsTest, ThePreShowCheckRunsAfterOpenAndFromTheMenu) {
  m_dir.Write("snd/here.wav", Wav(1, 48000, 16, std::string(960, '\0')));
  int done = 0;
  m_frame->showCheckDone = [&done] { ++done; };
  auto wait = [&done](int n) {
    const QDeadlineTimer deadline(10000);
    while (done < n && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done >= n;
  };

  Open(WriteShow("intact.csv", {{1, 1, "here.wav"}}));
  ASSERT_TRUE(wait(1));
  EXPECT_TRUE(m_frame->NoticeLog()->Entries().isEmpty())
      << m_frame->NoticeLog()->Entries().join('\n').toStdString();

  // A missing file is in the open's own report; a twelve-bit file only the
  // check finds.
  m_dir.Write("snd/twelve.wav", Wav(1, 48000, 12, std::string(300, '\0')));
  Open(WriteShow("broken.csv", {{1, 1, "here.wav"}, {3, 2, "gone.wav"}, {4, 3, "twelve.wav"}}));
  ASSERT_TRUE(wait(2));
  const QString log = m_frame->NoticeLog()->Entries().join('\n');
  EXPECT_TRUE(log.contains(QStringLiteral("上演前チェック: 1件"))) << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("CH4 Ｑ3"))) << log.toStdString();

  QStringList lines;
  m_frame->showCheckDone = [&] {
    auto* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("findings"));
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    static_cast<QDialog*>(dialog)->reject();
    ++done;
  };
  m_frame->Action(ids::kPreShowCheck)->trigger();
  ASSERT_TRUE(wait(3));
  ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines[0].contains(QStringLiteral("ファイルが見つかりません")))
      << lines[0].toStdString();
}

}  // namespace
}  // namespace orvex
