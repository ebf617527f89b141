#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace serican {

// Admits the driver's calls until the adapter closes and lets the closing thread wait until the
// calls already inside have left, so that the driver object is never freed under a caller.
class CallGate {
public:
    // Held for the length of one call; false when the gate is closed.
    class Pass {
    public:
        explicit Pass(CallGate& gate) : gate_(gate), admitted_(gate.enter()) {}
        ~Pass() {
            if (admitted_) gate_.leave();
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        explicit operator bool() const { return admitted_; }

    private:
        CallGate& gate_;
        bool admitted_;
    };

    // Refuses new calls from now on and wakes calls that sleep in sleepUnlessClosed(). True for
    // the call that closed the gate, false when it was closed already.
    bool close();
    bool closed() const;
    // True once no call is inside; false if calls were still inside after timeoutMs.
    bool waitUntilIdle(uint32_t timeoutMs);
    // Waits timeoutMs, or less when the gate closes meanwhile.
    void sleepUnlessClosed(uint32_t timeoutMs);

private:
    bool enter();
    void leave();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int inside_ = 0;
    bool closed_ = false;
};

}  // namespace serican
