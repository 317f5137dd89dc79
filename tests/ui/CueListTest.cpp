#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTableView>
#include <QUrl>

#include "ViewRig.h"

namespace orvex {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int32_t> entries) {
  std::vector<uint8_t> out;
  for (int32_t e : entries)
    for (int b = 0; b < 4; ++b)
      out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(e) >> (8 * b)));
  return out;
}

using Order = CListDlgBar::ColumnOrder;

class CueListPane : public QtAppTest {};

TEST_F(CueListPane, StoredColumnOrderRules) {
  const Order def = CListDlgBar::kDefaultOrder;
  EXPECT_EQ(CListDlgBar::OrderFromStored(std::nullopt)[0], -1);
  EXPECT_EQ(CListDlgBar::UsableOrder(CListDlgBar::OrderFromStored(std::nullopt)), def);
  const Order eleven = {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  EXPECT_EQ(CListDlgBar::OrderFromStored(Bytes({10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0})), eleven);
  EXPECT_EQ(CListDlgBar::OrderFromStored(Bytes({9, 8, 7, 6, 5, 4, 3, 2, 1, 0})),
            (Order{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 10}));
  // An older installation's nine entries: timing comes in at 8, the last
  // stored column moves to 9 and the output column goes last.
  EXPECT_EQ(CListDlgBar::OrderFromStored(Bytes({0, 1, 2, 6, 7, 3, 4, 5, 8})),
            (Order{0, 1, 2, 6, 7, 3, 4, 5, 9, 8, 10}));
  EXPECT_EQ(CListDlgBar::OrderFromStored(Bytes({7, 6, 5, 4, 3, 2, 1, 0, 9, 8, 10, 4})),
            (Order{7, 6, 5, 4, 3, 2, 1, 0, 8, 9, 10}));
  // Orders that are no arrangement of the columns give the default.
  for (const auto& bad : {Bytes({0, 1, 2}), Bytes({11, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
                          Bytes({0, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10}), std::vector<uint8_t>(45, 0)}) {
    EXPECT_EQ(CListDlgBar::UsableOrder(CListDlgBar::OrderFromStored(bad)), def);
  }
}

TEST_F(CueListPane, HeadersShowTheOrderAndAMovedColumnIsKept) {
  std::vector<uint8_t> saved;
  {
    CListDlgBar pane;
    EXPECT_EQ(pane.CurrentOrder(), CListDlgBar::kDefaultOrder);
    QHeaderView* header = pane.List()->horizontalHeader();
    EXPECT_EQ(pane.List()->model()->headerData(header->logicalIndex(3), Qt::Horizontal).toString(),
              "F.I");
    EXPECT_EQ(pane.List()->columnWidth(4), 200);
    header->moveSection(10, 0);  // "出力" to the front
    pane.SetOrderSaver([&saved](const std::vector<uint8_t>& bytes) { saved = bytes; });
  }
  ASSERT_EQ(saved.size(), 44u);
  CListDlgBar again(saved);
  EXPECT_EQ(again.CurrentOrder(), (Order{10, 0, 1, 2, 6, 7, 3, 4, 5, 8, 9}));
}

TEST_F(CueListPane, RowsSortByCueThenChannelWithTheirTexts) {
  CListDlgBar pane;
  CRecord r;
  r.qNumber = 5;
  r.title = "first CH2";
  pane.AddRowCopy(r, 2, 1, true);
  r.title = "G1";
  pane.AddRowCopy(r, 7, 1, true);
  r.title = "CH1";
  pane.AddRowCopy(r, 1, 1, true);
  r.title = "second CH2";
  pane.AddRowCopy(r, 2, 2, true);
  r.qNumber = 1.5;
  r.timing = 3723456;
  r.outputSpecified = true;
  r.outputFlags = OUT_G2 | OUT_Y;
  r.delay = 250;
  r.preLevel = 7.5;
  pane.AddRowCopy(r, 8, 3, false);
  pane.FillRows();
  ASSERT_EQ(pane.RowCount(), 5);
  std::vector<std::string> titles;
  for (int i = 0; i < 5; ++i) titles.push_back(pane.Copy(i)->title);
  EXPECT_EQ(titles,
            (std::vector<std::string>{"second CH2", "CH1", "first CH2", "second CH2", "G1"}));
  const CueRowCopy& g2 = *pane.Copy(0);
  EXPECT_EQ(CCueListModel::CellText(g2, 0), "1.5");
  EXPECT_EQ(CCueListModel::CellText(g2, 1), "G2");
  EXPECT_EQ(CCueListModel::CellText(*pane.Copy(4), 1), "G1");
  EXPECT_EQ(CCueListModel::CellText(*pane.Copy(1), 1), "1");
  EXPECT_EQ(CCueListModel::CellText(g2, 5), "7.5");
  EXPECT_EQ(CCueListModel::CellText(g2, 8), "250");
  EXPECT_EQ(CCueListModel::CellText(g2, 9), "01:02:03.4");
  EXPECT_EQ(CCueListModel::CellText(g2, 10), "G2,Y");
  EXPECT_EQ(CCueListModel::CellText(*pane.Copy(1), 9), "00:00:00.0");
  EXPECT_EQ(FormatTiming(-1), "1193:02:47.2");  // taken unsigned
  CueRowCopy unset = g2;
  unset.outputSpecified = false;
  EXPECT_EQ(CCueListModel::CellText(unset, 10), "");

  // A rebuild replaces the rows only when filled.
  pane.ClearRows();
  EXPECT_EQ(pane.RowCount(), 5);
  pane.FillRows();
  EXPECT_EQ(pane.RowCount(), 0);
}

class CueListView : public ViewTest {
 protected:
  QColor RowColour(int row) {
    return list->Model().index(row, 0).data(Qt::BackgroundRole).value<QBrush>().color();
  }
  QRect RowRect(int row) { return list->List()->visualRect(list->Model().index(row, 2)); }
  void ContextCommand(int row, int id) {
    QTableView* table = list->List();
    table->clearSelection();
    const QPoint at = RowRect(row).center();
    QContextMenuEvent e(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &e);
    QMenu* menu = list->findChild<QMenu*>("id282");
    ASSERT_NE(menu, nullptr);
    menu->close();
    QAction* action = menu->findChild<QAction*>(QStringLiteral("id%1").arg(id));
    ASSERT_NE(action, nullptr);
    action->trigger();
    Settle();
  }
};

TEST_F(CueListView, ColoursFollowGoAndTheSequence) {
  AddWav(1, 3, "a.wav");
  RecordValues out = UiCue(3, "STOP");
  out.inSequence = false;
  ASSERT_TRUE(doc->AddRecord(2, out));
  AddWav(3, 3, "c.wav");
  AddWav(1, 4, "d.wav");
  AddWav(4, 5, "e.wav");
  Open();
  ASSERT_EQ(list->RowCount(), 5);
  EXPECT_EQ(RowColour(0), QColor(255, 255, 0));
  QTest::mouseClick(Find(1076), Qt::LeftButton);
  Settle();
  EXPECT_EQ(list->CurrentCue(), 3);
  EXPECT_EQ(list->NextCue(), 4);
  EXPECT_EQ(RowColour(0), QColor(255, 0, 0));      // CH1 3
  EXPECT_EQ(RowColour(1), QColor(100, 100, 100));  // CH2 3, out of sequence
  EXPECT_EQ(RowColour(2), QColor(255, 0, 0));      // CH3 3
  EXPECT_EQ(RowColour(3), QColor(255, 255, 0));    // CH1 4
  EXPECT_EQ(RowColour(4), QColor(255, 255, 255));
}

TEST_F(CueListView, CallUpByDoubleClickAndContextMenu) {
  for (int i = 1; i <= 6; ++i) AddWav(1 + i % 2, i, "f" + std::to_string(i) + ".wav");
  int editedCh = 0, editedPos = 0;
  view.reset();
  Open();
  view->SetRecordEditHandler([&](int ch, int pos) {
    editedCh = ch;
    editedPos = pos;
  });
  QTest::mouseClick(list->List()->viewport(), Qt::LeftButton, {}, RowRect(3).center());
  QTest::mouseDClick(list->List()->viewport(), Qt::LeftButton, {}, RowRect(3).center());
  Settle();
  EXPECT_EQ(list->DoubleClickedCue(), 4);
  EXPECT_EQ(console->NextCue(), 4);
  // Below the last row: nothing.
  QTest::mouseDClick(list->List()->viewport(), Qt::LeftButton, {},
                     QPoint(10, list->List()->viewport()->height() - 2));
  EXPECT_EQ(console->NextCue(), 4);

  ContextCommand(4, CListDlgBar::kSetNext);
  EXPECT_EQ(console->NextCue(), 5);
  EXPECT_EQ(list->FirstSelectedRow(), 4);

  // Row 1 holds cue 2 of CH1 (position 1).
  ContextCommand(1, CListDlgBar::kOutOfSequence);
  EXPECT_FALSE(doc->IsInSequence(1, 1));
  EXPECT_FALSE(list->Copy(1)->inSequence);
  EXPECT_TRUE(console->ShowModified());
  ContextCommand(1, CListDlgBar::kIntoSequence);
  EXPECT_TRUE(doc->IsInSequence(1, 1));
  EXPECT_TRUE(list->Copy(1)->inSequence);
  ContextCommand(2, CListDlgBar::kEditRecord);
  EXPECT_EQ(editedCh, 2);
  EXPECT_EQ(editedPos, 2);

  // Nothing selected: the commands do nothing.
  list->List()->clearSelection();
  list->ContextMenu()->findChild<QAction*>("id32801")->trigger();
  EXPECT_EQ(console->NextCue(), 5);
  EXPECT_EQ(list->ContextMenu()->findChild<QAction*>("id32803")->statusTip(),
            "Qシーケンスからはずします");
}

TEST_F(CueListView, ShowCuePositionWithCursorFixAndBackDisplay) {
  for (int i = 1; i <= 100; ++i) ASSERT_TRUE(doc->AddRecord(1 + i % 6, UiCue(i, "STOP")));
  Open();
  list->resize(400, 200);
  QApplication::processEvents();
  QTableView* table = list->List();
  const int page = list->RowsPerPage();
  ASSERT_GT(page, 3);
  ASSERT_LT(page, 40);

  // Without the fix the list scrolls just far enough to show the next cue.
  list->SetCursorFix(false);
  list->ShowCuePosition(50, 80);
  EXPECT_EQ(table->rowAt(table->viewport()->height() - 1) >= 79, true);
  EXPECT_EQ(table->rowAt(0), 79 - page + 1);

  // With it, five older rows stay above the current one.
  table->scrollToTop();
  list->SetCursorFix(true);
  list->SetBackDisplay(5);
  list->ShowCuePosition(50, 51);
  EXPECT_EQ(table->rowAt(0), 49 - 5);
  // Near the top the next cue is brought into view instead.
  table->scrollToBottom();
  list->ShowCuePosition(3, 4);
  EXPECT_EQ(table->rowAt(0), 3);
  // The start-up font size is applied and stored back.
  EXPECT_EQ(doc->GetSettings().cueListFontSize, 80);
  EXPECT_EQ(list->SetListFontSize(120), 120);
  EXPECT_EQ(table->font().pointSizeF(), 12.0);
  EXPECT_EQ(list->SetListFontSize(-1), 10 * QFontInfo(table->font()).pixelSize());
  EXPECT_EQ(list->SetListFontSize(0), -QFontInfo(table->font()).pixelSize());
}

TEST_F(CueListView, DroppedFilesGoToTheHandler) {
  Open();
  QStringList got;
  list->SetDropHandler([&got](const QStringList& files) { got = files; });
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile("/shows/a.csv")});
  const QPoint at(20, 20);
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list.get(), &drop);
  EXPECT_EQ(got, QStringList{"/shows/a.csv"});
}

}  // namespace
}  // namespace orvex
