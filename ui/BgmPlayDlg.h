// "連続再生リスト": one tab per channel showing the list that channel plays,
// its current item in red, with check boxes that switch items on and off.
// The pages show the console's list pages; a check change goes to the
// console as a command, so the list file is never written from here.
#pragma once

#include <array>
#include <functional>

#include <QDialog>
#include <QWidget>

class QLineEdit;
class QTabWidget;
class QTreeWidget;

namespace orvex {

class CConsole;

class CBGMPlayPage : public QWidget {
 public:
  CBGMPlayPage(CConsole& console, int ch, QWidget* parent = nullptr);
  // The list view emptied and filled again from the console's page.
  void ShowPage();
  // The current item marked red and scrolled to.
  void ShowMarked();
  QTreeWidget* List() const { return m_list; }

 private:
  CConsole& m_console;
  const int m_ch;
  bool m_ready = false;
  QLineEdit* m_name = nullptr;
  QLineEdit* m_folder = nullptr;
  QTreeWidget* m_list = nullptr;
};

class CBGMPlayDlg : public QDialog {
 public:
  explicit CBGMPlayDlg(CConsole& console, QWidget* parent = nullptr);

  CBGMPlayPage* Page(int ch) const { return m_pages[static_cast<size_t>(ch)]; }
  // The console's page ch changed (content) or its marked item moved.
  void PageChanged(int ch);
  void MarkedChanged(int ch);
  // Refreshes the selected tab's page (before the window is shown or hidden).
  void RefreshSelected();

  // Hidden by its close box: the window clears its menu check (237).
  std::function<void()> onClosed;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QTabWidget* m_tabs = nullptr;
  std::array<CBGMPlayPage*, 7> m_pages{};  // [1..6]
};

}  // namespace orvex
