// The link a tester owns, shared with the actions that use it: "new" puts
// it in, "delete" takes it out, and an action running on another thread
// keeps its own reference for its run, so the link is destroyed (and so
// closed) only when the last holder lets go.
#pragma once

#include "links/ISerial.h"

#include <memory>
#include <mutex>

class LinkSlot {
public:
    void put(std::unique_ptr<ISerial> link) {
        const std::lock_guard guard(lock_);
        link_ = std::move(link);
    }
    // Takes the link out; it lives on while anyone still holds it.
    std::shared_ptr<ISerial> take() {
        const std::lock_guard guard(lock_);
        return std::move(link_);
    }
    std::shared_ptr<ISerial> current() const {
        const std::lock_guard guard(lock_);
        return link_;
    }
    bool empty() const { return current() == nullptr; }

    // Holds the slot's link in `holder` for the length of one action.
    class Lease {
    public:
        Lease(const LinkSlot& slot, std::shared_ptr<ISerial>& holder) : holder_(holder) { holder_ = slot.current(); }
        ~Lease() { holder_.reset(); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

    private:
        std::shared_ptr<ISerial>& holder_;
    };

private:
    mutable std::mutex lock_;
    std::shared_ptr<ISerial> link_;
};
