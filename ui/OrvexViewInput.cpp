// The operator's mouse and keyboard on the console: the wheel and its links,
// right-click focus, the keyboard table, and the commands of the panes.
#include <algorithm>

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QWheelEvent>

#include "ui/FaderCtrl.h"
#include "ui/ListDlgBar.h"
#include "ui/OrvexView.h"
#include "ui/StartButton.h"

namespace orvex {

double COrvexView::WheelDelta() const {
  return 0.1 * m_doc.GetSettings().wheel / 120.0;
}

void COrvexView::StepChannel(int ch, double delta) {
  const double level = m_console.FaderValue(ch) / 65535.0 * 10;
  m_console.Execute(cmd::FaderLevel{ch, std::clamp(level + delta, 0.0, 10.0)});
}

void COrvexView::StepLinked(double delta) {
  for (int ch = 1; ch <= kChannels; ++ch)
    if (m_link[Index(ch)]) StepChannel(ch, delta);
}

void COrvexView::FaderWheel(int fader, int delta) {
  // The groups, the master and the cross-fader ignore the wheel.
  if (fader < 1 || fader > kChannels || delta == 0) return;
  StepChannel(fader, delta > 0 ? WheelDelta() : -WheelDelta());
}

void COrvexView::ConsoleWheel(int delta) {
  if (delta != 0) StepLinked(delta > 0 ? WheelDelta() : -WheelDelta());
}

void COrvexView::SetWheelLink(int ch, bool on) {
  if (ch < 1 || ch > kChannels) return;
  m_link[Index(ch)] = on;
  m_strips[Index(ch)].link->setChecked(on);
}

int COrvexView::FocusedChannelFader() const {
  for (int ch = 1; ch <= kChannels; ++ch)
    if (m_strips[Index(ch)].fader->hasFocus()) return ch;
  return 0;
}

void COrvexView::RightClick(const QPoint& pos) {
  for (int ch = 1; ch <= kChannels; ++ch) {
    if (m_strips[Index(ch)].area->geometry().contains(pos)) {
      m_strips[Index(ch)].fader->setFocus(Qt::MouseFocusReason);
      return;
    }
  }
  for (int g = 1; g <= 2; ++g) {
    if (m_groups[Index(g)].area->geometry().contains(pos)) {
      m_groups[Index(g)].fader->setFocus(Qt::MouseFocusReason);
      return;
    }
  }
  if (m_masterArea->geometry().contains(pos)) {
    m_master->setFocus(Qt::MouseFocusReason);
    return;
  }
  m_go->setFocus(Qt::MouseFocusReason);
}

void COrvexView::SeekChannel(int ch, uint32_t offset) {
  m_console.Execute(cmd::Seek{ch, offset});
}

void COrvexView::OnCueListCommand(int id) {
  if (!m_list) return;
  const int row = m_list->FirstSelectedRow();
  const CueRowCopy* copy = m_list->Copy(row);
  if (!copy) return;
  switch (id) {
    case CListDlgBar::kSetNext:
      m_console.Execute(cmd::CallUpCue{copy->qNumber});
      break;
    case CListDlgBar::kOutOfSequence:
    case CListDlgBar::kIntoSequence: {
      const bool in = id == CListDlgBar::kIntoSequence;
      m_console.SetInSequence(copy->channel, copy->position, in);
      m_list->SetCopyInSequence(row, in);
      RefreshRowColours(copy->channel);
      break;
    }
    case CListDlgBar::kEditRecord:
      if (m_editRecord) m_editRecord(copy->channel, copy->position);
      break;
    default:
      break;
  }
}

bool COrvexView::HandleKey(QKeyEvent* key, bool press) {
  // The Ctrl state comes with every key, so a Ctrl released while another
  // window had the focus does not stay held here.
  m_ctrlHeld = (key->modifiers() & Qt::ControlModifier) != 0;
  const int k = key->key();
  if (k >= Qt::Key_1 && k <= Qt::Key_6) {
    const size_t ch = Index(k - Qt::Key_1 + 1);
    if (!press) {
      m_digitDown[ch] = false;
      return false;
    }
    // Edge-triggered: a held Ctrl+digit flips its link once.
    const bool wasDown = m_digitDown[ch];
    m_digitDown[ch] = true;
    if (m_ctrlHeld && !wasDown) {
      SetWheelLink(static_cast<int>(ch), !m_link[ch]);
      return true;
    }
    return m_ctrlHeld;
  }
  if (!press) return false;
  switch (k) {
    case Qt::Key_Escape:
      m_go->setFocus(Qt::ShortcutFocusReason);
      return true;
    case Qt::Key_Up:
    case Qt::Key_Down: {
      if (std::none_of(m_link.begin(), m_link.end(), [](bool on) { return on; })) return false;
      StepLinked(k == Qt::Key_Up ? WheelDelta() : -WheelDelta());
      return true;
    }
    case Qt::Key_F1:
    case Qt::Key_F2:
    case Qt::Key_F3:
    case Qt::Key_F4:
    case Qt::Key_F5:
    case Qt::Key_F6: {
      // A held key would restart the channel on every repeat.
      if (key->isAutoRepeat()) return true;
      const int ch = k - Qt::Key_F1 + 1;
      m_console.Execute(cmd::Channel{cmd::Transport::kRestart, ch});
      RefreshTransport(ch);
      return true;
    }
    default:
      return false;
  }
}

bool COrvexView::PressDefaultButton(QWidget* target, const QKeyEvent* key) {
  const auto mods = key->modifiers() & ~Qt::KeypadModifier;
  const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
  // Only on the console form: the toolbars' time box and the panes keep
  // their Enter, and Ctrl or Alt with Enter are not GO.
  if (!enter || (mods & ~Qt::ShiftModifier) || !target) return false;
  if (target != this && target != m_form && !m_form->isAncestorOf(target)) return false;
  // A held Enter fires one cue, not one per repeat.
  if (key->isAutoRepeat()) return true;
  // A focused push button answers Enter itself; everything else on the
  // form (edits, faders, the push-like toggles, a closed title list) gives
  // it to the default button, GO.
  auto* button = qobject_cast<QPushButton*>(target);
  QPushButton* pressed = button && !button->isCheckable() ? button : m_go;
  if (pressed->isEnabled()) pressed->click();
  return true;
}

bool COrvexView::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == window() && !QApplication::activeModalWidget()) {
      auto* key = static_cast<QKeyEvent*>(event);
      const bool press = type == QEvent::KeyPress;
      if (HandleKey(key, press)) return true;
      return press && PressDefaultButton(widget, key);
    }
  }
  return QScrollArea::eventFilter(watched, event);
}

