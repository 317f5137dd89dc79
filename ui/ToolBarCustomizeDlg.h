// The toolbar customisation: the toolbars with their show switches, the
// buttons of the chosen one with theirs, a new toolbar of the operator's,
// its removal, and the reset of one of the window's own. Changes take
// effect at once, as the operator ticks them.
#pragma once

#include <functional>

#include <QDialog>

class QListWidget;
class QListWidgetItem;
class QPushButton;
class QToolBar;

namespace orvex {

class CToolBarSet;

class CToolBarCustomizeDlg : public QDialog {
 public:
  CToolBarCustomizeDlg(CToolBarSet& set, QToolBar* initial, QWidget* parent = nullptr);

  // The title of a new toolbar, empty for cancel; a text box by default.
  std::function<QString(const QString& proposed)> askTitle;

  QToolBar* Selected() const;
  void Select(QToolBar* bar);

 private:
  void FillToolBars(QToolBar* select);
  void FillButtons();
  void OnNew();
  void OnDelete();
  void OnReset();

  CToolBarSet& m_set;
  QListWidget* m_bars = nullptr;
  QListWidget* m_buttons = nullptr;
  QPushButton* m_new = nullptr;
  QPushButton* m_delete = nullptr;
  QPushButton* m_reset = nullptr;
};

}  // namespace orvex
