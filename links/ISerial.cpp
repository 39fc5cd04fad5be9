#include "links/ISerial.h"

#include "links/BigEndian.h"
#include "links/Encrypt.h"
#include "links/EncryptedBlocks.h"

#include "platform/pause.h"

#include <chrono>
#include <new>
#include <vector>

namespace {

// How long a link waits after detaching its encryptor before it lets go of
// it (on a key change and on destruction).
constexpr std::chrono::milliseconds retirePause{1000};

const char* onlineWord(bool online) { return online ? " online" : " offline"; }

} // namespace

ISerial::ISerial(ISerialClient* client) : client_(client) {}

ISerial::~ISerial() { retireEncryptor(nullptr); }

bool ISerial::send(const std::uint8_t* data, std::uint32_t length) {
    const SharedEncryptor encryptor = currentEncryptor();
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
    SharedEncryptor replacement;
    if (length != 0) {
        try {
            replacement = std::make_shared<const Encrypt>(key, length);
        } catch (const std::bad_alloc&) {
            // Out of memory: the old key is still removed, and traffic goes plain.
        }
    }
    retireEncryptor(std::move(replacement));
}

void ISerial::deliverReceived(const std::uint8_t* data, std::uint32_t length) {
    if (!client_) return;
    if (!currentEncryptor()) {
        notifyReceived(data, length);
        return;
    }
    std::vector<std::uint8_t> plain; // serves every block of the chunk
    EncryptedBlocks blocks(data, length);
    while (const auto block = blocks.next()) {
        // Read again for every block: a client may change the key from inside its callback.
        const SharedEncryptor encryptor = currentEncryptor();
        if (!encryptor || !encryptor->decrypt(block->ciphertext, block->length, plain)) return;
        // An empty block still hands the client a valid pointer.
        notifyReceived(block->length != 0 ? plain.data() : block->ciphertext, block->length);
    }
}

void ISerial::setStatus(const std::string& text) {
    {
        const std::lock_guard lock(statusLock_);
        name_ = text;
        statusText_ = name_ + onlineWord(online_.load());
    }
    notifyStatusChanged();
}

void ISerial::setOnline(bool value) {
    const bool previous = online_.exchange(value);
    if (client_) {
        try {
            if (value && !previous) client_->onOnline();
            if (!value && previous) client_->onOffline();
        } catch (...) {
            // A client's failure is its own; the link's state stands.
        }
    }
    {
        // The word comes from the flag as it is now, not from `value`: when
        // two threads change the state at once, the text ends as the flag does.
        const std::lock_guard lock(statusLock_);
        statusText_ = name_ + onlineWord(online_.load());
    }
    notifyStatusChanged();
}

void ISerial::reportTransmitted(const std::uint8_t* data, std::uint32_t length) noexcept {
    if (!client_) return;
    try {
        client_->onDataTransmitted(this, data, length);
    } catch (...) {
    }
}

void ISerial::reportCommEvent(CommEvent event) noexcept {
    if (!client_) return;
    try {
        client_->onCommEvent(this, event);
    } catch (...) {
    }
}

void ISerial::notifyReceived(const std::uint8_t* data, std::uint32_t length) noexcept {
    try {
        client_->onDataReceived(this, data, length);
    } catch (...) {
    }
}

void ISerial::notifyStatusChanged() noexcept {
    if (!client_) return;
    try {
        client_->onStatusChanged(this);
    } catch (...) {
    }
}

ISerial::SharedEncryptor ISerial::currentEncryptor() const {
    const std::lock_guard lock(encryptorLock_);
    return encryptor_;
}

ISerial::SharedEncryptor ISerial::swapEncryptor(SharedEncryptor replacement) {
    const std::lock_guard lock(encryptorLock_);
    encryptor_.swap(replacement);
    return replacement;
}

void ISerial::retireEncryptor(SharedEncryptor replacement) {
    SharedEncryptor retired = swapEncryptor(nullptr);
    platform::pause(retirePause);
    retired.reset();
    if (!replacement) return;
    // Only one key is ever installed at a time; anything found here was put
    // by a concurrent call and gets the same pause before it goes.
    SharedEncryptor displaced = swapEncryptor(std::move(replacement));
    if (displaced) platform::pause(retirePause);
}
