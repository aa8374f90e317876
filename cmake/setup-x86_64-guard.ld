/* Added to GNU ld's default script for the x86_64 setup (an implicit linker script: given as
   an input file, it extends the default instead of replacing it). The i686 build has a whole
   script of its own (setup-i686.ld); here the default layout is kept and only its guard is
   repeated: the runtime pseudo-relocation list must be empty, because
   platform/runtime_win32.cpp replaces the runtime's relocator with one that does nothing. Both
   binutils 2.40 (Debian 12) and 2.44 (Debian 13) define the list's two ends; only 2.40 defines
   its size as well. */
ASSERT(__rt_psrelocs_end - __rt_psrelocs_start == 0, "runtime pseudo-relocations present: data is imported without dllimport, and platform/runtime_win32.cpp does not apply them")
