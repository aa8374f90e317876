// The few C++ runtime pieces the setup needs, without the standard library's exception
// machinery: allocation failure gives a null pointer that the callers check (the build's
// -fcheck-new keeps those checks in the generated code).
#include <stdlib.h>

#include <new>

void* operator new(size_t size) { return malloc(size ? size : 1); }
void* operator new[](size_t size) { return malloc(size ? size : 1); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return malloc(size ? size : 1); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

extern "C" void __cxa_pure_virtual() { abort(); }

// Two pieces of the mingw-w64 start-up that would only bring in dead code:
//
// - The start-up hands the runtime pseudo-relocations (which ld writes for data that code
//   reaches in a DLL without a dllimport declaration) to this function to apply. The setup
//   imports functions only, so the list is empty, and the linker script
//   (cmake/setup-i686.ld) stops the link if it ever is not.
// - The start-up installs _matherr as the math error handler only when
//   _MINGW_INSTALL_DEBUG_MATHERR is 1, which it is not; nothing calls this one.
struct _exception;
extern "C" void _pei386_runtime_relocator() {}
extern "C" int _matherr(struct _exception*) { return 0; }
