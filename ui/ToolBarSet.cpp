#include "ui/ToolBarSet.h"

#include <algorithm>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QToolBar>
#include <QWidgetAction>

#include "show/IniFile.h"
#include "ui/FrameIds.h"

namespace orvex {

namespace {

constexpr const char* kSection = "Workspace";
constexpr const char* kUserCount = "UserToolBarCount";

std::string HiddenEntry(const QToolBar* bar) {
  return "ToolBarHidden." + bar->objectName().toStdString();
}
std::string UserEntry(int index) {
  return "UserToolBar" + std::to_string(index);
}

std::string JoinIds(const std::vector<int>& ids) {
  std::string text;
  for (int id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text;
}
std::vector<int> SplitIds(const QString& text) {
  std::vector<int> ids;
  for (const QString& part : text.split(u',', Qt::SkipEmptyParts)) {
    bool ok = false;
    const int id = part.trimmed().toInt(&ok);
    if (ok && id > 0) ids.push_back(id);
  }
  return ids;
}

}  // namespace

CToolBarSet::CToolBarSet(QMainWindow& frame, std::function<QAction*(int)> action,
                         QWidgetAction* timeBox)
    : QObject(&frame), m_frame(frame), m_action(std::move(action)), m_timeBox(timeBox) {}

void CToolBarSet::AddBuiltIn(QToolBar* bar, std::vector<int> buttons) {
  Bar b;
  b.bar = bar;
  b.defaults = std::move(buttons);
  m_bars.push_back(std::move(b));
  Rebuild(m_bars.back());
}

CToolBarSet::Bar* CToolBarSet::Find(QToolBar* bar) {
  auto it =
      std::find_if(m_bars.begin(), m_bars.end(), [bar](const Bar& b) { return b.bar == bar; });
  return it == m_bars.end() ? nullptr : &*it;
}
const CToolBarSet::Bar* CToolBarSet::Find(QToolBar* bar) const {
  return const_cast<CToolBarSet*>(this)->Find(bar);
}

std::vector<QToolBar*> CToolBarSet::ToolBars() const {
  std::vector<QToolBar*> bars;
  for (const Bar& b : m_bars) bars.push_back(b.bar);
  return bars;
}

bool CToolBarSet::IsUserToolBar(QToolBar* bar) const {
  const Bar* b = Find(bar);
  return b && b->user;
}

std::vector<int> CToolBarSet::Choices(QToolBar* bar) const {
  const Bar* b = Find(bar);
  if (!b) return {};
  std::vector<int> ids;
  auto add = [&ids](int id) {
    if (id != 0 && std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  };
  if (!b->user) {
    for (int id : b->defaults) add(id);
    return ids;
  }
  // The time box is one control: it stays on its own toolbar.
  for (const Bar& other : m_bars) {
    if (other.user) continue;
    for (int id : other.defaults)
      if (id != ids::kAutoRunTimeButton) add(id);
  }
  for (int id : m_extraChoices) add(id);
  return ids;
}

bool CToolBarSet::Shows(QToolBar* bar, int id) const {
  const Bar* b = Find(bar);
  if (!b) return false;
  if (b->user) return std::find(b->chosen.begin(), b->chosen.end(), id) != b->chosen.end();
  return std::find(b->defaults.begin(), b->defaults.end(), id) != b->defaults.end() &&
         !b->hidden.count(id);
}

void CToolBarSet::SetShown(QToolBar* bar, int id, bool shown) {
  Bar* b = Find(bar);
  const std::vector<int> choices = Choices(bar);
  if (!b || id == 0 || std::find(choices.begin(), choices.end(), id) == choices.end()) return;
  if (!b->user) {
    if (shown) {
      b->hidden.erase(id);
    } else {
      b->hidden.insert(id);
    }
  } else {
    // Kept in the order of the choices, whatever order they were picked in.
    std::vector<int> chosen;
    for (int c : choices)
      if (c == id ? shown : Shows(bar, c)) chosen.push_back(c);
    b->chosen = std::move(chosen);
  }
  Rebuild(*b);
}

void CToolBarSet::Reset(QToolBar* bar) {
  Bar* b = Find(bar);
  if (!b) return;
  b->hidden.clear();
  b->chosen.clear();
  Rebuild(*b);
}

QString CToolBarSet::ButtonText(int id) const {
  if (id == ids::kAutoRunTimeButton) return QStringLiteral("オートラン時間表示");
  const QAction* action = ButtonAction(id);
  if (!action) return QString::number(id);
  return action->toolTip().isEmpty() ? action->text() : action->toolTip();
}

QAction* CToolBarSet::ButtonAction(int id) const {
  if (id == ids::kAutoRunTimeButton) return m_timeBox;
  return m_action ? m_action(id) : nullptr;
}

bool CToolBarSet::TimeBoxShown() const {
  for (const Bar& b : m_bars) {
    if (!b.user && Shows(b.bar, ids::kAutoRunTimeButton)) return true;
  }
  return false;
}

void CToolBarSet::Rebuild(Bar& b) {
  QToolBar* bar = b.bar;
  for (QAction* a : bar->actions()) {
    bar->removeAction(a);
    // Separators belong to the toolbar that made them; commands, the time
    // box and the customize button live on.
    if (a->isSeparator() && a->parent() == bar) delete a;
  }
  bool pendingSeparator = false;
  bool any = false;
  const auto place = [&](QAction* action) {
    if (!action) return;
    if (pendingSeparator && any) bar->addSeparator();
    pendingSeparator = false;
    bar->addAction(action);
    any = true;
  };
  if (!b.user) {
    for (int id : b.defaults) {
      if (id == 0) {
        pendingSeparator = true;
      } else if (!b.hidden.count(id)) {
        place(ButtonAction(id));
      }
    }
    return;
  }
  for (int id : b.chosen) place(ButtonAction(id));
  auto* customizeButton = bar->findChild<QAction*>(QStringLiteral("id%1").arg(kCustomizeId),
                                                   Qt::FindDirectChildrenOnly);
  if (!customizeButton) {
    customizeButton = new QAction(QString::fromUtf8(kCustomizeText), bar);
    customizeButton->setObjectName(QStringLiteral("id%1").arg(kCustomizeId));
    connect(customizeButton, &QAction::triggered, this, [this, bar] {
      if (customize) customize(bar);
    });
  }
  pendingSeparator = true;
  place(customizeButton);
}

QToolBar* CToolBarSet::MakeUserBar(const QString& title, int number) {
  auto* bar = new QToolBar(title, &m_frame);
  bar->setObjectName(QStringLiteral("UserToolBar%1").arg(number));
  bar->setIconSize(QSize(20, 20));
  bar->setAllowedAreas(Qt::AllToolBarAreas);
  bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  m_frame.addToolBar(Qt::TopToolBarArea, bar);
  Bar b;
  b.bar = bar;
  b.user = true;
  m_bars.push_back(std::move(b));
  m_nextNumber = std::max(m_nextNumber, number + 1);
  return bar;
}

QToolBar* CToolBarSet::NewToolBar(const QString& title) {
  QToolBar* bar = MakeUserBar(title, m_nextNumber);
  Rebuild(*Find(bar));
  bar->show();
  return bar;
}

void CToolBarSet::Remove(QToolBar* bar) {
  auto it = std::find_if(m_bars.begin(), m_bars.end(),
                         [bar](const Bar& b) { return b.bar == bar && b.user; });
  if (it == m_bars.end()) return;
  m_bars.erase(it);
  // The commands on it belong to the window; only the bar itself goes.
  for (QAction* a : bar->actions()) bar->removeAction(a);
  m_frame.removeToolBar(bar);
  bar->deleteLater();
}

void CToolBarSet::FillMenu(QMenu& menu, const std::vector<QAction*>& paneToggles) {
  for (const Bar& b : m_bars) menu.addAction(b.bar->toggleViewAction());
  for (QAction* toggle : paneToggles) menu.addAction(toggle);
  menu.addSeparator();
  QAction* item = menu.addAction(QString::fromUtf8(kCustomizeText));
  item->setObjectName(QStringLiteral("customizeToolBars"));
  connect(item, &QAction::triggered, this, [this] {
    if (customize) customize(nullptr);
  });
}

void CToolBarSet::Load(const IniFile& store) {
  for (Bar& b : m_bars) {
    if (b.user) continue;
    if (auto hidden = store.GetString(kSection, HiddenEntry(b.bar))) {
      b.hidden.clear();
      for (int id : SplitIds(QString::fromStdString(*hidden))) SetShown(b.bar, id, false);
    }
  }
  const int count = std::clamp(store.GetInt(kSection, kUserCount).value_or(0), 0, 100);
  for (int i = 1; i <= count; ++i) {
    // "number|ids|title"
    const QString entry =
        QString::fromStdString(store.GetString(kSection, UserEntry(i)).value_or(""));
    const QStringList parts = entry.split(u'|');
    const int number = parts.value(0).toInt();
    if (parts.size() < 3 || number <= 0) continue;
    QToolBar* bar = MakeUserBar(entry.section(u'|', 2), number);
    Bar& b = *Find(bar);
    Rebuild(b);
    for (int id : SplitIds(parts[1])) SetShown(bar, id, true);
  }
}

void CToolBarSet::Save(IniFile& store) const {
  int count = 0;
  for (const Bar& b : m_bars) {
    if (!b.user) {
      store.SetString(kSection, HiddenEntry(b.bar), JoinIds({b.hidden.begin(), b.hidden.end()}));
      continue;
    }
    const QString number = b.bar->objectName().mid(int(qstrlen("UserToolBar")));
    store.SetString(
        kSection, UserEntry(++count),
        (number + u'|' + QString::fromStdString(JoinIds(b.chosen)) + u'|' + b.bar->windowTitle())
            .toStdString());
  }
  store.SetInt(kSection, kUserCount, count);
}

}  // namespace orvex
