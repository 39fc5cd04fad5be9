#include "links/Encrypt.h"

#include <algorithm>
#include <cstring>
#include <new>

Encrypt::Encrypt(const std::uint8_t* key, std::uint32_t length) : key_(key, key + length) {}

Encrypt::~Encrypt() {
    // The pass phrase does not outlive the link's use of it.
    std::fill(key_.begin(), key_.end(), std::uint8_t{0});
}

bool Encrypt::encrypt(const std::uint8_t* data, std::uint32_t n, std::vector<std::uint8_t>& out) const {
    try {
        out.resize(std::size_t{n} + 4);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (n != 0) std::memcpy(out.data() + 4, data, n);
    const platform::CryptoResult result =
        platform::rc4InPlace(key_.data(), key_.size(), out.data() + 4, n, platform::Rc4Direction::Encrypt);
    if (result.ok()) return true;
    if (const auto text = encryptFailureText(result.failedStep, result.errorCode))
        platform::showCryptoFailure(*text);
    return false;
}

bool Encrypt::decrypt(const std::uint8_t* data, std::uint32_t n, std::vector<std::uint8_t>& out) const {
    try {
        out.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (n != 0) std::memcpy(out.data(), data, n);
    return platform::rc4InPlace(key_.data(), key_.size(), out.data(), n, platform::Rc4Direction::Decrypt).ok();
}

std::optional<std::string> encryptFailureText(platform::CryptoStep step, std::uint32_t code) {
    const char* prefix = nullptr;
    switch (step) {
    case platform::CryptoStep::AcquireContext: prefix = "CryptAcquireContext failed "; break;
    case platform::CryptoStep::CreateHash: prefix = "CryptCreateHash failed "; break;
    case platform::CryptoStep::DeriveKey: prefix = "CryptDeriveKey failed "; break;
    case platform::CryptoStep::Cipher: prefix = "CryptEncrypt failed "; break;
    case platform::CryptoStep::HashData: // a failed hash is not shown
    case platform::CryptoStep::None: return std::nullopt;
    }
    if (!prefix) return std::nullopt;
    return prefix + std::to_string(code);
}
