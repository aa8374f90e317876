// Verifying a file in a child copy of the setup (the /v mode), and waiting for a child
// while the calling thread keeps serving its messages.
#pragma once

#include "seam/win32_api.h"
#include "trust/signature.h"

// Runs `setupPath /v "file"` and gives the child's exit status (0 trusted, 0x800B0001 not
// available, anything else not trusted), or an error of its own: 14 when the command line
// cannot be allocated, 1603 when it cannot be composed, the system error when the child
// cannot be started, waited for, or its exit status cannot be read.
DWORD VerifyInChildProcess(const char16_t* setupPath, const char16_t* file);

// The verdict of VerifyInChildProcess for `file`, in the form of CompareSigners: the
// child's "not available" status is kTrustNotAvailable, 0 is kTrusted, and every other
// status or error of its own is kNotTrusted. `owner` is not used: the child shows its own
// dialogs.
TrustVerdict VerifyInChildCopy(const char16_t* setupPath, const char16_t* file, HWND owner);

// Waits for `handle`, serving every waiting message of the thread's queue at each wake. 0
// once the handle is signalled, the system error when waiting fails.
DWORD WaitPumpingMessages(HANDLE handle);

// Starts `commandLine` with the setup's child start-up values, waits for it serving messages,
// and gives its exit code in `exitCode`. The result is 0, or the system error of a failed
// start, wait or exit-code read.
DWORD RunChildProcess(char16_t* commandLine, DWORD* exitCode);

// Composes the command line of `pieces` (see ComposeChildCommandLine), runs it (see
// RunChildProcess) and gives the child's exit code, or the error of the composition, start,
// wait or exit-code read.
DWORD RunChildOfPieces(const char16_t* const* pieces, int count, DWORD length);

// A command line of `pieces`, allocated with room for exactly `length` characters including
// the terminator and composed with bounded appends. 14 when it cannot be allocated, 1603
// when the pieces do not fit or the length is out of range; 0 otherwise.
DWORD ComposeChildCommandLine(const char16_t* const* pieces, int count, DWORD length,
                              char16_t** commandLine);
