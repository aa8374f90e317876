/* Resource identifiers shared by the C++ sources and the resource script.
   Plain #defines only: this header is read by windres as well as by the compiler. */
#ifndef SETUP_RESOURCE_H
#define SETUP_RESOURCE_H

/* Dialog templates */
#define IDD_LANGUAGE                    129
#define IDD_PROGRESS                    1101

/* Icon */
#define IDI_SETUP                       128

/* Controls of IDD_PROGRESS */
#define IDC_PROGRESS_ICON               101
#define IDC_PROGRESS_TITLE              103
#define IDC_PROGRESS_BAR                104
#define IDC_PROGRESS_STATUS             105

/* Controls of IDD_LANGUAGE */
#define IDC_LANGUAGE_LIST               1000

/* String table (there is no 14 and no 35) */
#define IDS_OUT_OF_MEMORY               12
#define IDS_PACKAGE_NOT_FOUND           13
#define IDS_MISSING_RESOURCE            15
#define IDS_PLEASE_WAIT_DOWNLOAD        16
#define IDS_THE_PRODUCT                 17
#define IDS_DOWNLOADING_PACKAGE         18
#define IDS_VERIFYING_SIGNATURE         19
#define IDS_REQUIRES_PACKAGE            20
#define IDS_NO_SIGNATURE_SUPPORT        21
#define IDS_NOT_TRUSTED                 22
#define IDS_INVALID_PATH                23
#define IDS_CANCELLED                   24
#define IDS_INVALID_MSI_VERSION         25
#define IDS_ADMIN_REQUIRED              26
#define IDS_DOWNLOADING_INSTMSI         27
#define IDS_INSTMSI_NOT_FOUND           28
#define IDS_UPGRADE_FAILED              29
#define IDS_RESTART_PROMPT              30
#define IDS_INVALID_INSTMSI             31
#define IDS_INSTALL_ERROR               32
#define IDS_UPGRADE_PROMPT              33
#define IDS_INVALID_OPERATION           34
#define IDS_NO_PACKAGE_FOR_OS           36
#define IDS_USAGE                       37

/* The application title; a framework header may already define it. */
#ifndef AFX_IDS_APP_TITLE
#define AFX_IDS_APP_TITLE               57344
#endif

#endif /* SETUP_RESOURCE_H */
