// The notice log: messages that arrive by themselves (a lost sound server, a
// vanished device, a missing file) and the report of an opened show. It is a
// small window that never takes the keyboard, so GO, STOP ALL and the strips
// keep working while it is up; the operator opens it from the status line.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

class QPlainTextEdit;

namespace orvex {

class CNoticeLog : public QWidget {
 public:
  explicit CNoticeLog(QWidget* parent = nullptr);

  // Adds a message (several lines allowed) under the time it came.
  void Add(const QString& text);
  const QStringList& Entries() const { return m_entries; }
  // Shown beside the console without taking the keyboard or the focus.
  // When the operator asked for it (keepKeyboard false), a platform that
  // activates it anyway may.
  void PopUp(bool keepKeyboard = true);

 protected:
  bool event(QEvent* event) override;

 private:
  // Where the keyboard goes back to should the platform activate the log.
  QPointer<QWidget> m_handBackWindow;
  QPointer<QWidget> m_handBackFocus;
  QPlainTextEdit* m_text = nullptr;
  QStringList m_entries;
};

}  // namespace orvex
