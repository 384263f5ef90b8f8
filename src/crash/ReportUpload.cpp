#include "crash/ReportUpload.h"

#include "crash/CrashReporter.h"

// The problem report dialog and the upload are not part of this program
// yet: every report is answered as when no report server is configured.
int SubmitProblemReport(const CrashSettings&, const wchar_t*, const wchar_t*)
{
    return 1;
}
