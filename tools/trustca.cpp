// trustca CA.der
// Adds a certificate to the Root store of the local machine, so that WinHTTP
// in this Wine prefix trusts the project's test service. Run again, it
// replaces the same certificate; nothing outside the prefix is touched.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: trustca CA.der\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fwprintf(stderr, L"cannot read %ls\n", argv[1]);
        return 1;
    }
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        std::fwprintf(stderr, L"cannot open the Root store: %lu\n", ::GetLastError());
        return 1;
    }
    const BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                          reinterpret_cast<const BYTE*>(der.data()),
                                                          static_cast<DWORD>(der.size()),
                                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = ::GetLastError();
    ::CertCloseStore(store, 0);
    if (!added) {
        std::fwprintf(stderr, L"cannot add the certificate: %lu\n", error);
        return 1;
    }
    return 0;
}
