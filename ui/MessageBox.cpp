#include "ui/MessageBox.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QTextLayout>
#include <QThread>
#include <QTimer>

#include "ui/AppFont.h"
#include "ui/DialogUnits.h"

namespace orvex {

CMessageBox::CMessageBox(const QString& text, bool question, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Orvex"));
  setModal(true);
  // Laid out in the dialog font whatever the application font is.
  setFont(DialogFont());
  const QFont& f = font();

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  const QRect iconRect = DluRect(f, 22, 18, 21, 20);
  icon->setGeometry(iconRect);
  icon->setAlignment(Qt::AlignCenter);
  const int side = std::min(iconRect.width(), iconRect.height());
  icon->setPixmap(style()
                      ->standardIcon(question ? QStyle::SP_MessageBoxQuestion
                                              : QStyle::SP_MessageBoxInformation)
                      .pixmap(side, side));

  // Control 1269. The box grows downwards until its text shows whole, as
  // far as the screen allows; only a text longer than that scrolls.
  m_text = new QPlainTextEdit(this);
  m_text->setObjectName(QStringLiteral("text"));
  m_text->setReadOnly(true);
  m_text->setPlainText(text);
  m_text->setTabChangesFocus(true);
  m_text->installEventFilter(this);
  const QRect textRect = DluRect(f, 58, 23, 170, 28);
  const QSize boxSize = DluSize(f, 236, 81);
  m_grow = std::clamp(TextHeight(textRect.width()) - textRect.height(), 0,
                      std::max(0, AvailableHeight(parent) - boxSize.height()));
  m_text->setGeometry(textRect.adjusted(0, 0, 0, m_grow));
  setFixedSize(boxSize + QSize(0, m_grow));

  m_yes = new QPushButton(QStringLiteral("はい"), this);
  m_yes->setObjectName(QStringLiteral("yes"));
  PlaceButton(m_yes, 122);
  m_yes->setAutoDefault(true);
  m_yes->setDefault(true);
  connect(m_yes, &QPushButton::clicked, this, [this] { done(kYes); });

  m_no = new QPushButton(QStringLiteral("いいえ"), this);
  m_no->setObjectName(QStringLiteral("no"));
  PlaceButton(m_no, 176);
  m_no->setAutoDefault(true);
  m_no->setVisible(question);
  connect(m_no, &QPushButton::clicked, this, [this] { done(kNo); });

  m_yes->setFocus();
}

CMessageBox* CMessageBox::WithCancel(const QString& text, QWidget* parent) {
  auto* box = new CMessageBox(text, true, parent);
  box->PlaceButton(box->m_yes, 68);
  box->PlaceButton(box->m_no, 122);
  box->m_cancel = new QPushButton(QStringLiteral("キャンセル"), box);
  box->m_cancel->setObjectName(QStringLiteral("cancel"));
  box->PlaceButton(box->m_cancel, 176);
  box->m_cancel->setAutoDefault(true);
  connect(box->m_cancel, &QPushButton::clicked, box, [box] { box->done(kCancel); });
  return box;
}

void CMessageBox::PlaceButton(QPushButton* button, int x) {
  button->setGeometry(DluRect(font(), x, 60, 50, 14).translated(0, m_grow));
}

int CMessageBox::TextHeight(int boxWidth) const {
  // Laid out as the text box lays out its plain text: each paragraph
  // wrapped to the width inside the frame and the document's margins, line
  // heights with their leading.
  const QTextDocument* doc = m_text->document();
  const qreal margin = doc->documentMargin();
  const int frame = m_text->frameWidth();
  // A pixel off for the cursor and one for rounding at fractional scales.
  const qreal width = boxWidth - 2 * frame - 2 * margin - 2;
  QTextOption option = doc->defaultTextOption();
  option.setWrapMode(m_text->wordWrapMode());
  qreal height = 0;
  const QStringList paragraphs = m_text->toPlainText().split(QLatin1Char('\n'));
  for (const QString& paragraph : paragraphs) {
    QTextLayout layout(paragraph, doc->defaultFont());
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLeadingIncluded(true);
      line.setLineWidth(width);
      height += line.height();
    }
    layout.endLayout();
  }
  return static_cast<int>(std::ceil(height + 2 * margin)) + 2 * frame + 2;
}

int CMessageBox::AvailableHeight(QWidget* parent) {
  QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  if (!screen) return 0;
  // Room for the window's title bar and frame.
  return screen->availableGeometry().height() - 48;
}

void CMessageBox::reject() {
  // Where the operator can decline altogether, Esc does that: nothing changes.
  done(m_cancel ? kCancel : kNo);
}

