// Workers for the parallel encoder: a fixed set of threads taking tasks in
// the order they were handed in. Tasks only compute; whoever hands them in
// keeps every file call and every host call.
#pragma once

#include "platform/thread.h"

namespace acekit::compress {

struct Task {
  void (*run)(Task*) = nullptr;
  Task* next = nullptr;
  bool done = false;  // under the pool's lock
  // The thread that runs it, 0 to the pool's size - 1: a task may use
  // what belongs to that thread alone.
  int worker = 0;
};

class WorkerPool {
 public:
  WorkerPool() = default;
  ~WorkerPool() { Stop(); }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts up to n threads; the number started (0 when none could be).
  int Start(int n);
  // Lets the threads finish the tasks handed in and ends them.
  void Stop();
  void Submit(Task* t);
  // Runs t on the calling thread, for a task it would only wait for.
  void RunHere(Task* t);
  // Until t has run.
  void Wait(Task* t);

 private:
  struct Seat {
    WorkerPool* pool;
    int index;
  };
  static void Main(void* seat);

  platform::Mutex mu_;
  platform::CondVar work_;
  platform::CondVar done_;
  Task* head_ = nullptr;
  Task* tail_ = nullptr;
  const Task* awaited_ = nullptr;  // by the thread in Wait
  bool stop_ = false;
  int started_ = 0;
  platform::Thread threads_[platform::kMaxThreads];
  Seat seats_[platform::kMaxThreads] = {};
};

}  // namespace acekit::compress
