#include "session/OrvexRuntime.h"

#include <algorithm>

#include "engine/RealTimerService.h"
#include "session/ProcessPriority.h"
#include "show/Messages.h"

namespace orvex {

COrvexRuntime::COrvexRuntime(COrvexDoc& doc, UiPoster& poster)
    : m_doc(doc),
      m_ownTimers(std::make_unique<RealTimerService>()),
      m_timers(m_ownTimers.get()),
      m_poster(poster),
      m_raisePriority(true) {
  Create();
}

COrvexRuntime::COrvexRuntime(COrvexDoc& doc, UiPoster& poster, TimerService& timers)
    : m_doc(doc), m_timers(&timers), m_poster(poster) {
  Create();
}

void COrvexRuntime::Create() {
  m_markers = std::make_unique<CMarkerPanel>();
  m_console = std::make_unique<CConsole>(m_doc, m_doc.GetSettings(), *m_timers, m_poster);
  m_doc.SetMarkerStore(&m_markers->Store());
  m_markers->SetFileLoader([this](const std::string& path) { m_doc.LoadMarkerFile(path); });
  m_markers->SetCommandSink([this](const ConsoleCommand& command) { m_console->Execute(command); });
  m_console->SetSliderPanel(m_markers.get());
  m_outputs = std::make_unique<COutputSetup>(*m_console, m_doc.GetSettings(), m_poster);
  UseMidiPorts(midi::MakeSystemMidiPorts());
  m_osc = std::make_unique<remote::COscServer>(
      *m_timers, m_poster,
      [this](const std::vector<ConsoleCommand>& commands) {
        if (m_shutDown) return;
        for (const ConsoleCommand& c : commands) m_console->Execute(c);
      },
      [this] {
        return remote::OscCueState{m_console->CurrentCueText(), m_console->NextCueText()};
      });
}

void COrvexRuntime::ApplyOscSettings() {
  const Settings& settings = m_doc.GetSettings();
  m_osc->Stop();
  if (!settings.oscEnable) return;
  std::string error;
  if (!m_osc->Start(settings.oscAddress, settings.oscPort, error))
    ReportMessage("OSCの受信を開始できませんでした（" + settings.oscAddress + ":" +
                  std::to_string(settings.oscPort) + "）。");
}

void COrvexRuntime::UseMidiPorts(std::unique_ptr<midi::MidiPortSystem> ports) {
  m_midi.reset();
  m_midiPorts = std::move(ports);
  m_midi = std::make_unique<midi::CMidiControl>(*m_midiPorts, m_poster,
                                                [this](const midi::MidiEvent& event) {
                                                  if (m_shutDown) return;
                                                  for (const ConsoleCommand& c : event.commands)
                                                    m_console->Execute(c);
                                                });
}

void COrvexRuntime::StartMidi() {
  const Settings& settings = m_doc.GetSettings();
  // A file that cannot be read leaves the list as it is, without a word.
  if (!settings.midiConfFile.empty()) m_midi->LoadSettings(settings.midiConfFile);
  m_midi->EnumerateMidiDevices();
  if (settings.midiConnect) m_midi->ConnectMidi();
  ApplyOscSettings();
}

COrvexRuntime::~COrvexRuntime() {
  Shutdown();
  m_osc.reset();
  m_midi.reset();
  m_midiPorts.reset();
  m_outputs.reset();
  m_console.reset();
  // The store goes with the panel; the document outlives both.
  m_doc.SetMarkerStore(nullptr);
  m_markers.reset();
}

void COrvexRuntime::StartUp() {
  m_shutDown = false;
  m_console->SetDrives(m_doc.GetSettings().drives);
  m_console->LoadFromSettings();
  SetupOutputs();
  StartMidi();
  // Last, once the timer and output threads run, so that they are raised too.
  if (m_raisePriority) RaiseProcessPriority();
}

void COrvexRuntime::SetupOutputs() {
  ReleaseOutputs();
  m_console->ApplyPlayerSettings();
  const uint32_t level = m_console->Background().Level();
  m_outputs->SetContinuousPlayer(&Background(), level);
  m_outputs->SetupOutputs();
  Background().SetAllOutputLevels(level);
  m_outputsUp = true;
}

void COrvexRuntime::ReleaseOutputs() {
  m_peaks = nullptr;
  m_outputsUp = false;
  m_outputs->ReleaseOutputs();
}

PeakSource* COrvexRuntime::Peaks() const {
  if (m_peaks) return m_peaks;
  if (m_outputsUp && m_outputs->Devices().MeterAttached()) return &m_outputs->Meter();
  return nullptr;
}

void COrvexRuntime::Shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  m_console->Background().StoreSettings(m_doc.GetSettings());
  m_osc->Stop();
  m_midi->DisconnectMidi();
  m_console->Shutdown();
  ReleaseOutputs();
}

void COrvexRuntime::ApplyOperationValues(const OperationValues& v) {
  CConsole& console = Console();
  for (int ch = 1; ch <= kChannels; ++ch) {
    const auto i = static_cast<size_t>(ch - 1);
    console.Execute(cmd::Buffers{ch, v.first[i], v.second[i]});
  }
  console.Execute(cmd::AutoNext{v.autoNext});
  console.Execute(cmd::Knee{v.kneePoint, v.kneeLevel});
  console.Execute(cmd::ReadBlock{v.block});
  Settings& settings = m_doc.GetSettings();
  settings.wheel = v.wheel;
  // The background player keeps its own buffer, which this dialog does not show.
  Background().SetBufferSeconds(10, settings.bufSize[0]);
}

}  // namespace orvex
