// A check that holds in every build of the fuzzers, with or without NDEBUG.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(condition)                                                             \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                      \
        }                                                                                 \
    } while (0)
