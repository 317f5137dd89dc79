#include "output/jack/JackDevice.h"

#include <jack/jack.h>

#include <cstdio>
#include <cstring>

namespace orvex::jack {
namespace {

std::atomic<int> g_quietProbes{0};

void PrintJackError(const char* message) {
  // Probing a server that is not running is expected; say nothing then.
  if (g_quietProbes.load() == 0) std::fprintf(stderr, "JACK: %s\n", message);
}

void PrintJackInfo(const char*) {}

void InstallErrorFunctions() {
  static const bool installed = [] {
    jack_set_error_function(&PrintJackError);
    jack_set_info_function(&PrintJackInfo);
    return true;
  }();
  (void)installed;
}

jack_client_t* OpenClient(const std::string& server, jack_status_t* status) {
  InstallErrorFunctions();
  const int options = JackNoStartServer | (server.empty() ? 0 : JackServerName);
  return server.empty() ? jack_client_open("Orvex", static_cast<jack_options_t>(options), status)
                        : jack_client_open("Orvex", static_cast<jack_options_t>(options), status,
                                           server.c_str());
}

jack_client_t* AsClient(void* p) {
  return static_cast<jack_client_t*>(p);
}
jack_port_t* AsPort(void* p) {
  return static_cast<jack_port_t*>(p);
}

}  // namespace

JackDevice::JackDevice(std::string server) : server_(std::move(server)) {}

JackDevice::~JackDevice() {
  Close();
}

bool JackDevice::ServerRunning(const std::string& server) {
  g_quietProbes.fetch_add(1);
  jack_status_t status{};
  jack_client_t* client = OpenClient(server, &status);
  g_quietProbes.fetch_sub(1);
  if (!client) return false;
  jack_client_close(client);
  return true;
}

bool JackDevice::Init() {
  if (client_) return true;
  jack_status_t status{};
  g_quietProbes.fetch_add(1);
  jack_client_t* client = OpenClient(server_, &status);
  g_quietProbes.fetch_sub(1);
  if (!client) {
    error_ = server_.empty() ? "no JACK server is running"
                             : "JACK server \"" + server_ + "\" is not running";
    return false;
  }
  client_ = client;
  gone_.store(false);
  jack_set_process_callback(client, &JackDevice::Process, this);
  jack_set_xrun_callback(client, &JackDevice::Xrun, this);
  jack_on_info_shutdown(
      client,
      [](jack_status_t code, const char* reason, void* arg) { Shutdown(code, reason, arg); }, this);
  const char* names[2] = {"out_1", "out_2"};
  for (int i = 0; i < 2; ++i) {
    ports_[i] = jack_port_register(client, names[i], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!ports_[i]) {
      error_ = "cannot register the JACK output ports";
      Close();
      return false;
    }
  }
  return true;
}

bool JackDevice::GetBufferSize(long& minimum, long& maximum, long& preferred) {
  if (!client_) return false;
  // JACK runs every client at the server's period.
  const long period = static_cast<long>(jack_get_buffer_size(AsClient(client_)));
  minimum = maximum = preferred = period;
  return period > 0;
}

uint32_t JackDevice::SampleRate() const {
  return client_ ? jack_get_sample_rate(AsClient(client_)) : 0;
}

bool JackDevice::SetSampleRate(double rate) {
  // The server's rate is fixed; other rates are converted by the host.
  return client_ && static_cast<uint32_t>(rate) == SampleRate();
}

bool JackDevice::CreateBuffers(long frames, BlockCallback* callback) {
  if (!client_ || frames <= 0) return false;
  callback_.store(callback);
  return true;
}

bool JackDevice::Start() {
  if (!client_ || gone_.load()) return false;
  if (!active_) {
    if (jack_activate(AsClient(client_)) != 0) return false;
    active_ = true;
  }
  const char** physical = jack_get_ports(AsClient(client_), nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                         JackPortIsPhysical | JackPortIsInput);
  if (physical) {
    for (int i = 0; i < 2 && physical[i]; ++i)
      jack_connect(AsClient(client_), jack_port_name(AsPort(ports_[i])), physical[i]);
    jack_free(physical);
  }
  return true;
}

void JackDevice::Stop() {
  if (client_ && active_) jack_deactivate(AsClient(client_));
  active_ = false;
}

void JackDevice::DisposeBuffers() {
  callback_.store(nullptr);
}

std::vector<std::string> JackDevice::PortNames() const {
  std::vector<std::string> names;
  for (void* port : ports_)
    if (port) names.emplace_back(jack_port_name(AsPort(port)));
  return names;
}

void JackDevice::Close() {
  if (!client_) return;
  Stop();
  callback_.store(nullptr);
  // The client of a server that went away can only fail to say goodbye.
  const bool gone = gone_.load();
  if (gone) g_quietProbes.fetch_add(1);
  jack_client_close(AsClient(client_));
  if (gone) g_quietProbes.fetch_sub(1);
  client_ = nullptr;
  ports_[0] = ports_[1] = nullptr;
}

int JackDevice::Process(uint32_t frames, void* arg) {
  auto* self = static_cast<JackDevice*>(arg);
  void* left = jack_port_get_buffer(AsPort(self->ports_[0]), frames);
  void* right = jack_port_get_buffer(AsPort(self->ports_[1]), frames);
  BlockCallback* callback = self->callback_.load(std::memory_order_acquire);
  if (callback) {
    callback->OnBufferSwitch(left, right, frames);
  } else {
    std::memset(left, 0, frames * sizeof(float));
    std::memset(right, 0, frames * sizeof(float));
  }
  return 0;
}

void JackDevice::Shutdown(int, const char*, void* arg) {
  auto* self = static_cast<JackDevice*>(arg);
  self->gone_.store(true);
  if (BlockCallback* callback = self->callback_.load()) callback->OnDeviceLost();
}

int JackDevice::Xrun(void* arg) {
  auto* self = static_cast<JackDevice*>(arg);
  if (BlockCallback* callback = self->callback_.load()) callback->OnXrun();
  return 0;
}

}  // namespace orvex::jack
