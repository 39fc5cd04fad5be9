// RC4 from nettle with the key bytes the Windows default provider derives:
// the whole 16-byte MD5 digest of the pass phrase, no salt. Neither step can
// fail here; the failure texts go to standard error for parity with Windows.
#include "platform/crypto.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>

#include <cstdio>

namespace platform {

CryptoResult rc4InPlace(const std::uint8_t* passPhrase, std::size_t passPhraseLength, std::uint8_t* data,
                        std::uint32_t length, Rc4Direction) {
    md5_ctx hash;
    md5_init(&hash);
    md5_update(&hash, passPhraseLength, passPhrase);
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_digest(&hash, sizeof digest, digest);

    arcfour_ctx cipher;
    arcfour_set_key(&cipher, sizeof digest, digest);
    if (length != 0) arcfour_crypt(&cipher, length, data, data);
    return {};
}

void showCryptoFailure(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

} // namespace platform
