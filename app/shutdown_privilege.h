// The privilege that the restart at shutdown needs.
#pragma once

// Enables the shutdown privilege of this process; true when it was enabled.
bool EnableShutdownPrivilege();
