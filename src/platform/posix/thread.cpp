#include "platform/thread.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace acekit::platform {
namespace {

static_assert(sizeof(pthread_mutex_t) <= kSyncStorage && alignof(pthread_mutex_t) <= 16);
static_assert(sizeof(pthread_cond_t) <= kSyncStorage && alignof(pthread_cond_t) <= 16);
static_assert(sizeof(pthread_t) <= sizeof(intptr_t));

pthread_mutex_t* M(unsigned char* p) {
  return std::launder(reinterpret_cast<pthread_mutex_t*>(p));
}
pthread_cond_t* C(unsigned char* p) {
  return std::launder(reinterpret_cast<pthread_cond_t*>(p));
}

struct StartArgs {
  void (*fn)(void*);
  void* arg;
};

void* Trampoline(void* p) {
  const StartArgs s = *static_cast<StartArgs*>(p);
  delete static_cast<StartArgs*>(p);
  s.fn(s.arg);
  return nullptr;
}

}  // namespace

Mutex::Mutex() {
  pthread_mutex_init(new (native_) pthread_mutex_t, nullptr);
}
Mutex::~Mutex() {
  pthread_mutex_destroy(M(native_));
}
void Mutex::Lock() {
  pthread_mutex_lock(M(native_));
}
void Mutex::Unlock() {
  pthread_mutex_unlock(M(native_));
}

CondVar::CondVar() {
  pthread_cond_init(new (native_) pthread_cond_t, nullptr);
}
CondVar::~CondVar() {
  pthread_cond_destroy(C(native_));
}
void CondVar::Wait(Mutex& m) {
  pthread_cond_wait(C(native_), M(m.native_));
}
void CondVar::Signal() {
  pthread_cond_signal(C(native_));
}
void CondVar::Broadcast() {
  pthread_cond_broadcast(C(native_));
}

bool Thread::Start(void (*fn)(void*), void* arg) {
  if (started_) return false;
  auto* s = new (std::nothrow) StartArgs{fn, arg};
  if (s == nullptr) return false;
  pthread_t t;
  if (pthread_create(&t, nullptr, Trampoline, s) != 0) {
    delete s;
    return false;
  }
  std::memcpy(&native_, &t, sizeof t);
  started_ = true;
  return true;
}

void Thread::Join() {
  if (!started_) return;
  pthread_t t;
  std::memcpy(&t, &native_, sizeof t);
  pthread_join(t, nullptr);
  started_ = false;
}

int ThreadCount() {
  if (const char* v = std::getenv("ACEKIT_THREADS"); v != nullptr && *v != '\0') {
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (*end == '\0' && n >= 1) return n > kMaxThreads ? kMaxThreads : static_cast<int>(n);
  }
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  if (cpus < 1) return 1;
  return cpus > kMaxThreads ? kMaxThreads : static_cast<int>(cpus);
}

}  // namespace acekit::platform
