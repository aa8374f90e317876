#include "seam/win32_api.h"

namespace {
Win32Api* g_api = nullptr;
}

Win32Api& Api() { return *g_api; }
void SetApi(Win32Api* api) { g_api = api; }
