// Threads from kernel32 alone (slim reader/writer locks and condition
// variables), so that the DLL needs no threading runtime beside it.
#include "platform/thread.h"

#include <cstdlib>
#include <new>

#include "platform/win32/win.h"

namespace acekit::platform {
namespace {

static_assert(sizeof(SRWLOCK) <= kSyncStorage && sizeof(CONDITION_VARIABLE) <= kSyncStorage);

SRWLOCK* L(unsigned char* p) {
  return std::launder(reinterpret_cast<SRWLOCK*>(p));
}
CONDITION_VARIABLE* C(unsigned char* p) {
  return std::launder(reinterpret_cast<CONDITION_VARIABLE*>(p));
}

struct StartArgs {
  void (*fn)(void*);
  void* arg;
};

DWORD WINAPI Trampoline(LPVOID p) {
  const StartArgs s = *static_cast<StartArgs*>(p);
  delete static_cast<StartArgs*>(p);
  s.fn(s.arg);
  return 0;
}

}  // namespace

Mutex::Mutex() {
  InitializeSRWLock(new (native_) SRWLOCK);
}
Mutex::~Mutex() = default;
void Mutex::Lock() {
  AcquireSRWLockExclusive(L(native_));
}
void Mutex::Unlock() {
  ReleaseSRWLockExclusive(L(native_));
}

CondVar::CondVar() {
  InitializeConditionVariable(new (native_) CONDITION_VARIABLE);
}
CondVar::~CondVar() = default;
void CondVar::Wait(Mutex& m) {
  SleepConditionVariableSRW(C(native_), L(m.native_), INFINITE, 0);
}
void CondVar::Signal() {
  WakeConditionVariable(C(native_));
}
void CondVar::Broadcast() {
  WakeAllConditionVariable(C(native_));
}

bool Thread::Start(void (*fn)(void*), void* arg) {
  if (started_) return false;
  auto* s = new (std::nothrow) StartArgs{fn, arg};
  if (s == nullptr) return false;
  HANDLE h = CreateThread(nullptr, 0, Trampoline, s, 0, nullptr);
  if (h == nullptr) {
    delete s;
    return false;
  }
  native_ = reinterpret_cast<intptr_t>(h);
  started_ = true;
  return true;
}

void Thread::Join() {
  if (!started_) return;
  HANDLE h = reinterpret_cast<HANDLE>(native_);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  started_ = false;
}

int ThreadCount() {
  char v[32];
  const DWORD n = GetEnvironmentVariableA("ACEKIT_THREADS", v, sizeof v);
  if (n > 0 && n < sizeof v) {
    char* end = nullptr;
    const long t = std::strtol(v, &end, 10);
    if (*end == '\0' && t >= 1) return t > kMaxThreads ? kMaxThreads : static_cast<int>(t);
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const DWORD cpus = info.dwNumberOfProcessors;
  if (cpus < 1) return 1;
  return cpus > static_cast<DWORD>(kMaxThreads) ? kMaxThreads : static_cast<int>(cpus);
}

}  // namespace acekit::platform
