// "連続再生リスト編集": the background list's window. It shows the
// background list model (player 0's list, level and fade-out) and hands the
// operator's clicks to it; closing only hides it.
#pragma once

#include <functional>

#include <QDialog>

#include "engine/BgmList.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;

namespace orvex {

class CBGMDlg : public QDialog, private BgmListener {
 public:
  static constexpr const char* kNewQuestion = "データが保存されてません。保存しますか？";
  static constexpr const char* kExitQuestion = "連続再生リストが保存されていません。保存しますか？";

  explicit CBGMDlg(CBgmList& list, QWidget* parent = nullptr);
  ~CBGMDlg() override;

  // Hidden by its close box: the window clears its menu check (225).
  std::function<void()> onClosed;
  // File dialogs; the defaults open Qt's, tests replace them. Empty: cancel.
  std::function<QString(const QString& start)> chooseListToRead;
  std::function<QString(const QString& start)> chooseListToSave;
  std::function<QStringList(const QString& start)> chooseSounds;
  std::function<QString(const QString& start)> chooseFolder;

  // "保存" as the button runs it: the save dialog, then the write. False
  // when nothing was written.
  bool SaveWithDialog();
  // At exit: an unsaved list is asked about, as an unsaved show is.
  void AskAtExit();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void OnBgmChanged(BgmChange what) override;
  void FillItems();
  void ShowSelection();
  void OnNew();
  void OnRead();
  void OnAdd();
  void OnBrowseFolder();
  void OnFadeOut();
  QString ProposedFolder() const;

  CBgmList& m_list;
  bool m_filling = false;
  QLineEdit* m_path = nullptr;
  QLineEdit* m_folder = nullptr;
  QListWidget* m_items = nullptr;
  QSlider* m_level = nullptr;
  QPushButton* m_play = nullptr;
  QPushButton* m_up = nullptr;
  QPushButton* m_down = nullptr;
  QLineEdit* m_seconds = nullptr;
};

}  // namespace orvex
