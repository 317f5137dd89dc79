// What the console shows of the model: faders, toggles, rows and their
// colours, the cue numbers, the cue list and the progress pane.
#include <cmath>
#include <optional>

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include "show/TextNumbers.h"
#include "ui/FaderCtrl.h"
#include "ui/ListDlgBar.h"
#include "ui/OrvexView.h"
#include "ui/ProgressDlgBar.h"
#include "ui/SliderDlg.h"

namespace orvex {
namespace {

constexpr int kTooltipChars = 1023;

int TrackbarFromValue(uint32_t value) {
  return static_cast<int>(std::lround((1 - value / 65535.0) * 100));
}

void SetText(QLineEdit* edit, const std::string& text) {
  const QString t = QString::fromStdString(text);
  if (edit->text() == t) return;
  edit->setText(t);
  // A text longer than its box shows its beginning, as typed, not its end;
  // the box the operator is typing in keeps the cursor where it is.
  if (!edit->hasFocus()) edit->setCursorPosition(0);
}

// The title lists show their titles' beginnings like the other boxes; the
// list the operator is typing in keeps the cursor where it is.
void SetTitle(QComboBox* combo, const QString& title) {
  if (combo->currentText() != title) combo->setEditText(title);
  if (!combo->hasFocus() && !combo->lineEdit()->hasFocus()) combo->lineEdit()->setCursorPosition(0);
}

void SetChecked(QPushButton* button, bool on) {
  if (button->isChecked() != on) button->setChecked(on);
}

void SetSlider(QSlider* slider, int pos) {
  // A thumb the operator holds stays under the pointer.
  if (slider->isSliderDown() || slider->value() == pos) return;
  const QSignalBlocker block(slider);
  slider->setValue(pos);
}

QString Tip(const std::string& text) {
  return QString::fromStdString(text).left(kTooltipChars);
}

}  // namespace

void COrvexView::OnConsoleEvent(const ConsoleEvent& event) {
  if (m_chained) m_chained->OnConsoleEvent(event);
}

void COrvexView::OnConsoleChanged(ConsoleChange what, int index) {
  switch (what) {
    case ConsoleChange::kFader:
      if (index == 0) {
        RefreshMasterAndCross();
      } else {
        RefreshFader(index);
      }
      break;
    case ConsoleChange::kRouting:
      RefreshRouting(index);
      break;
    case ConsoleChange::kTransport:
      RefreshTransport(index);
      break;
    case ConsoleChange::kRow:
      RefreshRow(index);
      break;
    case ConsoleChange::kTitles:
      RefreshTitles(index);
      break;
    case ConsoleChange::kCues:
      RefreshCues();
      break;
    case ConsoleChange::kClock:
      break;
    case ConsoleChange::kPan:
      if (onPan) onPan(index, m_console.Pan(index));
      break;
    case ConsoleChange::kListPage:  // the list window's pages
    case ConsoleChange::kListItem:
      if (onListPage) onListPage(index, what == ConsoleChange::kListPage);
      break;
    case ConsoleChange::kLateFile:
      m_lateChannel = index;
      if (onNote) onNote(StatusNote::kLateFile, QString::fromStdString(m_console.LateFileNote()));
      break;
    case ConsoleChange::kMissingFile:
      RefreshRowColours(index);
      if (onMissingFile) onMissingFile(index);
      break;
  }
  if (m_chained) m_chained->OnConsoleChanged(what, index);
}

void COrvexView::RefreshAll() {
  for (int f = 1; f <= kFaders; ++f) RefreshFader(f);
  RefreshMasterAndCross();
  RefreshRouting(0);
  for (int ch = 1; ch <= kChannels; ++ch) {
    RefreshTransport(ch);
    RefreshTitles(ch);
    RefreshRow(ch);
  }
  RefreshCues();
}

void COrvexView::RefreshFader(int fader) {
  if (fader < 1 || fader > kFaders) return;
  if (fader <= kChannels) {
    SetSlider(m_strips[Index(fader)].fader, m_console.TrackbarPos(fader));
    SetText(m_strips[Index(fader)].level, m_console.LevelText(fader));
  } else {
    SetSlider(m_groups[Index(fader - kChannels)].fader, m_console.TrackbarPos(fader));
  }
}

void COrvexView::RefreshMasterAndCross() {
  SetSlider(m_master, TrackbarFromValue(m_console.MasterValue()));
  SetSlider(m_cross, TrackbarFromValue(m_console.CrossValue()));
}

void COrvexView::RefreshRouting(int index) {
  if (index == 0) {
    for (int i = 1; i <= kFaders; ++i) RefreshRouting(i);
    SetChecked(m_masterOn, m_console.MasterOn());
    return;
  }
  if (index >= 1 && index <= kChannels) {
    const RouteState r = m_console.ChannelRoute(index);
    const Strip& s = m_strips[Index(index)];
    SetChecked(s.m, r.m);
    SetChecked(s.g1, r.g1);
    SetChecked(s.g2, r.g2);
    SetChecked(s.x, r.x);
    SetChecked(s.y, r.y);
  } else if (index <= kFaders) {
    const int g = index - kChannels;
    const RouteState r = m_console.GroupRoute(g);
    const Group& gr = m_groups[Index(g)];
    SetChecked(gr.m, r.m);
    SetChecked(gr.on, r.on);
    SetChecked(gr.x, r.x);
    SetChecked(gr.y, r.y);
  }
}

void COrvexView::RefreshTransport(int ch) {
  if (ch < 1 || ch > kChannels) return;
  const TransportButtons b = m_console.Buttons(ch);
  const Strip& s = m_strips[Index(ch)];
  SetChecked(s.play, b.play);
  SetChecked(s.pause, b.pause);
  SetChecked(s.stop, b.stop);
  SetChecked(s.fadeOut, b.fadeOut);
}

void COrvexView::RefreshTitles(int ch) {
  if (ch < 1 || ch > kChannels) return;
  QComboBox* combo = m_rows[Index(ch)].title;
  const QSignalBlocker block(combo);
  combo->clear();
  for (const std::string& title : m_console.Titles(ch))
    combo->addItem(QString::fromStdString(title));
  const ChannelRow& row = m_console.Row(ch);
  combo->setCurrentIndex(row.titleIndex);
  SetTitle(combo, QString::fromStdString(row.title));
}

void COrvexView::RefreshRow(int ch) {
  if (ch < 1 || ch > kChannels) return;
  const ChannelRow& row = m_console.Row(ch);
  const DataRow& r = m_rows[Index(ch)];
  SetText(r.q, row.q);
  SetText(r.file, row.file);
  SetText(r.description, row.description);
  SetText(r.pre, row.pre);
  SetText(r.fadeIn, row.fadeIn);
  SetText(r.fadeOut, row.fadeOut);
  {
    const QSignalBlocker block(r.title);
    if (r.title->currentIndex() != row.titleIndex && row.titleIndex < r.title->count())
      r.title->setCurrentIndex(row.titleIndex);
    SetTitle(r.title, QString::fromStdString(row.title));
  }
  r.title->setToolTip(Tip(row.title));
  r.file->setToolTip(Tip(row.file));
  r.description->setToolTip(Tip(row.description));
  RefreshRowColours(ch);
}

double COrvexView::NextCueValue() const {
  // The edit shows the next cue rounded; as long as it is untouched it
  // stands for the exact number.
  const std::string text = m_nextCue->text().toStdString();
  return text == FormatG(m_console.NextCue()) ? m_console.NextCue() : ParseLeadingReal(text);
}

void COrvexView::RefreshRowColours(int ch) {
  if (ch < 1 || ch > kChannels) return;
  const CRecord* r = m_console.CurrentRecordOf(ch);
  const DataRow& row = m_rows[Index(ch)];
  const auto paint = [this](QLineEdit* edit, std::optional<QColor> colour) {
    QPalette p = m_editPalette;
    if (colour) p.setColor(QPalette::Base, *colour);
    if (edit->palette().color(QPalette::Base) != p.color(QPalette::Base)) edit->setPalette(p);
  };
  std::optional<QColor> file;
  if (r && IsCommandWord(r->fileOrCommand)) {
    file = QColor(255, 255, 0);
  } else if (r) {
    // The answer kept from the last look (never a look from here: the UI
    // thread does not wait on the file system), or the player's own word
    // that the file did not open. A path not looked at yet is looked at now.
    const std::string stored = m_console.StoredFilePath(ch);
    const std::optional<bool> missing =
        stored.empty() ? std::optional<bool>(true) : m_fileWatch.Missing(stored);
    if (!missing) CheckFiles();
    if (missing.value_or(false) || !m_console.MissingFile(ch).empty()) file = QColor(255, 0, 0);
  }
  paint(row.file, file);
  std::optional<QColor> q;
  const double next = NextCueValue();
  if (r && !r->inSequence) {
    q = QColor(100, 100, 100);
  } else if (r && next > 0 && next == r->qNumber) {
    q = QColor(255, 255, 0);
  }
  paint(row.q, q);
}

void COrvexView::RefreshCues() {
  SetText(m_currentCue, m_console.CurrentCueText());
  SetText(m_nextCue, m_console.NextCueText());
  for (int ch = 1; ch <= kChannels; ++ch) RefreshRowColours(ch);
  if (!m_list) return;
  m_list->SetMarks(ParseLeadingReal(m_console.CurrentCueText()), m_console.NextCue());
  m_list->ShowCuePosition(m_list->CurrentCue(), m_list->NextCue());
}

void COrvexView::CheckFiles() {
  std::vector<std::string> stored;
  for (int ch = 1; ch <= kChannels; ++ch) stored.push_back(m_console.StoredFilePath(ch));
  m_fileWatch.Check(std::move(stored), m_console.Drives(), m_console.ShowFolder());
  // A channel named as slow whose file has come (or that let it go) is
  // slow no longer.
  if (m_lateChannel > 0 &&
      (m_console.Player(m_lateChannel).IsReady() || !m_console.Player(m_lateChannel).IsLoaded())) {
    m_lateChannel = 0;
    if (onNote) onNote(StatusNote::kLateFile, {});
  }
}

bool COrvexView::WaitForFileChecks() {
  const bool idle = m_fileWatch.WaitIdle(std::chrono::seconds(10));
  QCoreApplication::processEvents();
  return idle;
}

void COrvexView::RebuildCueList() {
  if (!m_list) return;
  m_list->ClearRows();
  for (int ch = 1; ch <= kFaders; ++ch) {
    const int count = m_doc.GetCount(ch);
    for (int i = 1; i <= count; ++i) {
      if (const CRecord* r = m_doc.Find(ch, i))
        m_list->AddRowCopy(*r, ch, i, m_doc.IsInSequence(ch, i));
    }
  }
  m_list->FillRows();
  m_list->ShowCuePosition(m_list->CurrentCue(), m_list->NextCue());
}

void COrvexView::RefreshProgress() {
  for (int ch = 1; ch <= kChannels; ++ch) {
    if (!m_progress && !m_sliders) return;
    const PositionDisplay display = m_console.Player(ch).GetPositionDisplay();
    if (m_progress) m_progress->UpdateChannel(ch, display);
    if (m_sliders) m_sliders->UpdateChannel(ch, display);
  }
}

}  // namespace orvex
