// The abstract communication link. A link pushes everything it observes
// into its one ISerialClient; it never returns received data to a caller.
// Every link shares the status text pair (name plus " online"/" offline"),
// the online flag, and the optional encryption on the common send and
// receive paths.
#pragma once

#include "links/ISerialClient.h"
#include "platform/automation.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class Encrypt;

class ISerial {
public:
    explicit ISerial(ISerialClient* client);
    // Detaches the encryptor, pauses 1000 ms, then drops it. A link's own
    // destructor stops its threads first.
    virtual ~ISerial();
    ISerial(const ISerial&) = delete;
    ISerial& operator=(const ISerial&) = delete;

    // Opens the link with the action's parameters, unchanged; true on success.
    virtual bool open(std::uint32_t parameterCount, const VARIANT* parameters) = 0;
    virtual bool close() = 0;
    // Encrypts when a key is set, then hands the bytes to write(). True means
    // the link accepted them; transmission is reported by onDataTransmitted.
    virtual bool send(const std::uint8_t* data, std::uint32_t length);
    virtual bool isOpen() = 0;
    virtual bool isOnline();
    // The link's own raw transmission.
    virtual bool write(const std::uint8_t* data, std::uint32_t length) = 0;

    // A copy of the status text, taken under the status lock.
    std::string getStatus();

    // Installs a key (a copy of `length` bytes) or removes it when `length`
    // is 0; the old encryptor is detached at once and dropped after 1000 ms.
    void setEncryptionKey(const std::uint8_t* key, std::uint32_t length);

protected:
    // Every chunk the link receives, decrypted block by block when a key is set.
    void deliverReceived(const std::uint8_t* data, std::uint32_t length);
    void setStatus(const std::string& text);
    void setOnline(bool value);

    // The client's callbacks for the links' own use. A client that throws
    // cannot end a link's thread: the exception stops at these calls.
    void reportTransmitted(const std::uint8_t* data, std::uint32_t length) noexcept;
    void reportCommEvent(CommEvent event) noexcept;

private:
    using SharedEncryptor = std::shared_ptr<const Encrypt>;

    // Detaches the current encryptor, pauses, drops this link's reference to
    // it, then installs `replacement` (which may be null). A send or receive
    // that took the encryptor before it was detached keeps its own
    // reference, so the pause is behaviour, not what keeps it alive.
    void retireEncryptor(SharedEncryptor replacement);
    void notifyReceived(const std::uint8_t* data, std::uint32_t length) noexcept;
    void notifyStatusChanged() noexcept;

    std::atomic<bool> online_{false};
    ISerialClient* const client_; // not owned; may be null
    std::string statusText_ = "unknown offline";
    std::string name_ = "unknown";
    SharedEncryptor currentEncryptor() const;
    SharedEncryptor swapEncryptor(SharedEncryptor replacement);

    mutable std::mutex encryptorLock_; // guards encryptor_; held only to copy or swap it
    SharedEncryptor encryptor_;        // read by sending and receiving threads, once per chunk or block
    std::mutex statusLock_; // guards name_ and statusText_; never held across a callback
};
