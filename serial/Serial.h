// The "serial" tester: drives one communication link from a test script.
// The host's "new" makes the link through the link factory; the actions
// open and close it, send formatted text, wait for texts and extract
// values from what it receives.
//
// Two kinds of thread meet here: the host's thread runs the actions, the
// link's threads deliver the callbacks. Received bytes travel between them
// as a queue of chunks under one mutex, signalled by a condition variable.
#pragma once

#include "links/ISerial.h"
#include "links/ISerialClient.h"
#include "links/LinkSlot.h"
#include "platform/file.h"
#include "platform/large_block.h"
#include "serial/ReceivedDataLog.h"
#include "tester/Tester.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

class Serial : public Tester, public ISerialClient {
public:
    Serial();
    ~Serial() override;

    // ISerialClient; called on the link's threads.
    void onDataReceived(ISerial* link, const std::uint8_t* data, std::uint32_t length) override;
    void onDataTransmitted(ISerial* link, const std::uint8_t* data, std::uint32_t length) override;
    void onOnline() override {}
    void onOffline() override {}
    void onCommEvent(ISerial* link, CommEvent event) override;
    void onStatusChanged(ISerial* link) override;

    // The most bytes the match window of the last "waitfor" held at once.
    std::size_t largestWaitforWindow() const { return largestWaitforWindow_; }

protected:
    ActionResult executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) override;
    bool onNew(std::uint32_t count, const VARIANT* parameters) override;
    bool onDelete() override;
    std::string statusText() override;

    // Makes the link that "new" names; a seam for tests.
    virtual std::unique_ptr<ISerial> createLink(const std::string& typeName);

    // Holds the link for the running action (or a test reading outside one),
    // so that a "delete" on another thread cannot take it away meanwhile.
    class LinkInUse : public LinkSlot::Lease {
    public:
        explicit LinkInUse(Serial& serial) : Lease(serial.linkSlot_, serial.actionLink_) {}
    };

    // The byte reader, on the action's thread under the deadline the action
    // armed. awaitBytes gives the unread received bytes at hand, waiting for
    // some as long as the deadline, the abort flag and the link allow (they
    // are looked at before every wait, not per byte); it is empty when the
    // wait ended without any. consumeBytes marks the first `count` read.
    std::span<const std::uint8_t> awaitBytes();
    void consumeBytes(std::size_t count) { readPosition_ += count; }
    // The next received byte, left unread; 0 when the wait ended without one.
    std::uint8_t peekByte();

private:
    class ScanAdapter;

    // The action's parameters after the optional leading timeout.
    struct TimedParameters {
        std::uint32_t timeoutSeconds;
        std::uint32_t count;
        const VARIANT* parameters;
    };
    static TimedParameters leadingTimeout(std::uint32_t count, const VARIANT* parameters);

    ActionResult open(std::uint32_t count, const VARIANT* parameters);
    ActionResult close();
    ActionResult send(std::uint32_t count, const VARIANT* parameters);
    ActionResult waitfor(std::uint32_t count, const VARIANT* parameters);
    ActionResult scanf(std::uint32_t count, const VARIANT* parameters);
    ActionResult setFlag(std::atomic<bool>& flag, const char* name, std::uint32_t count, const VARIANT* parameters,
                         const char* onWord = "True", const char* offWord = "False");
    ActionResult clearReceiveQueue();
    // Waits until the link has reported `target` bytes transmitted in all.
    ActionResult awaitTransmitted(std::uint32_t target);

    // Line events.
    ActionResult waitforEvent(std::uint32_t count, const VARIANT* parameters);
    ActionResult queueEvents(std::uint32_t count, const VARIANT* parameters);
    ActionResult clearEventQueue();
    void emptyEventQueue();
    // The oldest queued event, waiting at most `wait` for one.
    std::optional<std::uint32_t> takeEvent(std::chrono::milliseconds wait);

    // Files.
    ActionResult sendFile(std::uint32_t count, const VARIANT* parameters);
    ActionResult compareFile(std::uint32_t count, const VARIANT* parameters);
    // The file the parameters name, looked for as given and then in the
    // script directory; null (and logged) when neither opens.
    platform::SharedFile openNamedFile(std::uint32_t count, const VARIANT* parameters);
    ActionResult startLoggingToFile(std::uint32_t count, const VARIANT* parameters);
    ActionResult stopLoggingToFile();
    void detachLogFile();
    std::shared_ptr<ReceivedDataLog> currentLogFile();

    // Makes the next received chunk current when the current one is used
    // up, waiting at most one poll interval; true when a byte is unread.
    bool fetchChunk();
    // Waits for an unread byte as the byte reader does; false when the wait
    // ended without one (deadline, abort or closed link).
    bool awaitUnread();
    std::span<const std::uint8_t> unreadBytes() const {
        return {currentChunk_.data() + readPosition_, currentChunk_.size() - readPosition_};
    }
    // Queues a received chunk; short ones share blocks.
    void queueReceived(const std::uint8_t* data, std::uint32_t length);
    // Moves the oldest queued chunk into `chunk`, waiting at most `wait`;
    // false when none came.
    // Received bytes, queued in blocks that may grow large during a backlog.
    using ReceivedBlock = std::vector<std::uint8_t, platform::BlockAllocator<std::uint8_t>>;
    bool takeChunk(ReceivedBlock& chunk, std::chrono::milliseconds wait);
    void watchForChunk(std::uint32_t chunksSeen) const;
    bool linkOpen() const { return actionLink_ && actionLink_->isOpen(); }
    void reportCallbackFailure(const char* callback) noexcept;
    void traceBytes(const char* prefix, const std::uint8_t* data, std::uint32_t length);

    LinkSlot linkSlot_;
    std::shared_ptr<ISerial> actionLink_; // the running action's own reference; action thread only
    std::atomic<std::uint32_t> transmittedCount_{0};
    std::mutex transmitLock_;                // orders transmitted reports with a waiting "send"
    std::condition_variable transmitSignal_; // notified after each transmitted report
    std::mutex queueLock_; // guards receiveQueue_ and eventQueue_
    std::condition_variable receiveSignal_; // notified once per queued chunk
    std::deque<ReceivedBlock> receiveQueue_;
    std::atomic<std::uint32_t> queuedChunks_{0}; // counts queued chunks, read without the lock
    ReceivedBlock currentChunk_;             // action thread only
    std::size_t readPosition_ = 0;           // next unread byte of currentChunk_
    std::atomic<bool> logData_{true};
    std::atomic<bool> sinkData_{false};
    std::atomic<bool> queueEvents_{false};
    std::deque<std::uint32_t> eventQueue_;  // line event codes; guarded by queueLock_
    std::condition_variable eventSignal_;   // notified once per queued event
    std::mutex logFileLock_;                 // guards logFile_ (not the file itself)
    std::shared_ptr<ReceivedDataLog> logFile_;
    std::size_t largestWaitforWindow_ = 0;
};
