#include "crash/ReportUpload.h"

#include <wchar.h>

#include "base/DynamicLibrary.h"
#include "base/WideString.h"
#include "crash/CrashSettings.h"
#include "crash/ProblemReportDialog.h"
#include "net/HttpClient.h"
#include "system/MachineId.h"
#include "system/ModuleVersion.h"

namespace {

// How long the upload waits for the report server to take or answer data.
// WinINet's own default lets a server that accepts the connection and then
// stays silent keep the crashed process alive for good.
constexpr DWORD kReportIdleTimeoutMs = 30000;

// Sets the idle limits on the upload's request once it is opened.
class UploadLimits
{
public:
    UploadLimits()
    {
        if (wininet_.Load(L"wininet.dll")) {
            setOption_ = wininet_.Symbol<SetOptionFunction>("InternetSetOptionW");
        }
    }

    static int Callback(int code, void* argument, void* userValue)
    {
        if (code == HTTP_CB_ADD_HEADERS) {
            static_cast<UploadLimits*>(userValue)->Apply(
                static_cast<HttpHeaderAccess*>(argument)->request);
        }
        // A report goes to the configured server only: a redirect could take
        // it elsewhere, or off TLS. Every other question gets the answer the
        // client assumes without a callback.
        return code == HTTP_CB_END_SESSION || code == HTTP_CB_REDIRECT ? 0 : 1;
    }

private:
    using SetOptionFunction = BOOL(WINAPI*)(HINTERNET, DWORD, void*, DWORD);

    void Apply(HINTERNET request)
    {
        if (!setOption_) {
            return;
        }
        DWORD timeout = kReportIdleTimeoutMs;
        for (DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
            setOption_(request, option, &timeout, sizeof(timeout));
        }
    }

    DynamicLibrary wininet_;
    SetOptionFunction setOption_ = nullptr;
};

// Adds the form's parts to the client: every text field must be added;
// the file fields go in whether or not their files can be read.
int AddReportForm(HttpClient& client, const ReportFormField (&fields)[REPORT_FORM_FIELD_COUNT])
{
    for (const ReportFormField& field : fields) {
        if (field.isFile) {
            client.AddFileField(field.name, field.value);
        } else if (!client.AddTextField(field.name, field.value)) {
            return 0;
        }
    }
    return 1;
}

void PostReportForm(const CrashSettings& settings,
                    const ReportFormField (&fields)[REPORT_FORM_FIELD_COUNT])
{
    WideString host;
    WORD port = REPORT_DEFAULT_PORT;
    bool secure = false;
    if (!SplitReportHost(settings.host.Data(), host, &port, &secure)) {
        return;
    }
    HttpClient client;
    if (!AddReportForm(client, fields)) {
        return;
    }
    // The server's answer is not examined: the user is not told either way.
    WideString response;
    HttpRequest request;
    request.host = host.Data();
    request.object = settings.path.Data();
    request.agent = L"";
    request.responseText = &response;
    request.port = port;
    request.secure = secure;
    request.service = INTERNET_SERVICE_HTTP;
    request.connectTimeout = static_cast<DWORD>(-1); // the system's default
    UploadLimits limits;
    request.callback = &UploadLimits::Callback;
    request.userValue = &limits;
    client.PostMultipart(request);
}

} // namespace

int SplitReportHost(const wchar_t* setting, WideString& host, WORD* port, bool* secure)
{
    if (!setting) {
        return 0;
    }
    bool tls = false;
    if (_wcsnicmp(setting, L"https://", 8) == 0) {
        tls = true;
        setting += 8;
    } else if (_wcsnicmp(setting, L"http://", 7) == 0) {
        setting += 7;
    }
    if (!setting[0] || setting[0] == L':' || wcspbrk(setting, L"/\\?#@")) {
        return 0;
    }
    const wchar_t* colon = wcsrchr(setting, L':');
    unsigned long number = tls ? REPORT_DEFAULT_SECURE_PORT : REPORT_DEFAULT_PORT;
    if (colon) {
        const wchar_t* digit = colon + 1;
        for (number = 0; *digit >= L'0' && *digit <= L'9' && number <= 65535; ++digit) {
            number = number * 10 + static_cast<unsigned long>(*digit - L'0');
        }
        if (digit == colon + 1 || *digit || number == 0 || number > 65535) {
            return 0;
        }
    }
    const unsigned length =
        static_cast<unsigned>(colon ? colon - setting : static_cast<ptrdiff_t>(wcslen(setting)));
    if (!host.Assign(setting, length)) {
        return 0;
    }
    *port = static_cast<WORD>(number);
    if (secure) {
        *secure = tls;
    }
    return 1;
}

void ComposeReportForm(const ReportValues& values,
                       ReportFormField (&fields)[REPORT_FORM_FIELD_COUNT])
{
    const ReportFormField composed[REPORT_FORM_FIELD_COUNT] = {
        {L"a", L"r", false},
        {L"p", values.product, false},
        {L"s", values.extra, false},
        {L"v", values.version, false},
        {L"g", values.machineId, false},
        {L"e", values.email, false},
        {L"x", values.description, false},
        {L"d", values.dumpPath, true},
        {L"t", values.textPath, true},
    };
    for (int i = 0; i < REPORT_FORM_FIELD_COUNT; ++i) {
        fields[i] = composed[i];
    }
}

int SubmitProblemReport(const CrashSettings& settings, const wchar_t* dumpPath,
                        const wchar_t* textPath)
{
    if (settings.host.IsEmpty()) {
        return 1;
    }
    WideString description(REPORT_DESCRIPTION_CAPACITY);
    WideString email(REPORT_EMAIL_CAPACITY);
    if (!ShowProblemReportDialog(dumpPath, textPath, static_cast<WORD>(settings.iconId),
                                 description, email)) {
        return 0;
    }
    WideString version;
    PackedVersion(nullptr, nullptr, &version);
    WideString machineId;
    MachineId(MACHINE_ID_REPORT, machineId);
    WideString product;
    if (settings.product.IsEmpty()) {
        ReadVersionString(product, L"InternalName");
    } else {
        product.Assign(settings.product);
    }

    ReportValues values;
    values.product = product.Data();
    values.extra = settings.extra.Data();
    values.version = version.Data();
    values.machineId = machineId.Data();
    values.email = email.Data();
    values.description = description.Data();
    values.dumpPath = dumpPath ? dumpPath : L"";
    values.textPath = textPath ? textPath : L"";
    ReportFormField fields[REPORT_FORM_FIELD_COUNT];
    ComposeReportForm(values, fields);
    PostReportForm(settings, fields);
    return 0;
}
