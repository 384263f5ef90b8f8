#include <windows.h>
#include <wincrypt.h>

#include "TrustedTestRoot.h"

namespace {

// The current user's own root store in the registry. Wine (like Windows)
// also offers a "Root" system store that merges it with the machine's, but
// under Wine a certificate deleted through that one stays in the registry.
HCERTSTORE OpenUserRoots()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                         L"Root");
}

} // namespace

// Wine's crypt32 trusts the roots in the prefix's registry (the host's CA
// bundle is copied into the machine's part), so the test CA counts in this
// prefix only. On Windows, adding a root for the current user asks the user
// first.
TrustedTestRoot::TrustedTestRoot(const std::string& der) : der_(der)
{
    HCERTSTORE store = OpenUserRoots();
    if (!store || der.empty()) {
        return;
    }
    added_ = CertAddEncodedCertificateToStore(
                 store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    CertCloseStore(store, 0);
}

TrustedTestRoot::~TrustedTestRoot()
{
    HCERTSTORE store = added_ ? OpenUserRoots() : nullptr;
    if (!store) {
        return;
    }
    PCCERT_CONTEXT mine =
        CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                     static_cast<DWORD>(der_.size()));
    PCCERT_CONTEXT found = mine ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, mine, nullptr)
                                : nullptr;
    if (found) {
        CertDeleteCertificateFromStore(found); // releases found
    }
    if (mine) {
        CertFreeCertificateContext(mine);
    }
    CertCloseStore(store, 0);
}

HttpTestServer* SharedHttpsServer()
{
    static HttpTestServer server("https");
    static TrustedTestRoot root(server.IsRunning() ? server.CaCertificate() : std::string());
    return root.IsTrusted() ? &server : nullptr;
}

HttpTestServer* ThankingHttpsServer()
{
    HttpTestServer* server = SharedHttpsServer();
    const bool ready = server && server->Clear() && server->Answer(Scripted(200, "thanks", 0));
    return ready ? server : nullptr;
}
