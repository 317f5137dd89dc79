// A developer aid: "orvex --screenshot DIR" walks the window through its
// looks, menus, panes, a running show and a few dialogs, saves each as a PNG
// in DIR and ends the program. Pictures taken at a scale factor above 1 get
// it in their names ("-200").
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace orvex {

class CMainFrame;
class CueSheetEdit;

class CScreenshotTour : public QObject {
 public:
  CScreenshotTour(CMainFrame& frame, const QString& folder);
  ~CScreenshotTour() override;
  // Starts once the event loop runs; the window closes after the last step.
  void Start();

 private:
  // Each step returns how long the window gets before the next one (ms).
  using Step = std::function<int()>;
  void Add(Step step) { m_steps.push_back(std::move(step)); }
  void RunNext();
  void Save(const QImage& image, const QString& name);
  // The window with the open menus drawn over it where they stand.
  QImage WindowWithMenus() const;
  void Grab(QWidget* widget, const QString& name);
  void OpenMenu(int index, int submenu);
  void CloseMenus();
  void Build();
  void AddEditorSteps();
  // The list windows playing a list of the show's sounds; 0 when it has none.
  int AddListSteps();
  // Shows a dialog of the tour; the next step grabs and closes it.
  void ShowDialog(QDialog* dialog);
  void GrabDialog(const QString& name);

  CMainFrame& m_frame;
  QString m_folder;
  QString m_suffix;
  std::vector<Step> m_steps;
  size_t m_next = 0;
  int m_waited = 0;
  std::unique_ptr<CueSheetEdit> m_edit;
  QPointer<QDialog> m_dialog;
  QPointer<QWidget> m_narrow;
};

// Takes "--screenshot DIR" out of argv; DIR, or empty when absent.
QString TakeScreenshotOption(int& argc, char** argv);

}  // namespace orvex
