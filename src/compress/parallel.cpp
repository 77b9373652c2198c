#include "compress/parallel.h"

namespace acekit::compress {

int WorkerPool::Start(int n) {
  Stop();
  stop_ = false;
  if (n > platform::kMaxThreads) n = platform::kMaxThreads;
  while (started_ < n) {
    seats_[started_] = Seat{this, started_};
    if (!threads_[started_].Start(&WorkerPool::Main, &seats_[started_])) break;
    ++started_;
  }
  return started_;
}

void WorkerPool::Stop() {
  if (started_ == 0) return;
  {
    platform::MutexLock lock(mu_);
    stop_ = true;
    work_.Broadcast();
  }
  for (int i = 0; i < started_; ++i) threads_[i].Join();
  started_ = 0;
}

// The wake-ups come after the lock is let go: a thread woken while it is
// still held would only block again on it, which costs the waker a second
// call into the system on every hand-over.
void WorkerPool::Submit(Task* t) {
  {
    platform::MutexLock lock(mu_);
    t->done = false;
    t->next = nullptr;
    if (tail_ != nullptr) {
      tail_->next = t;
    } else {
      head_ = t;
    }
    tail_ = t;
  }
  work_.Signal();
}

void WorkerPool::RunHere(Task* t) {
  t->worker = 0;
  t->run(t);
  platform::MutexLock lock(mu_);
  t->done = true;
}

void WorkerPool::Wait(Task* t) {
  platform::MutexLock lock(mu_);
  while (!t->done) {
    awaited_ = t;
    done_.Wait(mu_);
  }
  awaited_ = nullptr;
}

void WorkerPool::Main(void* seat) {
  const Seat& me = *static_cast<const Seat*>(seat);
  WorkerPool* const pool = me.pool;
  platform::MutexLock lock(pool->mu_);
  for (;;) {
    while (pool->head_ == nullptr && !pool->stop_) pool->work_.Wait(pool->mu_);
    Task* t = pool->head_;
    if (t == nullptr) return;  // stopping, and nothing left
    pool->head_ = t->next;
    if (pool->head_ == nullptr) pool->tail_ = nullptr;
    t->worker = me.index;
    pool->mu_.Unlock();
    t->run(t);
    pool->mu_.Lock();
    t->done = true;
    // Only the task waited for wakes the waiter: woken by every other one
    // that ends first, it would only go back to sleep.
    const bool wake = t == pool->awaited_;
    pool->mu_.Unlock();
    // `t` may be gone now; the pool stays until this thread is joined.
    if (wake) pool->done_.Broadcast();
    pool->mu_.Lock();
  }
}

}  // namespace acekit::compress
