// The toolbars' buttons as the operator arranged them: which buttons of each
// of the three toolbars show, the toolbars the operator made, and the reset
// that gives a toolbar back the buttons it comes with. Kept with the window
// layout in the settings file.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <vector>

#include <QObject>
#include <QString>

class QAction;
class QMainWindow;
class QMenu;
class QToolBar;
class QWidgetAction;

namespace orvex {

class IniFile;

class CToolBarSet : public QObject {
  Q_OBJECT

 public:
  // The customize button of a toolbar the operator made (string 125).
  static constexpr int kCustomizeId = 125;
  static constexpr const char* kCustomizeText = "カスタマイズ...";

  // action: the command of an id; timeBox: what stands in place of button
  // 32810 (the auto-run time).
  CToolBarSet(QMainWindow& frame, std::function<QAction*(int)> action, QWidgetAction* timeBox);

  // One of the window's toolbars with its buttons in order (0: separator).
  void AddBuiltIn(QToolBar* bar, std::vector<int> buttons);
  // A command no toolbar of the window carries that the operator's own
  // toolbars may carry.
  void AddChoice(int id) { m_extraChoices.push_back(id); }
  // A new empty toolbar of the operator's, shown at the top; it carries
  // only its customize button until buttons are chosen for it.
  QToolBar* NewToolBar(const QString& title);
  // Removes a toolbar the operator made; the window's own stay.
  void Remove(QToolBar* bar);

  // All toolbars, the window's own first.
  std::vector<QToolBar*> ToolBars() const;
  bool IsUserToolBar(QToolBar* bar) const;
  // The buttons a toolbar can show: its own for the window's toolbars,
  // every toolbar command for the operator's.
  std::vector<int> Choices(QToolBar* bar) const;
  bool Shows(QToolBar* bar, int id) const;
  void SetShown(QToolBar* bar, int id, bool shown);
  // Back to the buttons the toolbar comes with: for the auto-run toolbar
  // the time box stands in place of button 32810 again.
  void Reset(QToolBar* bar);
  // What the customisation lists a button as.
  QString ButtonText(int id) const;
  QAction* ButtonAction(int id) const;

  // True while the auto-run time box is on its toolbar.
  bool TimeBoxShown() const;

  // Adds the toolbar and pane switches and "カスタマイズ..." to a menu.
  void FillMenu(QMenu& menu, const std::vector<QAction*>& paneToggles);

  void Load(const IniFile& store);
  void Save(IniFile& store) const;

  // Opens the customisation for a toolbar (null: the first); the window
  // sets it, tests replace it.
  std::function<void(QToolBar*)> customize;

 private:
  struct Bar {
    QToolBar* bar = nullptr;
    std::vector<int> defaults;  // the window's toolbars: their buttons
    std::set<int> hidden;       // of those, the ones taken off
    std::vector<int> chosen;    // the operator's toolbars: their buttons
    bool user = false;
  };
  Bar* Find(QToolBar* bar);
  const Bar* Find(QToolBar* bar) const;
  void Rebuild(Bar& bar);
  QToolBar* MakeUserBar(const QString& title, int number);

  QMainWindow& m_frame;
  std::function<QAction*(int)> m_action;
  QWidgetAction* m_timeBox;
  std::vector<Bar> m_bars;
  std::vector<int> m_extraChoices;
  int m_nextNumber = 1;
};

}  // namespace orvex
