// Every result code and exit status that the setup produces itself, with its meaning.
// Any other non-zero result is the installer engine's or the redistributable's own code,
// passed up unchanged.
#pragma once

#include "seam/win32_types.h"

enum ResultCode : DWORD {
    kResultSuccess = 0,
    // A package or redistributable could not be found or downloaded.
    kResultFileNotFound = 2,  // ERROR_FILE_NOT_FOUND
    // Start-up: there is no memory for the executable's paths or the worker thread object.
    kResultNotEnoughMemory = 8,  // ERROR_NOT_ENOUGH_MEMORY
    // No memory for a text of a step (an address, a path, a command line).
    kResultOutOfMemory = 14,  // ERROR_OUTOFMEMORY
    // A downloaded file is not trusted.
    kResultNotTrusted = 4,  // ERROR_ACCESS_DENIED
    // An operation keyword the setup does not accept, or an invalid redistributable.
    kResultInvalidParameter = 87,  // ERROR_INVALID_PARAMETER
    // Signatures cannot be verified on this system.
    kResultCannotVerify = 120,  // ERROR_CALL_NOT_IMPLEMENTED
    // Bad command-line arguments, or a package row without languages.
    kResultBadArguments = 160,  // ERROR_BAD_ARGUMENTS
    // The user cancelled, or there is no file for this machine.
    kResultCancelled = 1602,  // ERROR_INSTALL_USEREXIT
    // The engine cannot be bound, the upgrade needs an administrator, or admin mode lacks
    // a command line.
    kResultInstallFailure = 1603,  // ERROR_INSTALL_FAILURE
    // Start-up: the executable's own path does not fit the path buffer.
    kResultPathTooLong = 122,  // ERROR_INSUFFICIENT_BUFFER
    // Start-up: user32 cannot be loaded from the system directory or lacks a function.
    kResultNoUser32 = 126,  // ERROR_MOD_NOT_FOUND
    // Another instance of the setup is running.
    kResultAlreadyRunning = 1618,  // ERROR_INSTALL_ALREADY_RUNNING
    // No redistributable exists for this processor.
    kResultPlatformUnsupported = 1633,  // ERROR_INSTALL_PLATFORM_UNSUPPORTED
    // The engine or the redistributable asks for a restart; also the install run's status
    // when the engine upgrade asked for one and the user chose to restart later.
    kResultRebootRequired = 3010,  // ERROR_SUCCESS_REBOOT_REQUIRED
    // The restart after an engine upgrade was started (or the engine started one).
    kResultRebootInitiated = 1641,  // ERROR_SUCCESS_REBOOT_INITIATED
};

// The engine results that the package steps tell apart (MsiInstallProductW, MsiApplyPatchW).
enum EngineResult : DWORD {
    // Results that need no message: the engine has shown its own or there is nothing to say.
    kEngineUserExit = 1602,         // ERROR_INSTALL_USEREXIT
    kEngineFailure = 1603,          // ERROR_INSTALL_FAILURE
    kEngineSuspended = 1604,        // ERROR_INSTALL_SUSPEND
    kEngineRebootInitiated = 1641,  // ERROR_SUCCESS_REBOOT_INITIATED
    kEngineRebootRequired = 3010,   // ERROR_SUCCESS_REBOOT_REQUIRED
    kEngineAppHelpBlock = 1259,     // ERROR_APPHELP_BLOCK
    // A package that cannot be opened under that name or path...
    kEngineFileNotFound = 2,   // ERROR_FILE_NOT_FOUND
    kEnginePathNotFound = 3,   // ERROR_PATH_NOT_FOUND
    kEngineInvalidName = 123,  // ERROR_INVALID_NAME
    // ...is reported with the engine's words for this one.
    kEnginePackageOpenFailed = 1619,  // ERROR_INSTALL_PACKAGE_OPEN_FAILED
};

// Exit statuses of the verify mode (/v FILE).
enum VerifyStatus : DWORD {
    kVerifyTrusted = 0,
    kVerifyNotAvailable = 0x800B0001,  // TRUST_E_PROVIDER_UNKNOWN
    kVerifyNotTrusted = 0x800B0004,    // TRUST_E_SUBJECT_NOT_TRUSTED
};
