#include <algorithm>
#include <filesystem>

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWheelEvent>

#include "ViewRig.h"
#include "session/OrvexRuntime.h"
#include "ui/AppFont.h"
#include "ui/DialogUnits.h"
#include "ui/FaderCtrl.h"
#include "ui/LevelMeter.h"
#include "ui/QtUiPoster.h"
#include "ui/StartButton.h"

namespace orvex {
namespace {

QPoint Dlu(int x, int y) {
  return {DluToPixelsX(DialogFont(), x), DluToPixelsY(DialogFont(), y)};
}

void Wheel(QWidget* target, QPoint pos, int delta) {
  QWheelEvent e(pos, target->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(target, &e);
}

void Key(QWidget* target, int key, Qt::KeyboardModifiers mods, bool press, bool repeat = false) {
  QKeyEvent e(press ? QEvent::KeyPress : QEvent::KeyRelease, key, mods, QString(), repeat);
  QApplication::sendEvent(target, &e);
}

double Level(CConsole& c, int ch) {
  return c.FaderValue(ch) / 65535.0 * 10;
}

QColor Base(QLineEdit* edit) {
  return edit->palette().color(QPalette::Base);
}

using ConsoleView = ViewTest;

TEST_F(ConsoleView, FormAndControlsSitAtTheirDialogUnits) {
  Open();
  const QFont font = DialogFont();
  EXPECT_EQ(view->Form()->size(), DluSize(font, 379, 347));
  EXPECT_EQ(Find(1076)->geometry(), DluRect(font, 295, 178, 51, 30));
  EXPECT_EQ(Find(1179)->geometry(), DluRect(font, 295, 209, 50, 14));
  EXPECT_EQ(Find(1008)->geometry(), DluRect(font, 178, 45, 27, 86));
  EXPECT_EQ(Find(1060)->geometry(), DluRect(font, 240, 146, 91, 23));
  EXPECT_EQ(Find(1377)->geometry(), DluRect(font, 340, 54, 21, 71));
  EXPECT_EQ(Find(1124)->geometry(), DluRect(font, 179, 326, 102, 14));
  EXPECT_EQ(Find(1310)->geometry(), DluRect(font, 174, 0, 35, 232));
  EXPECT_EQ(Find<QPushButton>(1076)->text(), "Q");
  EXPECT_EQ(Find<QPushButton>(1179)->text(), "STOP ALL");
  EXPECT_EQ(Find<QPushButton>(1358)->text(), "CH6");
  EXPECT_EQ(Find<QPushButton>(1110)->text(), "F. O");
  EXPECT_EQ(Find<QPushButton>(1135)->text(), "更新");
  EXPECT_EQ(Find<QPushButton>(1185)->text(), "呼出");
  auto* go = Find<CStartButton>(1076);
  EXPECT_EQ(go->FontSize(), 240);
  EXPECT_EQ(go->TextColour(), QColor(255, 255, 0));
  EXPECT_EQ(go->BackColour(), QColor(255, 0, 0));
  auto* stop = Find<CStartButton>(1179);
  EXPECT_EQ(stop->FontSize(), 100);
  EXPECT_EQ(stop->BackColour(), QColor(0, 0, 255));
  // The column headings are readable whole and do not run into each other.
  QList<QLabel*> headings;
  for (auto* label : view->Form()->findChildren<QLabel*>()) {
    if (QStringList{"Ｑ", "タイトル", "ファイル/コマンド", "説明", "PRE", "F. I", "F. O"}.contains(
            label->text()) &&
        label->y() == DluToPixelsY(font, 235))
      headings << label;
  }
  ASSERT_EQ(headings.size(), 7);
  std::sort(headings.begin(), headings.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
  const QFontMetrics metrics(font);
  for (qsizetype i = 0; i < headings.size(); ++i) {
    const int textEnd = headings[i]->x() + metrics.horizontalAdvance(headings[i]->text());
    EXPECT_LE(textEnd, headings[i]->geometry().right() + 1) << headings[i]->text().toStdString();
    if (i + 1 < headings.size()) {
      EXPECT_LT(textEnd, headings[i + 1]->x());
    }
  }
  // GO paints its own colours.
  const QImage image = go->grab().toImage();
  EXPECT_EQ(image.pixelColor(image.width() / 6, image.height() / 2), QColor(255, 0, 0));
}

TEST_F(ConsoleView, GoByMouseAndBySpaceFiresTheNextCue) {
  AddWav(1, 1, "a.wav");
  AddWav(2, 2, "b.wav");
  Open();
  EXPECT_EQ(Find<QLineEdit>(1075)->text(), "1");
  QTest::mouseClick(Find(1076), Qt::LeftButton);
  Settle();
  EXPECT_EQ(console->CurrentCueText(), "1");
  EXPECT_TRUE(console->Buttons(1).play);
  EXPECT_TRUE(Find<QPushButton>(1009)->isChecked());
  EXPECT_EQ(Find<QLineEdit>(1074)->text(), "1");
  EXPECT_EQ(Find<QLineEdit>(1075)->text(), "2");

  Find(1076)->setFocus();
  QTest::keyClick(Find(1076), Qt::Key_Space);
  Settle();
  EXPECT_EQ(console->CurrentCueText(), "2");
  EXPECT_TRUE(console->Buttons(2).play);

  QTest::mouseClick(Find(1179), Qt::LeftButton);
  Settle();
  EXPECT_FALSE(console->Buttons(1).play);
  EXPECT_FALSE(Find<QPushButton>(1012)->isChecked());
}

TEST_F(ConsoleView, EnterOnTheFormFiresGoAsItsDefaultButton) {
  for (int ch = 1; ch <= 4; ++ch) AddWav(ch, ch, "c" + std::to_string(ch) + ".wav");
  Open();
  // From the next-cue box, a fader (keypad Enter) and a push-like toggle.
  auto* next = Find<QLineEdit>(1075);
  next->setFocus();
  QTest::keyClick(next, Qt::Key_Return);
  Settle();
  EXPECT_EQ(console->CurrentCueText(), "1");
  auto* ch3 = Find(1002);
  ch3->setFocus();
  QTest::keyClick(ch3, Qt::Key_Enter, Qt::KeypadModifier);
  Settle();
  EXPECT_EQ(console->CurrentCueText(), "2");
  auto* m = Find<QPushButton>(1102);
  const bool routed = m->isChecked();
  m->setFocus();
  QTest::keyClick(m, Qt::Key_Return);
  Settle();
  EXPECT_EQ(console->CurrentCueText(), "3");
  EXPECT_EQ(m->isChecked(), routed);

  // A held Enter fires once; Ctrl+Enter is not GO.
  Key(m, Qt::Key_Return, Qt::NoModifier, true, true);
  QTest::keyClick(m, Qt::Key_Return, Qt::ControlModifier);
  Settle();
  EXPECT_EQ(console->CurrentCueText(), "3");
  EXPECT_EQ(next->text(), "4");

  // A focused push button answers Enter itself: "前" moves the pointer back.
  auto* previous = Find<QPushButton>(1194);
  previous->setFocus();
  QTest::keyClick(previous, Qt::Key_Return);
  Settle();
  EXPECT_EQ(console->CurrentCueText(), "3");
  EXPECT_EQ(next->text(), "3");
  EXPECT_FALSE(console->Buttons(4).play);
}

TEST_F(ConsoleView, FadersMoveTheModelAndFollowIt) {
  Open();
  auto* ch3 = Find<QSlider>(1002);
  ch3->setValue(30);
  EXPECT_EQ(console->TrackbarPos(3), 30);
  EXPECT_EQ(Find<QLineEdit>(1319)->text(), "7.0");
  Find<QSlider>(1005)->setValue(40);
  EXPECT_EQ(console->TrackbarPos(7), 40);
  Find<QSlider>(1007)->setValue(20);
  EXPECT_EQ(console->MasterValue(), static_cast<uint32_t>(0.8 * 65535));
  Find<QSlider>(1060)->setValue(100);
  EXPECT_EQ(console->CrossValue(), 0u);

  // The model moving a fader moves its trackbar, and nothing is sent back.
  console->SetFaderLevel(2, 5, true);
  Settle();
  EXPECT_EQ(Find<QSlider>(1001)->value(), 50);
  EXPECT_EQ(Find<QLineEdit>(1318)->text(), "5.0");

  // With no channel linked the arrows go to the focused fader.
  ch3->setFocus();
  QTest::keyClick(ch3, Qt::Key_Down);
  EXPECT_EQ(console->TrackbarPos(3), 31);
}

TEST_F(ConsoleView, RoutingAndTransportTogglesReachTheModel) {
  AddWav(1, 1, "a.wav");
  ASSERT_TRUE(doc->AddRecord(1, UiCue(2, "STOP")));
  Open();
  const bool m = console->ChannelRoute(1).m;
  QTest::mouseClick(Find(1102), Qt::LeftButton);
  EXPECT_EQ(console->ChannelRoute(1).m, !m);
  QTest::mouseClick(Find(1062), Qt::LeftButton);  // CH2 X
  QTest::mouseClick(Find(1063), Qt::LeftButton);  // CH2 Y
  EXPECT_TRUE(console->ChannelRoute(2).y);
  EXPECT_FALSE(console->ChannelRoute(2).x);
  EXPECT_FALSE(Find<QPushButton>(1062)->isChecked());
  QTest::mouseClick(Find(1105), Qt::LeftButton);
  EXPECT_TRUE(console->GroupRoute(1).on);
  const bool masterOn = console->MasterOn();
  QTest::mouseClick(Find(1111), Qt::LeftButton);
  EXPECT_EQ(console->MasterOn(), !masterOn);

  QTest::mouseClick(Find(1009), Qt::LeftButton);
  EXPECT_TRUE(console->Player(1).IsPlaying());
  QTest::mouseClick(Find(1011), Qt::LeftButton);
  EXPECT_TRUE(console->Player(1).IsPaused());
  EXPECT_TRUE(Find<QPushButton>(1011)->isChecked());
  EXPECT_FALSE(Find<QPushButton>(1009)->isChecked());
  QTest::mouseClick(Find(1010), Qt::LeftButton);
  EXPECT_FALSE(console->Player(1).IsPaused());
  // F. O on a channel that is not playing releases itself.
  QTest::mouseClick(Find(1077), Qt::LeftButton);
  EXPECT_FALSE(Find<QPushButton>(1077)->isChecked());
  QTest::mouseClick(Find(1015), Qt::LeftButton);
  Settle();
  EXPECT_EQ(console->CurrentRecord(1), 2);
  EXPECT_EQ(Find<QLineEdit>(1016)->text(), "STOP");
}

TEST_F(ConsoleView, WheelStepsFaderAndLinkedChannels) {
  Open();
  console->SetFaderLevel(2, 10, true);
  console->SetFaderLevel(5, 5, true);
  console->SetFaderLevel(3, 2, true);
  QTest::mouseClick(Find(1347), Qt::LeftButton);  // CH2 link
  QTest::mouseClick(Find(1355), Qt::LeftButton);  // CH5 link
  EXPECT_TRUE(view->WheelLink(2));
  EXPECT_TRUE(view->WheelLink(5));

  // Over an empty part of the console: every linked channel.
  Wheel(view->Form(), Dlu(215, 200), 120);
  EXPECT_NEAR(Level(*console, 5), 5.1, 1e-3);
  EXPECT_NEAR(Level(*console, 2), 10.0, 1e-3);
  EXPECT_NEAR(Level(*console, 3), 2.0, 1e-3);
  Wheel(view->Form(), Dlu(215, 200), -30);  // only the sign counts
  EXPECT_NEAR(Level(*console, 5), 5.0, 1e-3);
  EXPECT_NEAR(Level(*console, 2), 9.9, 1e-3);

  // Over a fader: that channel only, linked or not; the thumb follows.
  Wheel(Find(1002), QPoint(5, 5), 120);
  EXPECT_NEAR(Level(*console, 3), 2.1, 1e-3);
  EXPECT_NEAR(Level(*console, 5), 5.0, 1e-3);
  Settle();
  EXPECT_EQ(Find<QSlider>(1002)->value(), console->TrackbarPos(3));

  // The master, groups and cross-fader ignore it.
  const uint32_t master = console->MasterValue();
  const int masterPos = Find<QSlider>(1007)->value();
  Wheel(Find(1007), QPoint(5, 5), 120);
  Wheel(Find(1005), QPoint(5, 5), 120);
  Wheel(Find(1060), QPoint(5, 5), 120);
  EXPECT_EQ(console->MasterValue(), master);
  EXPECT_EQ(Find<QSlider>(1007)->value(), masterPos);
  EXPECT_EQ(console->TrackbarPos(7), 100);
  EXPECT_NEAR(Level(*console, 5), 5.0, 1e-3);

  // The speed setting scales the step.
  doc->GetSettings().wheel = 240;
  Wheel(Find(1002), QPoint(5, 5), 120);
  EXPECT_NEAR(Level(*console, 3), 2.3, 1e-3);
}

TEST_F(ConsoleView, KeyboardTable) {
  AddWav(2, 1, "b.wav");
  Open();
  auto* ch3 = Find<QSlider>(1002);
  ch3->setFocus();

  // Ctrl+3 flips the CH3 link on each press, once while held.
  Key(ch3, Qt::Key_Control, Qt::ControlModifier, true);
  Key(ch3, Qt::Key_3, Qt::ControlModifier, true);
  EXPECT_TRUE(view->WheelLink(3));
  EXPECT_TRUE(Find<QPushButton>(1349)->isChecked());
  Key(ch3, Qt::Key_3, Qt::ControlModifier, true, true);
  Key(ch3, Qt::Key_3, Qt::ControlModifier, true, true);
  EXPECT_TRUE(view->WheelLink(3));
  Key(ch3, Qt::Key_3, Qt::ControlModifier, false);
  Key(ch3, Qt::Key_3, Qt::ControlModifier, true);
  EXPECT_FALSE(view->WheelLink(3));
  Key(ch3, Qt::Key_3, Qt::ControlModifier, false);
  Key(ch3, Qt::Key_Control, Qt::NoModifier, false);
  // A digit without Ctrl is a digit.
  Key(ch3, Qt::Key_3, Qt::NoModifier, true);
  EXPECT_FALSE(view->WheelLink(3));
  Key(ch3, Qt::Key_3, Qt::NoModifier, false);

  // With a link the arrows step the linked channels and stop there.
  view->SetWheelLink(1, true);
  console->SetFaderLevel(1, 5, true);
  console->SetFaderLevel(3, 5, true);
  Settle();
  QTest::keyClick(ch3, Qt::Key_Up);
  EXPECT_NEAR(Level(*console, 1), 5.1, 1e-3);
  EXPECT_EQ(console->TrackbarPos(3), 50);
  QTest::keyClick(ch3, Qt::Key_Down);
  QTest::keyClick(ch3, Qt::Key_Down);
  EXPECT_NEAR(Level(*console, 1), 4.9, 1e-3);

  // F2 restarts CH2; Esc hands the focus to GO.
  QTest::keyClick(ch3, Qt::Key_F2);
  Settle();
  EXPECT_TRUE(console->Buttons(2).play);
  EXPECT_TRUE(console->Player(2).IsPlaying());
  QTest::keyClick(ch3, Qt::Key_Escape);
  EXPECT_TRUE(Find(1076)->hasFocus());
}

TEST_F(ConsoleView, RightClickFocusesTheFaderOfTheArea) {
  Open();
  // Between the CH3 and CH4 faders, inside the CH4 strip area.
  QTest::mouseClick(view->Form(), Qt::RightButton, {}, Dlu(113, 100));
  EXPECT_EQ(view->FocusedChannelFader(), 4);
  auto* ch4 = Find<QSlider>(1003);
  EXPECT_TRUE(ch4->hasFocus());
  // Its thumb shows the focus colour.
  const QRect thumb = static_cast<CFaderCtrl*>(ch4)->ThumbRect();
  const QImage image = ch4->grab().toImage();
  EXPECT_EQ(image.pixelColor(thumb.left() + 3, thumb.top() + 2).rgb(), CFaderCtrl::kFocusColour);
  EXPECT_EQ(image.pixelColor(thumb.center().x(), thumb.top() + thumb.height() / 2),
            QColor(255, 0, 0));
  const QImage other = Find(1002)->grab().toImage();
  const QRect t3 = Find<CFaderCtrl>(1002)->ThumbRect();
  EXPECT_EQ(other.pixelColor(t3.left() + 3, t3.top() + 2).rgb(), CFaderCtrl::kThumbColour);

  QTest::mouseClick(view->Form(), Qt::RightButton, {}, Dlu(240, 100));
  EXPECT_TRUE(Find(1005)->hasFocus());
  EXPECT_EQ(view->FocusedChannelFader(), 0);
  QTest::mouseClick(view->Form(), Qt::RightButton, {}, Dlu(310, 20));
  EXPECT_TRUE(Find(1007)->hasFocus());
  // Between two data rows: GO.
  QTest::mouseClick(view->Form(), Qt::RightButton, {}, Dlu(200, 261));
  EXPECT_TRUE(Find(1076)->hasFocus());
  // On a fader itself.
  QTest::mouseClick(Find(1000), Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_EQ(view->FocusedChannelFader(), 1);
}

TEST_F(ConsoleView, DataRowColoursAndTooltips) {
  ASSERT_TRUE(doc->AddRecord(1, UiCue(12, "FOUT")));
  ASSERT_TRUE(doc->AddRecord(2, UiCue(13, "gone.wav")));
  AddWav(3, 14, "here.wav");
  RecordValues out = UiCue(15, "FUP");
  out.inSequence = false;
  out.description = std::string(1500, 'd');
  ASSERT_TRUE(doc->AddRecord(4, out));
  ASSERT_TRUE(doc->AddRecord(5, UiCue(16, "")));
  Open();
  const QColor standard = Base(Find<QLineEdit>(1037));
  EXPECT_EQ(Base(Find<QLineEdit>(1016)), QColor(255, 255, 0));
  EXPECT_EQ(Base(Find<QLineEdit>(1033)), QColor(255, 0, 0));
  EXPECT_EQ(Base(Find<QLineEdit>(1045)), QColor(255, 0, 0));  // empty path
  EXPECT_NE(standard, QColor(255, 0, 0));
  EXPECT_EQ(Base(Find<QLineEdit>(1043)), QColor(100, 100, 100));
  EXPECT_EQ(Base(Find<QLineEdit>(1018)), QColor(255, 255, 0));
  EXPECT_EQ(Base(Find<QLineEdit>(1035)), standard);
  EXPECT_EQ(Base(Find<QLineEdit>(1118)), standard);  // no record
  EXPECT_EQ(Find(1044)->toolTip().size(), 1023);
  EXPECT_EQ(Find(1034)->toolTip(), "Tgone.wav");
  // A text longer than its box shows its beginning.
  EXPECT_EQ(Find<QLineEdit>(1044)->cursorPosition(), 0);

  // GO moves the next cue on and CH1's box back to standard.
  QTest::mouseClick(Find(1076), Qt::LeftButton);
  Settle();
  EXPECT_EQ(Base(Find<QLineEdit>(1018)), standard);
  EXPECT_EQ(Base(Find<QLineEdit>(1035)), QColor(255, 255, 0));
  // So does a number typed into "次のＱ".
  auto* next = Find<QLineEdit>(1075);
  next->clear();
  QTest::keyClicks(next, "14");
  EXPECT_EQ(console->NextCueText(), "14");
  EXPECT_EQ(Base(Find<QLineEdit>(1039)), QColor(255, 255, 0));
  EXPECT_EQ(Base(Find<QLineEdit>(1035)), standard);
}

// The red of a missing file follows the file during the show: looked for
// again on the view's periodic check (off the UI thread), not only when a
// cue is called up.
TEST_F(ConsoleView, AFileDeletedOrRestoredDuringTheShowChangesItsRowColour) {
  AddWav(1, 1, "a.wav");
  Open();
  auto* file = Find<QLineEdit>(1016);
  const QColor standard = Base(file);
  ASSERT_NE(standard, QColor(255, 0, 0));
  const std::string bytes = dir.Read("a.wav");
  std::filesystem::remove(dir.File("a.wav"));
  view->CheckFiles();
  ASSERT_TRUE(view->WaitForFileChecks());
  EXPECT_EQ(Base(file), QColor(255, 0, 0));
  dir.Write("a.wav", bytes);
  view->CheckFiles();
  ASSERT_TRUE(view->WaitForFileChecks());
  EXPECT_EQ(Base(file), standard);
}

// Typing a number into "次のＱ" and pressing Enter fires the armed cue:
// "現在のＱ" and the cue list name that cue, not the typed number.
TEST_F(ConsoleView, CurrentCueShowsTheCueThatFired) {
  AddWav(1, 1, "a.wav");
  AddWav(2, 5, "b.wav");
  Open();
  auto* next = Find<QLineEdit>(1075);
  next->setFocus();
  next->clear();
  QTest::keyClicks(next, "5");
  QTest::keyClick(next, Qt::Key_Return);
  Settle();
  EXPECT_TRUE(console->Buttons(1).play);
  EXPECT_FALSE(console->Buttons(2).play);
  EXPECT_EQ(Find<QLineEdit>(1074)->text(), "1");
  EXPECT_EQ(list->CurrentCue(), 1);
}

TEST_F(ConsoleView, RowEditsAreStoredWithTheirButton) {
  AddWav(1, 1, "a.wav");
  AddWav(1, 2, "b.wav");
  Open();
  auto* pre = Find<QLineEdit>(1092);
  pre->selectAll();
  QTest::keyClicks(pre, "12");
  auto* title = Find<QComboBox>(1017);
  title->lineEdit()->selectAll();
  QTest::keyClicks(title->lineEdit(), "Opening");
  QTest::mouseClick(Find(1097), Qt::LeftButton);
  Settle();
  EXPECT_EQ(doc->Find(1, 1)->preLevel, 10);
  EXPECT_EQ(doc->Find(1, 1)->title, "Opening");
  ASSERT_EQ(list->RowCount(), 2);
  EXPECT_EQ(CCueListModel::CellText(*list->Copy(0), 5), "10");
  EXPECT_EQ(title->itemText(0), "Opening");

  // Choosing a title makes that record current.
  title->activated(1);
  Settle();
  EXPECT_EQ(console->CurrentRecord(1), 2);
  EXPECT_EQ(Find<QLineEdit>(1016)->text(), "b.wav");
}

TEST_F(ConsoleView, MeterDrawsThePeaksAndStaysDarkWithoutSource) {
  Open();
  auto* meter = Find<CLevelMeter>(1377);
  EXPECT_TRUE(meter->Running());
  meter->Tick();
  EXPECT_EQ(meter->Left(), 0);
  QImage image = meter->grab().toImage();
  EXPECT_EQ(image.pixelColor(4, image.height() - 2), QColor(0, 0, 0));

  FakePeaks source;
  source.left = 0.75f;
  source.right = 2.0f;
  peaks = &source;
  meter->Tick();
  EXPECT_EQ(meter->Left(), 0.75f);
  EXPECT_EQ(meter->Right(), 1.0f);
  image = meter->grab().toImage();
  const int bottom = image.height();
  EXPECT_EQ(image.pixelColor(4, bottom - 2), QColor(0, 255, 0));
  // Lines every other row up from the bottom edge.
  const int topLine = bottom % 2 == 0 ? 2 : 3;
  EXPECT_EQ(image.pixelColor(image.width() - 5, topLine), QColor(255, 0, 0));  // right bar full
  EXPECT_EQ(image.pixelColor(4, topLine), QColor(0, 0, 0));
  peaks = nullptr;

  // Segment colours at 0.75 of a 100-pixel meter.
  EXPECT_EQ(CLevelMeter::SegmentColour(100, 0, 100, 0.75f), qRgb(0, 255, 0));
  EXPECT_EQ(CLevelMeter::SegmentColour(50, 0, 100, 0.75f), qRgb(0, 255, 0));
  EXPECT_EQ(CLevelMeter::SegmentColour(40, 0, 100, 0.75f), qRgb(255, 255, 0));
  EXPECT_EQ(CLevelMeter::SegmentColour(26, 0, 100, 0.75f), qRgb(255, 0, 0));
  EXPECT_EQ(CLevelMeter::SegmentColour(24, 0, 100, 0.75f), qRgb(0, 0, 0));
  EXPECT_EQ(CLevelMeter::SegmentColour(0, 0, 100, 1.0f), qRgb(255, 0, 0));
}

TEST_F(ConsoleView, ProgressPaneFollowsThePlayerAndSeeksIt) {
  AddWav(1, 1, "a.wav");
  Open();
  QTest::mouseClick(Find(1009), Qt::LeftButton);
  Advance(500);
  view->RefreshProgress();
  auto* bar = progress->findChild<CProgressSlider*>("id1379");
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->maximum(), 32000);
  EXPECT_EQ(bar->value(), static_cast<int>(console->Player(1).Position()));
  EXPECT_GT(bar->value(), 0);
  EXPECT_EQ(bar->SelectionEnd(), bar->value());
  auto* elapsed = progress->findChild<QLabel*>("id1385");
  EXPECT_EQ(elapsed->text().toStdString(), console->Player(1).GetPositionDisplay().shortElapsed);

  // Paging seeks the channel to the bar's new position.
  bar->setFocus();
  const int before = bar->value();
  QTest::keyClick(bar, Qt::Key_PageUp);
  EXPECT_EQ(progress->RequestedPosition(1), static_cast<uint32_t>(before + bar->pageStep()));
  EXPECT_EQ(console->Player(1).Position(), progress->RequestedPosition(1));

  // While the thumb is held the player does not move it.
  bar->setSliderDown(true);
  bar->triggerAction(QAbstractSlider::SliderMove);
  EXPECT_TRUE(progress->Dragging(1));
  bar->setSliderPosition(1000);
  Advance(300);
  view->RefreshProgress();
  EXPECT_EQ(bar->sliderPosition(), 1000);
  bar->setSliderDown(false);  // released: seek
  EXPECT_FALSE(progress->Dragging(1));
  EXPECT_EQ(console->Player(1).Position(), 1000u);
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

TEST_F(ViewTest, RuntimeViewMetersTheRuntimesPeakSource) {
  QtUiPoster poster;
  COrvexRuntime runtime(*doc, poster, timers);
  runtime.StartUp();
  COrvexView console(runtime, *doc);
  auto* meter = console.Form()->findChild<CLevelMeter*>("id1377");
  ASSERT_NE(meter, nullptr);
  meter->Tick();
  EXPECT_EQ(meter->Left(), 0);
  // A source attached after the view was made is read from the next tick.
  FakePeaks source;
  source.left = 0.5f;
  runtime.SetPeakSource(&source);
  meter->Tick();
  EXPECT_EQ(meter->Left(), 0.5f);
  QTest::mouseClick(console.Form()->findChild<QWidget*>("id1111"), Qt::LeftButton);
  EXPECT_EQ(runtime.Console().MasterOn(),
            console.Form()->findChild<QPushButton*>("id1111")->isChecked());
  runtime.SetPeakSource(nullptr);
}

}  // namespace
}  // namespace orvex
