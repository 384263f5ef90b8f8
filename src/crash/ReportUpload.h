#pragma once

struct CrashSettings;

// Offers the written report to the user and sends it to the report server.
// dumpPath is empty when no dump exists. 1 when no report server is
// configured (the system's own error handling should follow), else 0.
int SubmitProblemReport(const CrashSettings& settings, const wchar_t* dumpPath,
                        const wchar_t* textPath);
