// How long the cue list keeps the UI thread for a long show: a rebuild from
// the cue store (copies, sort, model reset, scroll, one paint), and the
// refresh after GO (new marks, scroll, one paint). A frame is 16 ms.
#include <memory>
#include <string>

#include <QApplication>
#include <QTableView>

#include <benchmark/benchmark.h>

#include "engine/Console.h"
#include "engine/ManualTimerService.h"
#include "engine/UiPoster.h"
#include "session/OrvexDoc.h"
#include "ui/ListDlgBar.h"
#include "ui/OrvexView.h"

namespace orvex {
namespace {

struct Show {
  explicit Show(int cues) : doc("/nonexistent/orvex-bench.ini") {
    for (int i = 1; i <= cues; ++i) {
      RecordValues v;
      v.qNumber = i;
      v.title = "Cue " + std::to_string(i);
      v.fileOrCommand = i % 5 == 0 ? "STOP" : "sound" + std::to_string(i) + ".wav";
      v.description = "Scene " + std::to_string(i / 40);
      v.preLevel = 8;
      v.fadeIn = i % 3;
      v.timing = i * 1000;
      doc.AddRecord(1 + i % 8, v);
    }
    console = std::make_unique<CConsole>(doc, doc.GetSettings(), timers, poster);
    view = std::make_unique<COrvexView>(*console, doc, [] { return nullptr; });
    list = std::make_unique<CListDlgBar>();
    list->resize(300, 400);
    list->show();
    view->AttachCueList(list.get());
    QApplication::processEvents();
  }
  void Paint() { list->List()->viewport()->repaint(); }

  COrvexDoc doc;
  ManualTimerService timers;
  ManualUiPoster poster;
  std::unique_ptr<CConsole> console;
  std::unique_ptr<COrvexView> view;
  std::unique_ptr<CListDlgBar> list;
};

void BM_RebuildCueList(benchmark::State& state) {
  Show show(static_cast<int>(state.range(0)));
  show.list->SetMarks(state.range(0) / 2, state.range(0) / 2 + 1);
  for (auto _ : state) {
    show.view->RebuildCueList();
    show.Paint();
  }
  state.counters["rows"] = show.list->RowCount();
}
BENCHMARK(BM_RebuildCueList)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_RefreshAfterGo(benchmark::State& state) {
  Show show(static_cast<int>(state.range(0)));
  show.list->SetCursorFix(true);
  show.list->SetBackDisplay(5);
  double q = 1;
  for (auto _ : state) {
    show.list->SetMarks(q, q + 1);
    show.list->ShowCuePosition(q, q + 1);
    show.Paint();
    q = q + 1 > static_cast<double>(state.range(0)) ? 1 : q + 1;
  }
}
BENCHMARK(BM_RefreshAfterGo)->Arg(10000)->Unit(benchmark::kMillisecond);

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
