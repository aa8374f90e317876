// The English string table of the setup, as the simulated resource lookup serves it.
#include "res/resource.h"
#include "tests/sim/sim_windows.h"

void SimWindows::LoadEnglishStrings() {
    strings = {
        {IDS_OUT_OF_MEMORY, u"Out of Memory"},
        {IDS_PACKAGE_NOT_FOUND, u"Setup was unable to find the MSI package or patch '%1'."},
        {IDS_MISSING_RESOURCE, u"The required data with code %1!d! is missing."},
        {IDS_PLEASE_WAIT_DOWNLOAD, u"Please wait while '%1' is downloaded..."},
        {IDS_THE_PRODUCT, u"the product"},
        {IDS_DOWNLOADING_PACKAGE, u"Downloading package '%1' ..."},
        {IDS_VERIFYING_SIGNATURE, u"Verifying digital signature of '%1'..."},
        {IDS_REQUIRES_PACKAGE,
         u"This installation requires package '%1'. Do you wish to install it now?\nIf you "
         u"already installed '%1', you can choose 'No'."},
        {IDS_NO_SIGNATURE_SUPPORT, u"This version of Windows does not support digital signatures."},
        {IDS_NOT_TRUSTED, u"Installation failed. '%1' is not trusted."},
        {IDS_INVALID_PATH, u"The path '%1' is invalid."},
        {IDS_CANCELLED, u"Setup was cancelled."},
        {IDS_INVALID_MSI_VERSION,
         u"'%1!d!' is an invalid MSI version. Be sure that it is numeric and is at least '%2!d!'."},
        {IDS_ADMIN_REQUIRED,
         u"Admin priviledges are required for upgrading the Windows Installer."},
        {IDS_DOWNLOADING_INSTMSI, u"Downloading Windows Installer upgrade executable"},
        {IDS_INSTMSI_NOT_FOUND, u"Setup was unable to find the InstMSI file '%1'."},
        {IDS_UPGRADE_FAILED, u"Setup was unable to upgrade the Windows Installer."},
        {IDS_RESTART_PROMPT,
         u"You must restart your system for the configuration changes to take effect. Click Yes "
         u"to restart now or No if you plan to manually restart later."},
        {IDS_INVALID_INSTMSI, u"The provided InstMSI upgrade executable '%1' is invalid."},
        {IDS_INSTALL_ERROR,
         u"An error occured installing the package. Windows Installer returned '%1!d!'."},
        {IDS_UPGRADE_PROMPT,
         u"This package requires a newer version of the Windows Installer. Do you want to update "
         u"the version of the Windows Installer on your system?"},
        {IDS_INVALID_OPERATION,
         u"The setup was authored with an incorrect operation resource '%1' and cannot continue."},
        {IDS_NO_PACKAGE_FOR_OS,
         u"The setup was unable to find appropriate install package for your operating system."},
        {IDS_USAGE,
         u"Usage:\n   /? :  Show this dialog.\n   /a :  Prepare an administrative install.\n   /a "
         u"<full path to existing administrative install> :  Prepare/Patch administrative "
         u"install in given folder.\n   /v <full path to file> :  Verify signature on file.\n"},
        {AFX_IDS_APP_TITLE, u"Windows Installer Installation Wrapper"},
    };
}
