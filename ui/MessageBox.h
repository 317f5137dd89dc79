// The program's message box: a dialog with the text in a read-only box,
// "はい" and, for questions, "いいえ". The box is as tall as its text needs
// (at least its dialog-unit size, at most the screen); a text longer than
// the screen scrolls.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include <QDialog>
#include <QString>

#include "show/Messages.h"

class QPlainTextEdit;
class QPushButton;

namespace orvex {

class CMessageBox : public QDialog {
 public:
  // Codes the dialog ends with.
  static constexpr int kYes = 1;
  static constexpr int kNo = 2;
  static constexpr int kCancel = 3;

  CMessageBox(const QString& text, bool question, QWidget* parent = nullptr);
  // A question with "はい", "いいえ" and "キャンセル".
  static CMessageBox* WithCancel(const QString& text, QWidget* parent = nullptr);

  // Esc and the close box answer no, or cancel where there is "キャンセル".
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Buttons at their dialog-unit column, below the grown text.
  void PlaceButton(QPushButton* button, int x);
  // Pixels the text box needs, frame included, to show all of its text at
  // the given width.
  int TextHeight(int boxWidth) const;
  static int AvailableHeight(QWidget* parent);

  QPlainTextEdit* m_text = nullptr;
  int m_grow = 0;  // pixels added below the text box's dialog-unit height
  QPushButton* m_yes = nullptr;
  QPushButton* m_no = nullptr;
  QPushButton* m_cancel = nullptr;
};

// Runs the box modally; returns kAnswerYes when "はい" ended it, else kAnswerNo.
int ShowMessageBox(QWidget* parent, const QString& text, bool question);
// Runs the box with "キャンセル" modally: kAnswerYes, kAnswerNo or kAnswerCancel.
int ShowYesNoCancelBox(QWidget* parent, const QString& text);

// Where reported messages go instead of boxes (UI thread; empty: boxes).
// The main window lists them in its notice log.
void SetNoticeHandler(std::function<void(const QString&)> handler);

// Shows messages in CMessageBox. Callable from any thread: other threads wait
// while the UI thread shows the box, so the UI thread must not be waiting on
// them at the same time.
//
// Reported messages are queued and handed, from the event loop and in the
// order reported, to the notice handler: never inside the operation that
// reported them. Without a handler they are shown one box after the other,
// never over another of the program's boxes.
class QtMessageSink final : public MessageSink {
 public:
  QtMessageSink();
  ~QtMessageSink() override;
  int Show(const std::string& utf8Text, bool question) override;
  void Report(const std::string& utf8Text) override;
  int AskYesNoCancel(const std::string& utf8Text) override;

 private:
  void ScheduleShowing(int delayMs);
  void ShowReported();

  // Lives on the UI thread; queued calls die with it.
  std::unique_ptr<QObject> m_context;
  std::mutex m_mutex;
  std::deque<QString> m_reported;
  bool m_scheduled = false;  // guarded by m_mutex
  bool m_showing = false;    // UI thread
};

}  // namespace orvex
