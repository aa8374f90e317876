// The one road of a file the setup fetches (a package, the redistributable): status, cancel
// check, download into the cache, cancel check, verification status, cancel check,
// verification. Every step that ends the road shows its message first.
#pragma once

#include "platform/owned_text.h"
#include "trust/signature.h"
#include "ui/progress_view.h"

// Verifies `path` against the signer of `referencePath` (the setup executable); `owner` owns
// the trust dialogs. CompareSigners (in this process) and VerifyInChildCopy (in a child copy
// of the setup) are the two verifiers.
typedef TrustVerdict (*FileVerifier)(const char16_t* referencePath, const char16_t* path,
                                     HWND owner);

struct DownloadRequest {
    const char16_t* urlPrefix;  // the file name is appended to it directly, nothing escaped
    const char16_t* fileName;   // from the tables, without a directory
    UINT downloadingId;         // the status while downloading; %1 is the file name
    UINT notFoundId;            // the error when the download fails; %1 is the address
    FileVerifier verify;
    const char16_t* referencePath;
};

// 0 with the verified file's cache path in `path`, or the result that ends the run: 14 out of
// memory, 1602 cancelled, 2 not downloaded, 120 no signature support, 4 not trusted. `urlmon`
// is the application's urlmon handle (see DownloadToCache).
DWORD DownloadAndVerify(ProgressView& progress, HMODULE* urlmon, const DownloadRequest& request,
                        OwnedText* path);

// What the trust verdict on the downloaded file at `path` means: 0 for "trusted" only; 120
// when signatures cannot be verified; 4 for every other verdict, an unexpected value
// included. Shows the message of a refusal.
DWORD AcceptVerdict(int verdict, const char16_t* path);
