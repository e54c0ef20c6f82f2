// The report of a failed run: gathered, traced, written to the result file of a silent run
// and shown to the user.
#pragma once

#include "zString.h"

#include <windows.h>

class CSetup;

struct error_report_facts {
    zString source;
    int line = 0;
    zString product;
    zString company;
    zString company_url;
    zString product_code;
    zString internal_version;
    bool web = false;
    bool package = false;
    zString os_name;
    WORD service_pack = 0;
    DWORD build = 0;
    zString ie_version;
};

zString BuildErrorReport(const error_report_facts& facts);

// The report address with its "%d", "%x" and "%s" filled by the error number, the failure
// code and the percent-encoded error information. The address comes from setup.ini, so it is
// never used as a printf format: every other "%" stays as it stands.
zString ErrorReportAddress(const zString& address, LONG error_number, HRESULT code, const zString& info);
zString PercentEncode(const zString& text);

// message_box_only: show the report in a message box in place of the error dialog.
void ReportUnhandledError(CSetup& setup, bool message_box_only);

// Only in a silent run: the result file ("f2", else setup.log beside the media or, for a
// package on the web, in the temporary folder) gets its sections; others in it stay.
void WriteSilentResultLog(CSetup& setup, LONG result_code, const zString& error_info);
