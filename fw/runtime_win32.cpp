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