namespace {

bool CarriesFiles(const QMimeData* data) {
  if (!data) return false;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) return true;
  return false;
}

}  // namespace

bool COrvexView::ForwardFileDrag(QWidget* box, QEvent* event) {
  // Files dragged over a box of the console become cues, as over the rest
  // of the form; the box would otherwise take their addresses as typed text.
  const QEvent::Type type = event->type();
  if (type == QEvent::DragEnter || type == QEvent::DragMove) {
    auto* drag = static_cast<QDragMoveEvent*>(event);
    if (!CarriesFiles(drag->mimeData())) return false;
    drag->acceptProposedAction();
    return true;
  }
  if (type != QEvent::Drop) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  if (!CarriesFiles(drop->mimeData())) return false;
  // The window finds the channel under the point, as for a drop on the form.
  const QPoint at = box->mapTo(box->window(), drop->position().toPoint());
  if (onDropFiles && onDropFiles(drop->mimeData()->urls(), at)) drop->acceptProposedAction();
  return true;
}

bool COrvexView::FormEvent(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (auto* box = qobject_cast<QLineEdit*>(watched)) return ForwardFileDrag(box, event);
  if (watched == m_form && type == QEvent::Wheel) {
    // Over the form or any control that lets the wheel through; the form
    // then scrolls as usual.
    ConsoleWheel(static_cast<QWheelEvent*>(event)->angleDelta().y());
    return false;
  }
  if (watched == m_form && type == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::RightButton) RightClick(mouse->position().toPoint());
    return false;
  }
  if (type == QEvent::Wheel && qobject_cast<QComboBox*>(watched)) {
    // A title list under a passing wheel would jump the channel to another
    // record: unless it has the focus, the wheel goes on to the console.
    if (!static_cast<QWidget*>(watched)->hasFocus()) {
      event->ignore();
      return true;
    }
  }
  return false;
}

}  // namespace orvex
