// Identifiers of setup's resources: dialog templates, their items, strings.
#pragma once

#define IDD_SPLASH 108
#define IDD_PROGRESS 109
#define IDD_ERROR 119
#define IDD_LANGUAGE 121

// Progress dialog (the launcher's main window until the wizard comes).
#define IDC_PROGRESS_SECOND 9
#define IDC_PROGRESS_BAR 301
#define IDC_PROGRESS_RATE 308
#define IDC_PROGRESS_TEXT 1008

// Error dialog.
#define IDC_ERROR_SUMMARY 1101
#define IDC_ERROR_DETAILS 1102
#define IDC_ERROR_REPORT 1103
#define IDC_ERROR_COPY 1104
#define IDC_ERROR_TEXT 1105

// Language dialog.
#define IDC_LANGUAGE_PROMPT 51
#define IDC_LANGUAGE_LIST 306

// Texts of the string table; a language file "0x%04x.ini" overrides each by its number.
#define IDS_LANGUAGE_PROMPT 1812
#define IDS_OK 1813
#define IDS_WIZARD 1815
#define IDS_CANCEL 1822
#define IDS_NEXT 1834
#define IDS_BACK 1835
#define IDS_CORVANE 1854
#define IDS_PRODUCT_WIZARD 1887
#define IDS_CONFIRM_CANCEL 1889
#define IDS_KILOBYTES 1903
#define IDS_MEGABYTES 1904
#define IDS_PER_SECOND 1905
#define IDS_PREPARING 2001
#define IDS_ERROR_SUMMARY 2002
#define IDS_ERROR_DETAILS 2003
#define IDS_ERROR_REPORT 2005
#define IDS_ERROR_COPY 2006
#define IDS_NEEDS_ADMINISTRATOR 2009
#define IDS_SECOND_INSTANCE 2010
