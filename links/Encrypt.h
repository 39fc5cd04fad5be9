// Encryption of link traffic with a pass phrase: RC4 keyed with the MD5 hash
// of the phrase, the key set up afresh for every message, so messages never
// depend on each other. An encrypted block is the 4-byte big-endian message
// length followed by the ciphertext; the link's send path writes the length.
#pragma once

#include "platform/crypto.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Encrypt {
public:
    // Keeps a copy of the pass phrase bytes (no terminating NUL).
    Encrypt(const std::uint8_t* key, std::uint32_t length);
    virtual ~Encrypt();
    Encrypt(const Encrypt&) = delete;
    Encrypt& operator=(const Encrypt&) = delete;

    // Sizes `out` to n + 4 bytes and puts the ciphertext at offset 4; the
    // first 4 bytes are left for the caller. A failure is shown to the user
    // and gives false.
    bool encrypt(const std::uint8_t* data, std::uint32_t n, std::vector<std::uint8_t>& out) const;
    // Sizes `out` to n bytes of plaintext. A failure gives false, silently.
    bool decrypt(const std::uint8_t* data, std::uint32_t n, std::vector<std::uint8_t>& out) const;

private:
    std::vector<std::uint8_t> key_;
};

// The text shown when encrypting fails at `step` with the error `code`;
// none for a step whose failure is not shown.
std::optional<std::string> encryptFailureText(platform::CryptoStep step, std::uint32_t code);
