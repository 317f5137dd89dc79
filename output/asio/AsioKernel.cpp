#include "output/asio/AsioKernel.h"

namespace orvex {

struct CAsioKernel::Impl {};

CAsioKernel::CAsioKernel() : CAsioKernel(DeviceFactory{}) {}
CAsioKernel::CAsioKernel(DeviceFactory factory)
    : factory_(std::move(factory)), impl_(std::make_unique<Impl>()) {}
CAsioKernel::~CAsioKernel() {
  CloseDriver();
}

std::vector<std::string> CAsioKernel::ListDrivers(const std::vector<std::string>&) {
  return {};
}

std::vector<std::string> CAsioKernel::ParseServerList(const std::string& setting) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= setting.size()) {
    size_t end = setting.find(',', start);
    if (end == std::string::npos) end = setting.size();
    std::string name = setting.substr(start, end - start);
    const size_t first = name.find_first_not_of(" \t");
    const size_t last = name.find_last_not_of(" \t");
    if (first != std::string::npos) names.push_back(name.substr(first, last - first + 1));
    start = end + 1;
  }
  return names;
}

std::string CAsioKernel::ServerOfDriver(const std::string& name) {
  if (name.size() > 7 && name.rfind("JACK (", 0) == 0 && name.back() == ')')
    return name.substr(6, name.size() - 7);
  return "";
}

std::string CAsioKernel::SlotName(const std::string& name) {
  return name.size() >= 32 ? name.substr(0, 28) + "..." : name;
}

void CAsioKernel::SetDriverList(std::vector<std::string> names) {
  RemoveCurrentDriver();
  drivers_ = std::move(names);
}

std::string CAsioKernel::GetDriverName(int index) const {
  return index >= 0 && index < static_cast<int>(drivers_.size()) ? drivers_[index] : "";
}

bool CAsioKernel::LoadDriver(const std::string&) {
  return false;
}
void CAsioKernel::RemoveCurrentDriver() {
  device_.reset();
  current_ = -1;
}
std::string CAsioKernel::CurrentDriver() const {
  return GetDriverName(current_);
}
bool CAsioKernel::OpenDriver() {
  return false;
}
bool CAsioKernel::OpenDriver(int& factor, int rate, const std::string& name) {
  factor_ = factor;
  rate_ = rate;
  if (!LoadDriver(name) || !OpenDriver()) return false;
  factor = factor_;
  return true;
}
bool CAsioKernel::Start() {
  return false;
}
void CAsioKernel::CloseDriver() {}
bool CAsioKernel::IsDriverOpen() const {
  return false;
}
CAsioKernel::BufferSizes CAsioKernel::DriverBufferSizes() const {
  return {};
}
uint32_t CAsioKernel::DeviceRate() const {
  return 0;
}
bool CAsioKernel::OutputPeak(float& left, float& right) {
  left = right = 0;
  return false;
}
void CAsioKernel::SetNoticeHandler(std::function<void(const std::string&)>) {}
uint64_t CAsioKernel::XrunCount() const {
  return 0;
}
bool CAsioKernel::DeviceLost() const {
  return false;
}
void CAsioKernel::SetSlotStream(int, StreamStore*) {}
void CAsioKernel::SetSlotFormat(int, const WaveFormat&) {}
void CAsioKernel::AttachSlot(int) {}
void CAsioKernel::DetachSlot(int) {}
void CAsioKernel::SetSlotPlaying(int, bool) {}
void CAsioKernel::SetSlotGains(int, float, float) {}

}  // namespace orvex
