// RC4 over bytes, with the key the system's default cryptographic provider
// derives from a pass phrase. Every call sets its key up afresh and keeps
// nothing, so calls on different threads never share state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class Rc4Direction { Encrypt, Decrypt };

// The key set-up and cipher stages, in the order a call runs them.
enum class CryptoStep {
    None,           // no failure
    AcquireContext, // opening the default provider
    CreateHash,     // starting the MD5 hash
    HashData,       // hashing the pass phrase
    DeriveKey,      // turning the hash into an RC4 key
    Cipher,         // running RC4 over the data
};

// The stage that failed and the system's error code, taken right after the failing call.
struct CryptoResult {
    CryptoStep failedStep = CryptoStep::None;
    std::uint32_t errorCode = 0;
    bool ok() const { return failedStep == CryptoStep::None; }
};

// Runs RC4 in place over `length` bytes at `data`. The key is the whole MD5
// digest of the pass phrase (128 bits, no salt), which is what the default
// provider derives, so both builds exchange traffic with each other.
CryptoResult rc4InPlace(const std::uint8_t* passPhrase, std::size_t passPhraseLength, std::uint8_t* data,
                        std::uint32_t length, Rc4Direction direction);

// Shows an encryption failure to the user: a modal message box with the
// caption "ERROR" on Windows, a line on standard error elsewhere.
void showCryptoFailure(const std::string& text);

} // namespace platform
