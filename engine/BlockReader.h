// The reader of one channel player: opens the player's WAV file and reads its
// blocks on a thread of its own, so neither the UI thread nor the timer
// thread ever waits on the file system.
//
// Requests come from the player's side (the UI thread, or the timer thread
// while the player's tick runs; never both at once). The reader thread reads
// each block in pieces into buffers of its own and queues them; the player's
// side moves them into its stream store (DrainInto), so the store keeps one
// writer and the reader thread never holds a pointer into it.
//
// Every Open, Seek and Close starts a new generation: pieces of earlier ones
// are dropped, and a read of an earlier one stops at its next piece. A read
// that hangs inside the file system (a FIFO nobody writes, a dead share) is
// abandoned, never waited for: the next Open gets a fresh thread, and the old
// one, which owns the file it hangs on, ends by itself if the call ever
// returns. Its results are dropped then.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/UiPoster.h"
#include "engine/WaveSource.h"
#include "output/StreamStore.h"

namespace orvex {

// Bytes of `seconds` of audio in whole frames: at least one frame, below 2^31.
uint32_t BlockBytes(uint32_t bytesPerSecond, int seconds, uint32_t blockAlign);

class BlockReader {
 public:
  // What an Open found.
  struct Opened {
    WaveOpenError error = WaveOpenError::kNone;  // kNone: open, header playable
    const char* message = nullptr;               // the refusal's message, if any
    int openErrno = 0;
    WaveFormat format;
    uint32_t dataSize = 0;
  };
  // What DrainInto moved.
  struct Drained {
    size_t bytes = 0;
    bool lastOfRequest = false;  // the request's last piece is in the store
    bool end = false;            // the data ends there
    bool failed = false;         // a first read that found nothing to read
  };

  // onNews runs on the UI thread (through poster) when the header is known,
  // when the first and the last piece of an Open's or a Seek's block have
  // arrived, and after a failure; never after the reader is destroyed.
  BlockReader(UiPoster& poster, std::function<void()> onNews);
  // Never waits on a read: a thread still inside one is left to end alone.
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // --- requests ---
  // Opens path, checks its header and reads the first block (firstSeconds).
  void Open(const std::string& path, int firstSeconds);
  // Reads `bytes` from `offset` bytes into the data.
  void Seek(uint32_t offset, uint32_t bytes);
  // Reads the next `bytes` after what was asked before.
  void Read(uint32_t bytes);
  // Drops every request and closes the file.
  void Close();

  // --- results, on the requesting side ---
  std::optional<Opened> TakeOpened();
  // Appends what has arrived of the current generation, as far as there is
  // room; the rest waits for the next call.
  Drained DrainInto(StreamStore& store);

  // For offline rendering and tests: waits until the current thread has done
  // every request made so far. False when timeout passed first.
  bool WaitIdle(std::chrono::milliseconds timeout);
  // Test hook: runs on the reader thread before every piece it reads.
  void SetPieceReadHook(std::function<void()> hook);

  struct Mailbox;
  struct Worker;

 private:
  uint64_t NewGeneration();
  void StartWorker();
  void AbandonWorker();

  std::shared_ptr<Mailbox> mail_;
  std::shared_ptr<Worker> worker_;
  std::thread thread_;  // the worker's
};

}  // namespace orvex
