#include "links/ISerial.h"

#include "links/BigEndian.h"
#include "links/Encrypt.h"

#include <chrono>
#include <new>
#include <thread>
#include <vector>

namespace {

// How long a detached encryptor is kept alive, so that a send or receive
// that read the pointer just before it was detached can finish with it.
constexpr std::chrono::milliseconds retirePause{1000};

const char* onlineWord(bool online) { return online ? " online" : " offline"; }

} // namespace

ISerial::ISerial(ISerialClient* client) : client_(client) {}

ISerial::~ISerial() { retireEncryptor(nullptr); }

bool ISerial::send(const std::uint8_t* data, std::uint32_t length) {
    const Encrypt* encryptor = encryptor_.load();
    if (!encryptor) return write(data, length);
    if (length > UINT32_MAX - 4) return false; // the block's length would not fit its 32 bits
    std::vector<std::uint8_t> block;
    if (!encryptor->encrypt(data, length, block)) return false;
    storeBigEndian32(block.data(), length);
    return write(block.data(), static_cast<std::uint32_t>(block.size()));
}

bool ISerial::isOnline() { return online_.load(); }

std::string ISerial::getStatus() {
    const std::lock_guard lock(statusLock_);
    return statusText_;
}

void ISerial::setEncryptionKey(const std::uint8_t* key, std::uint32_t length) {
    std::unique_ptr<Encrypt> replacement;
    if (length != 0) {
        try {
            replacement = std::make_unique<Encrypt>(key, length);
        } catch (const std::bad_alloc&) {
            // Out of memory: the old key is still removed, and traffic goes plain.
        }
    }
    retireEncryptor(std::move(replacement));
}

void ISerial::deliverReceived(const std::uint8_t* data, std::uint32_t length) {
    if (!client_) return;
    if (!encryptor_.load()) {
        client_->onDataReceived(this, data, length);
        return;
    }
    // A run of encrypted blocks, each wholly inside this chunk; nothing is
    // kept between chunks. The plaintext buffer serves every block.
    std::vector<std::uint8_t> plain;
    std::uint32_t position = 0;
    while (length - position > 4) {
        const std::uint32_t blockLength = loadBigEndian32(data + position);
        position += 4;
        if (blockLength > length - position) return;
        // Read again for every block: a client may change the key from inside its callback.
        const Encrypt* encryptor = encryptor_.load();
        if (!encryptor || !encryptor->decrypt(data + position, blockLength, plain)) return;
        // An empty block still hands the client a valid pointer.
        client_->onDataReceived(this, blockLength != 0 ? plain.data() : data + position, blockLength);
        position += blockLength;
    }
}

void ISerial::setStatus(const std::string& text) {
    {
        const std::lock_guard lock(statusLock_);
        name_ = text;
        statusText_ = name_ + onlineWord(online_.load());
    }
    if (client_) client_->onStatusChanged(this);
}

void ISerial::setOnline(bool value) {
    const bool previous = online_.exchange(value);
    if (client_) {
        if (value && !previous) client_->onOnline();
        if (!value && previous) client_->onOffline();
    }
    {
        const std::lock_guard lock(statusLock_);
        statusText_ = name_ + onlineWord(value);
    }
    if (client_) client_->onStatusChanged(this);
}

void ISerial::retireEncryptor(std::unique_ptr<Encrypt> replacement) {
    std::unique_ptr<Encrypt> retired(encryptor_.exchange(nullptr));
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + retirePause);
    retired.reset();
    if (!replacement) return;
    // Only one key is ever installed at a time; anything found here was put
    // by a concurrent call and gets the same grace period before it goes.
    std::unique_ptr<Encrypt> displaced(encryptor_.exchange(replacement.release()));
    if (displaced) std::this_thread::sleep_until(std::chrono::steady_clock::now() + retirePause);
}
