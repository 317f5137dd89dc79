#include "ui/NoticeLog.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTime>
#include <QVBoxLayout>

namespace orvex {

namespace {
constexpr int kMaxEntries = 500;  // a long run keeps the latest
}

CNoticeLog::CNoticeLog(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::WindowDoesNotAcceptFocus) {
  setObjectName(QStringLiteral("NoticeLog"));
  setWindowTitle(QStringLiteral("お知らせ"));
  // Coming up during a show must not move the keyboard off the console.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  resize(520, 260);

  m_text = new QPlainTextEdit(this);
  m_text->setObjectName(QStringLiteral("noticeText"));
  m_text->setReadOnly(true);
  m_text->setFocusPolicy(Qt::NoFocus);
  m_text->setMaximumBlockCount(kMaxEntries * 20);

  auto* clear = new QPushButton(QStringLiteral("消去"), this);
  clear->setObjectName(QStringLiteral("noticeClear"));
  clear->setFocusPolicy(Qt::NoFocus);
  connect(clear, &QPushButton::clicked, this, [this] {
    m_entries.clear();
    m_text->clear();
  });
  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  close->setObjectName(QStringLiteral("noticeClose"));
  close->setFocusPolicy(Qt::NoFocus);
  connect(close, &QPushButton::clicked, this, &QWidget::hide);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(clear);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_text, 1);
  layout->addLayout(buttons);
}

void CNoticeLog::Add(const QString& text) {
  if (m_entries.size() >= kMaxEntries) m_entries.removeFirst();
  m_entries << text;
  const QString stamp = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
  m_text->appendPlainText(stamp + QStringLiteral("  ") + text + u'\n');
  m_text->verticalScrollBar()->setValue(m_text->verticalScrollBar()->maximum());
}

void CNoticeLog::PopUp(bool keepKeyboard) {
  if (QWidget* owner = parentWidget(); owner && !isVisible()) {
    // Over the bottom right of the main window, clear of GO and the strips.
    const QRect frame = owner->geometry();
    move(frame.right() - width() - 16, frame.bottom() - height() - 40);
  }
  m_handBackWindow = keepKeyboard ? QApplication::activeWindow() : nullptr;
  m_handBackFocus = keepKeyboard ? QApplication::focusWidget() : nullptr;
  show();
  raise();
}

bool CNoticeLog::event(QEvent* event) {
  // Some platforms activate any window that is shown, whatever it asks
  // for: the console gets the keyboard back at once, so the next Enter is
  // still GO.
  if (event->type() == QEvent::WindowActivate && m_handBackWindow && m_handBackWindow != this) {
    QWidget* window = m_handBackWindow;
    QWidget* focus = m_handBackFocus;
    m_handBackWindow = nullptr;
    m_handBackFocus = nullptr;
    window->activateWindow();
    if (focus) focus->setFocus(Qt::OtherFocusReason);
  }
  return QWidget::event(event);
}

}  // namespace orvex
