/* Added to GNU ld's default script for the x86_64 setup (an implicit linker script: given as
   an input file, it extends the default instead of replacing it). The i686 build has a whole
   script of its own (setup-i686.ld); here the default layout is kept and only its guard is
   repeated: the runtime pseudo-relocation list must be empty, because
   platform/runtime_win32.cpp replaces the runtime's relocator with one that does nothing. */
ASSERT(__rt_psrelocs_size == 0, "runtime pseudo-relocations present: data is imported without dllimport, and platform/runtime_win32.cpp does not apply them")
