// The tables types live in vocabulary/setup_config.h; this name stays for tables files
// written before they moved there.
#pragma once

#include "vocabulary/setup_config.h"
