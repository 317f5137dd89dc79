// How long the cue sheet editor keeps the UI thread with a long show: open
// (copies, dialog, first paint), a sort switch, Renumber, and applying the
// list (cue store replaced, console refreshed, cue list rebuilt). Each
// should stay under 100 ms for 2 000 records.
#include <memory>
#include <string>

#include <QApplication>
#include <QTableView>

#include <benchmark/benchmark.h>

#include "engine/Console.h"
#include "engine/ManualTimerService.h"
#include "engine/UiPoster.h"
#include "session/CueSheetEdit.h"
#include "session/OrvexDoc.h"
#include "show/Messages.h"
#include "ui/CreateQSheetDlg.h"
#include "ui/ListDlgBar.h"
#include "ui/OrvexView.h"

namespace orvex {
namespace {

class Quiet : public MessageSink {
 public:
  int Show(const std::string&, bool) override { return kAnswerNo; }
};

struct Show {
  explicit Show(int cues) : doc("/nonexistent/orvex-bench.ini") {
    previous = SetMessageSink(&quiet);
    for (int i = 1; i <= cues; ++i) {
      RecordValues v;
      v.qNumber = i;
      v.title = "Cue " + std::to_string(i);
      v.fileOrCommand = i % 5 == 0 ? "STOP" : "sound" + std::to_string(i) + ".wav";
      v.description = "Scene " + std::to_string(i / 40);
      v.preLevel = 8;
      v.inSequence = i % 7 != 0;
      v.timing = i * 1000;
      doc.AddRecord(1 + i % 8, v);
    }
    console = std::make_unique<CConsole>(doc, doc.GetSettings(), timers, poster);
    console->SetReportsMissingFiles(false);
    view = std::make_unique<COrvexView>(*console, doc, [] { return nullptr; });
    list = std::make_unique<CListDlgBar>();
    list->resize(300, 400);
    list->show();
    view->AttachCueList(list.get());
    QApplication::processEvents();
  }
  ~Show() { SetMessageSink(previous); }
  std::unique_ptr<CCreateQSheetDlg> OpenEditor(CueSheetEdit& edit) {
    edit.AddAllOf(doc);
    auto dialog = std::make_unique<CCreateQSheetDlg>(edit);
    dialog->show();
    dialog->repaint();
    return dialog;
  }

  Quiet quiet;
  MessageSink* previous = nullptr;
  COrvexDoc doc;
  ManualTimerService timers;
  ManualUiPoster poster;
  std::unique_ptr<CConsole> console;
  std::unique_ptr<COrvexView> view;
  std::unique_ptr<CListDlgBar> list;
};

void BM_OpenEditor(benchmark::State& state) {
  Show show(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    CueSheetEdit edit(show.doc.GetSoundFolder(), 0);
    auto dialog = show.OpenEditor(edit);
    benchmark::DoNotOptimize(dialog.get());
  }
}
BENCHMARK(BM_OpenEditor)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_SwitchSort(benchmark::State& state) {
  Show show(static_cast<int>(state.range(0)));
  CueSheetEdit edit(show.doc.GetSoundFolder(), 0);
  auto dialog = show.OpenEditor(edit);
  int mode = 1;
  for (auto _ : state) {
    dialog->OnSortMode(mode);
    dialog->repaint();
    mode = 1 - mode;
  }
}
BENCHMARK(BM_SwitchSort)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_Renumber(benchmark::State& state) {
  Show show(static_cast<int>(state.range(0)));
  CueSheetEdit edit(show.doc.GetSoundFolder(), 1);
  auto dialog = show.OpenEditor(edit);
  for (auto _ : state) {
    dialog->OnRenumber();
    dialog->repaint();
  }
}
BENCHMARK(BM_Renumber)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_ApplyEditor(benchmark::State& state) {
  Show show(static_cast<int>(state.range(0)));
  CueSheetEdit edit(show.doc.GetSoundFolder(), 0);
  edit.AddAllOf(show.doc);
  for (auto _ : state) {
    edit.ApplyTo(show.doc);
    show.console->RefreshAfterCueChange(false);
    show.view->RebuildCueList();
    show.list->List()->viewport()->repaint();
  }
}
BENCHMARK(BM_ApplyEditor)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvex

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
