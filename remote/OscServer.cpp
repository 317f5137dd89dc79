#include "remote/OscServer.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "remote/OscMapping.h"

namespace orvex::remote {
namespace {

constexpr uint32_t kPushPeriodMs = 100;
constexpr size_t kMaxSubscribers = 32;

template <typename T>
T Read(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The arguments of a message, or false for a type this vocabulary has no use for.
bool ArgsOf(lo_message m, std::vector<OscArg>& out) {
  const char* types = lo_message_get_types(m);
  lo_arg** argv = lo_message_get_argv(m);
  const int argc = lo_message_get_argc(m);
  if (!types || (argc > 0 && !argv)) return false;
  // liblo's arguments sit on 4-byte boundaries in the packet, so 64-bit
  // ones are copied out rather than read in place.
  for (int i = 0; i < argc; ++i) {
    const auto* a = reinterpret_cast<const char*>(argv[i]);
    switch (types[i]) {
      case LO_INT32:
        out.emplace_back(Read<int32_t>(a));
        break;
      case LO_INT64:
        out.emplace_back(Read<int64_t>(a));
        break;
      case LO_FLOAT:
        out.emplace_back(Read<float>(a));
        break;
      case LO_DOUBLE:
        out.emplace_back(Read<double>(a));
        break;
      case LO_STRING:
      case LO_SYMBOL:
        out.emplace_back(std::string(a));
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

bool COscServer::Peer::operator==(const Peer& o) const {
  return length == o.length && std::memcmp(&address, &o.address, length) == 0;
}

COscServer::COscServer(TimerService& timers, UiPoster& poster, Sink sink, StateSource state)
    : poster_(poster),
      sink_(std::move(sink)),
      state_(std::move(state)),
      pushTimer_(timers, poster) {}

COscServer::~COscServer() {
  Stop();
  *alive_ = false;
}

bool COscServer::Start(const std::string& address, int port, std::string& error) {
  Stop();
  sockaddr_storage bind{};
  socklen_t length = 0;
  const std::string host = address.empty() ? "127.0.0.1" : address;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&bind);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&bind);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v6;
  } else {
    error = "not an IP address: " + host;
    return false;
  }
  if (port < 0 || port > 65535) {
    error = "no such port";
    return false;
  }
  fd_ = socket(bind.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&bind), length) != 0) {
    error = std::string("cannot listen there: ") + std::strerror(errno);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return false;
  }
  // Room for a burst from a surface while the thread is busy.
  const int room = 1 << 20;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  port_ = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                           : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  quit_.store(false);
  thread_ = std::thread([this] { Serve(); });
  pushTimer_.Start(kPushPeriodMs, [this] { PushIfChanged(); });
  return true;
}

void COscServer::Stop() {
  pushTimer_.Stop();
  if (thread_.joinable()) {
    quit_.store(true);
    thread_.join();
  }
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  port_ = 0;
  subscribers_.clear();
}

void COscServer::Serve() {
  // The largest datagram there is; anything read is handled whole.
  std::vector<uint8_t> buffer(65536);
  while (!quit_.load()) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    Peer from;
    from.length = sizeof from.address;
    const ssize_t n = recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from.address), &from.length);
    if (n < 0) continue;
    received_.fetch_add(1);
    if (static_cast<size_t>(n) > buffer.size()) {
      ignored_.fetch_add(1);
      continue;
    }
    Handle(buffer.data(), static_cast<size_t>(n), from);
  }
}

void COscServer::Handle(uint8_t* data, size_t size, const Peer& from) {
  // A message is a whole number of 4-byte words and begins with its address;
  // bundles are not part of this vocabulary.
  if (size == 0 || size % 4 != 0 || data[0] != '/') {
    ignored_.fetch_add(1);
    return;
  }
  const char* path = lo_get_path(data, static_cast<ssize_t>(size));
  int result = 0;
  lo_message m = path ? lo_message_deserialise(data, size, &result) : nullptr;
  std::vector<OscArg> args;
  const bool parsed = m && ArgsOf(m, args);
  const std::string address = path ? path : "";
  if (m) lo_message_free(m);
  const OscRequest request = parsed ? MapOscMessage(address, args) : OscRequest{};
  if (request.kind == OscRequest::Kind::kIgnored) {
    ignored_.fetch_add(1);
    return;
  }
  accepted_.fetch_add(1);
  if (request.kind == OscRequest::Kind::kRelease) return;
  poster_.Post([this, alive = alive_, request, from] {
    if (!*alive || fd_ < 0) return;  // stopped meanwhile
    switch (request.kind) {
      case OscRequest::Kind::kCommands:
        if (sink_) sink_(request.commands);
        break;
      case OscRequest::Kind::kSubscribe:
        if (std::find(subscribers_.begin(), subscribers_.end(), from) == subscribers_.end() &&
            subscribers_.size() < kMaxSubscribers)
          subscribers_.push_back(from);
        break;
      case OscRequest::Kind::kUnsubscribe:
        std::erase(subscribers_, from);
        return;
      default:
        break;
    }
    if (state_) SendState(from, state_());
  });
}

void COscServer::SendState(const Peer& to, const OscCueState& state) {
  if (fd_ < 0) return;
  lo_message m = lo_message_new();
  lo_message_add_string(m, state.current.c_str());
  lo_message_add_string(m, state.next.c_str());
  size_t size = 0;
  void* bytes = lo_message_serialise(m, "/orvex/cue", nullptr, &size);
  if (bytes) {
    sendto(fd_, bytes, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to.address),
           to.length);
    std::free(bytes);
  }
  lo_message_free(m);
}

void COscServer::PushIfChanged() {
  if (!state_) return;
  const OscCueState now = state_();
  if (now == pushed_) return;
  pushed_ = now;
  for (const Peer& p : subscribers_) SendState(p, now);
}

}  // namespace orvex::remote
