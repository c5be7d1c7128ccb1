// Makes this run's throw-away sandbox CA trusted in the test prefix only: adds (or with
// --remove takes out) the DER certificate named by the sandbox's info file in the machine's
// Root store. Run as a ctest fixture after the prefix boot and the sandbox start.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kit/uSandbox.h"

int main(int argc, char** argv) {
  const bool remove = argc > 1 && std::strcmp(argv[1], "--remove") == 0;
  try {
    const tolvaro::test::TSandbox sandbox;
    std::ifstream in(sandbox.CaDerPath(), std::ios::binary);
    const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) {
      std::fprintf(stderr, "cannot read the CA certificate %s\n", sandbox.CaDerPath().c_str());
      return 1;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
      std::fprintf(stderr, "cannot open the Root store: %lu\n", GetLastError());
      return 1;
    }
    BOOL ok = FALSE;
    if (!remove) {
      ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    } else if (PCCERT_CONTEXT cert =
                   CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()))) {
      PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, cert, nullptr);
      ok = found == nullptr || CertDeleteCertificateFromStore(found);  // deleting frees the found context
      CertFreeCertificateContext(cert);
    }
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!ok) {
      std::fprintf(stderr, "cannot %s the CA certificate: %lu\n", remove ? "remove" : "add", error);
      return 1;
    }
    std::printf("%s %s\n", remove ? "removed" : "trusted", sandbox.CaDerPath().c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
