// Threads for the engines' parallel paths: a lock, a condition, a thread
// that runs one function, and the thread count an operation works with.
// Threads only compute; every file call stays on the host's thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace acekit::platform {

// Large enough for the backends' native objects (checked there).
inline constexpr size_t kSyncStorage = 64;

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  friend class CondVar;
  alignas(16) unsigned char native_[kSyncStorage];
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& m) : m_(m) { m_.Lock(); }
  ~MutexLock() { m_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_;
};

class CondVar {
 public:
  CondVar();
  ~CondVar();
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  // The mutex is held on entry and again on return; wake-ups may be spurious.
  void Wait(Mutex& m);
  void Signal();
  void Broadcast();

 private:
  alignas(16) unsigned char native_[kSyncStorage];
};

// One thread running fn(arg) until it returns.
class Thread {
 public:
  Thread() = default;
  ~Thread() { Join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // False when the system would not start one.
  bool Start(void (*fn)(void*), void* arg);
  // Waits for the function to return; nothing when none was started.
  void Join();
  bool running() const { return started_; }

 private:
  intptr_t native_ = 0;
  bool started_ = false;
};

inline constexpr int kMaxThreads = 16;

// The threads one operation may use, 1 to kMaxThreads: ACEKIT_THREADS from
// the environment when it holds a number from 1 up (larger ones count as
// kMaxThreads), else the number of online processors. 1 keeps every engine
// on its serial path. Asked once per operation.
int ThreadCount();

}  // namespace acekit::platform
