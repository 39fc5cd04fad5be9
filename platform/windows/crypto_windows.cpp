// RC4 through the CryptoAPI: every call acquires the default RSA provider,
// hashes the pass phrase with MD5, derives an RC4 key from the hash with the
// provider's default key length and no salt, runs the cipher and releases
// everything again in reverse order.
#include "platform/crypto.h"

#include <windows.h>
#include <wincrypt.h>

namespace platform {

namespace {

// One CryptoAPI object, released when the holder goes out of scope.
template <typename Handle, BOOL (*release)(Handle)>
class CryptoHandle {
public:
    CryptoHandle() = default;
    ~CryptoHandle() {
        if (handle_) release(handle_);
    }
    CryptoHandle(const CryptoHandle&) = delete;
    CryptoHandle& operator=(const CryptoHandle&) = delete;
    Handle get() const { return handle_; }
    Handle* receive() { return &handle_; }

private:
    Handle handle_ = 0;
};

// Plain functions, since the imported API functions are no constant expressions.
BOOL releaseProvider(HCRYPTPROV provider) { return CryptReleaseContext(provider, 0); }
BOOL destroyHash(HCRYPTHASH hash) { return CryptDestroyHash(hash); }
BOOL destroyKey(HCRYPTKEY key) { return CryptDestroyKey(key); }

using Provider = CryptoHandle<HCRYPTPROV, releaseProvider>;
using Hash = CryptoHandle<HCRYPTHASH, destroyHash>;
using Key = CryptoHandle<HCRYPTKEY, destroyKey>;

CryptoResult failure(CryptoStep step, DWORD code) { return {step, static_cast<std::uint32_t>(code)}; }

// Opens the user's default key container, and creates it when it does not
// exist yet.
bool acquireProvider(Provider& provider, DWORD& code) {
    if (CryptAcquireContextW(provider.receive(), nullptr, nullptr, PROV_RSA_FULL, 0)) return true;
    if (CryptAcquireContextW(provider.receive(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET)) return true;
    code = GetLastError();
    if (code != static_cast<DWORD>(NTE_EXISTS)) return false;
    // Another thread or process created the container between the two attempts.
    if (CryptAcquireContextW(provider.receive(), nullptr, nullptr, PROV_RSA_FULL, 0)) return true;
    code = GetLastError();
    return false;
}

} // namespace

CryptoResult rc4InPlace(const std::uint8_t* passPhrase, std::size_t passPhraseLength, std::uint8_t* data,
                        std::uint32_t length, Rc4Direction direction) {
    // Declared in acquisition order, so they are released in reverse order.
    Provider provider;
    Hash hash;
    Key key;
    DWORD code = 0;
    if (!acquireProvider(provider, code)) return failure(CryptoStep::AcquireContext, code);
    if (!CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.receive()))
        return failure(CryptoStep::CreateHash, GetLastError());
    if (!CryptHashData(hash.get(), passPhrase, static_cast<DWORD>(passPhraseLength), 0))
        return failure(CryptoStep::HashData, GetLastError());
    // No key length in the upper 16 bits of the flags: the provider's default applies.
    if (!CryptDeriveKey(provider.get(), CALG_RC4, hash.get(), CRYPT_EXPORTABLE, key.receive()))
        return failure(CryptoStep::DeriveKey, GetLastError());
    // A null buffer would turn the call into a size query (and decryption
    // refuses it), so an empty message still gets a real, empty buffer.
    std::uint8_t empty = 0;
    if (!data) data = &empty;
    DWORD processed = length;
    const BOOL done = direction == Rc4Direction::Encrypt
                          ? CryptEncrypt(key.get(), 0, TRUE, 0, data, &processed, length)
                          : CryptDecrypt(key.get(), 0, TRUE, 0, data, &processed);
    if (!done) return failure(CryptoStep::Cipher, GetLastError());
    return {};
}

void showCryptoFailure(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "ERROR", MB_ICONERROR);
}

} // namespace platform
