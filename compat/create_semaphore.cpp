// The compiler's runtime (libgcc's thread primitives, its exception-frame registry and emulated
// thread-local storage) creates its semaphores with CreateSemaphoreW, which Windows 95/98 export
// only as a stub that fails; their locks would then fail under contention. This definition of the
// import slot takes the place of KERNEL32's in every module linked with it, and creates the same
// unnamed semaphore through CreateSemaphoreA, which every Windows has. The runtime never names its
// semaphores; a named one is refused rather than created under a garbled name.
#include <windows.h>

#if defined(__i386__)

namespace {

HANDLE WINAPI createSemaphoreW(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum, LPCWSTR name) {
  if (name) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
  }
  return CreateSemaphoreA(security, initial, maximum, nullptr);
}

}  // namespace

extern "C" {
// The slot the runtime calls through: `call *__imp__CreateSemaphoreW@16`.
HANDLE(WINAPI* qr_create_semaphore_w_slot)
(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) __asm__("__imp__CreateSemaphoreW@16") = createSemaphoreW;
}

#endif
