// The reader of one channel player: opens the player's WAV file and reads its
// blocks on a thread of its own, so neither the UI thread nor the timer
// thread ever waits on the file system.
//
// Requests come from the player's side (the UI thread, or the timer thread
// while the player's tick runs; never both at once). The reader thread reads
// each block in small pieces into one buffer of its own and copies each into
// the bytes the player's side reserved for the block in its stream store;
// the player's side commits them (Collect), so the store keeps one writer.
// A block costs one piece of memory on top of the store.
//
// Every Open, Seek and Close starts a new generation. Pieces are copied
// under the lock that starts a generation and only for the current one, so
// once a new one has begun no earlier read touches the store again and the
// player may reset or free it. A read that hangs inside the file system (a
// FIFO nobody writes, a dead share) is abandoned, never waited for: the next
// Open gets a fresh thread, and the old one, which owns the file it hangs
// on, ends by itself if the call ever returns. Its results are dropped then.
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
// The store of a player: the first block and two later ones, enough for the
// outputs to play one block while the next waits, and no more, so memory
// does not grow with the length of the file.
uint64_t StoreBytes(uint32_t bytesPerSecond, uint32_t blockAlign, int firstSeconds,
                    int secondSeconds);

class BlockReader {
 public:
  // What an Open found.
  struct Opened {
    WaveOpenError error = WaveOpenError::kNone;  // kNone: open, header playable
    const char* message = nullptr;               // the refusal's message, if any
    int openErrno = 0;
    WaveFormat format;
    uint32_t dataSize = 0;
    uint32_t serial = 0;  // OpenNext's
  };
  // What Collect committed.
  struct Drained {
    size_t bytes = 0;
    bool lastOfRequest = false;  // the request's last piece is in the store
    bool end = false;            // the data ends there
    bool failed = false;         // a first read that found nothing to read
  };

  // onNews runs on the UI thread (through poster) when the header is known,
  // when enough of an Open's or a Seek's block to start on and when all of
  // it has arrived, and after a failure; never after the reader is
  // destroyed. store is the player's: the reader sizes it when a file opens
  // and fills the bytes reserved in it.
  BlockReader(UiPoster& poster, StreamStore& store, std::function<void()> onNews);
  // Never waits on a read: a thread still inside one is left to end alone.
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // --- requests ---
  // Opens path, checks its header, sizes the store (StoreBytes) and reads
  // the first block into it.
  void Open(const std::string& path, int firstSeconds, int secondSeconds);
  // Reads `bytes` from `offset` bytes into the data, into the store the
  // player's side has just reset. path: the file to seek in, when it may no
  // longer be the one read last (one that follows on was begun).
  void Seek(uint32_t offset, uint32_t bytes, const std::string& path = {});
  // Reads the next `bytes` after what was asked before, once the last
  // request has been collected and the store has room for them.
  void Read(uint32_t bytes) { Read(bytes, false); }
  // Opens the file to follow the one read now, once that one has been read
  // to its end, and checks its header (TakeNextOpened); the store is not
  // touched.
  void OpenNext(const std::string& path, uint32_t serial);
  // Goes on to the file OpenNext opened: its first `bytes` follow the last
  // file's in the store, with no gap. Then Read goes on in it.
  void ReadNext(uint32_t bytes);
  // Drops every request and closes the file.
  void Close();

  // --- results, on the requesting side ---
  std::optional<Opened> TakeOpened();
  std::optional<Opened> TakeNextOpened();
  // Commits to the store what has arrived of the current request.
  Drained Collect();

  // For offline rendering and tests: waits until the current thread has done
  // every request made so far. False when timeout passed first.
  bool WaitIdle(std::chrono::milliseconds timeout);
  // Test hook: runs on the reader thread before every piece it reads.
  void SetPieceReadHook(std::function<void()> hook);

  struct Request;
  struct Mailbox;
  struct Worker;

 private:
  // Starts a generation; the next bytes go to the store's write position.
  uint64_t NewGeneration();
  void StartWorker();
  void Send(Request r, bool replace);
  void Read(uint32_t bytes, bool next);
  // The news in a slot of the mailbox, if it is of the current generation.
  std::optional<Opened> Take(std::optional<std::pair<uint64_t, Opened>> Mailbox::*news);
  void AbandonWorker();

  StreamStore& store_;
  std::shared_ptr<Mailbox> mail_;
  std::shared_ptr<Worker> worker_;
  std::thread thread_;  // the worker's
};

}  // namespace orvex