bool CMessageBox::eventFilter(QObject* watched, QEvent* event) {
  // Enter answers with the default button even from the text box; handled
  // here so it does not depend on how the text box treats keys it ignores.
  if (watched == m_text && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const auto mods = key->modifiers() & ~Qt::KeypadModifier;
    if (enter && mods == Qt::NoModifier) {
      m_yes->click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

namespace {
// The program's boxes open now (UI thread): reported messages wait for them.
int g_openBoxes = 0;
}  // namespace

int ShowMessageBox(QWidget* parent, const QString& text, bool question) {
  CMessageBox box(text, question, parent);
  ++g_openBoxes;
  const int result = box.exec();
  --g_openBoxes;
  return result == CMessageBox::kYes ? kAnswerYes : kAnswerNo;
}

int ShowYesNoCancelBox(QWidget* parent, const QString& text) {
  std::unique_ptr<CMessageBox> box(CMessageBox::WithCancel(text, parent));
  ++g_openBoxes;
  const int result = box->exec();
  --g_openBoxes;
  return result == CMessageBox::kYes  ? kAnswerYes
         : result == CMessageBox::kNo ? kAnswerNo
                                      : kAnswerCancel;
}

namespace {
std::function<void(const QString&)>& NoticeHandler() {
  static std::function<void(const QString&)> handler;
  return handler;
}
}  // namespace

void SetNoticeHandler(std::function<void(const QString&)> handler) {
  NoticeHandler() = std::move(handler);
}

QtMessageSink::QtMessageSink() : m_context(std::make_unique<QObject>()) {
  if (QCoreApplication* app = QCoreApplication::instance()) m_context->moveToThread(app->thread());
}

QtMessageSink::~QtMessageSink() = default;

int QtMessageSink::Show(const std::string& utf8Text, bool question) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return StderrMessageSink().Show(utf8Text, question);
  const QString text = QString::fromStdString(utf8Text);
  const auto show = [&] { return ShowMessageBox(QApplication::activeWindow(), text, question); };
  if (QThread::currentThread() == app->thread()) return show();
  int answer = kAnswerNo;
  QMetaObject::invokeMethod(
      app, [&] { answer = show(); }, Qt::BlockingQueuedConnection);
  return answer;
}

int QtMessageSink::AskYesNoCancel(const std::string& utf8Text) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return StderrMessageSink().Show(utf8Text, true);
  const QString text = QString::fromStdString(utf8Text);
  const auto ask = [&] { return ShowYesNoCancelBox(QApplication::activeWindow(), text); };
  if (QThread::currentThread() == app->thread()) return ask();
  int answer = kAnswerCancel;
  QMetaObject::invokeMethod(
      app, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
  return answer;
}

}  // namespace orvex

namespace orvex {

void QtMessageSink::Report(const std::string& utf8Text) {
  if (!QCoreApplication::instance()) {
    StderrMessageSink().Show(utf8Text, false);
    return;
  }
  {
    std::lock_guard lock(m_mutex);
    m_reported.push_back(QString::fromStdString(utf8Text));
    if (m_scheduled) return;
    m_scheduled = true;
  }
  ScheduleShowing(0);
}

void QtMessageSink::ScheduleShowing(int delayMs) {
  QObject* context = m_context.get();
  if (delayMs == 0) {
    QMetaObject::invokeMethod(
        context, [this] { ShowReported(); }, Qt::QueuedConnection);
  } else {
    QMetaObject::invokeMethod(
        context,
        [this, context, delayMs] {
          QTimer::singleShot(delayMs, context, [this] { ShowReported(); });
        },
        Qt::QueuedConnection);
  }
}

void QtMessageSink::ShowReported() {
  // Where there is a notice log, messages go there: they arrive by
  // themselves, often during a show, and must take neither the keyboard
  // nor the console.
  if (NoticeHandler()) {
    std::deque<QString> texts;
    {
      std::lock_guard lock(m_mutex);
      texts.swap(m_reported);
      m_scheduled = false;
    }
    for (const QString& text : texts) {
      if (NoticeHandler()) NoticeHandler()(text);
    }
    return;
  }
  // A box shows its own event loop: what is reported meanwhile, or comes due
  // here, waits for the boxes already open instead of opening over them.
  if (m_showing) return;
  if (g_openBoxes > 0) {
    ScheduleShowing(50);
    return;
  }
  m_showing = true;
  for (;;) {
    QString text;
    {
      std::lock_guard lock(m_mutex);
      if (m_reported.empty()) {
        m_scheduled = false;
        break;
      }
      text = m_reported.front();
      m_reported.pop_front();
    }
    ShowMessageBox(QApplication::activeWindow(), text, false);
  }
  m_showing = false;
}

}  // namespace orvex
