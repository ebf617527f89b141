#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A serial (COM) port in raw mode: 8 data bits, no parity, one stop bit, no flow control, no
// character translation. Reads wait with poll or overlapped I/O, never by spinning.
//
// Threads: one thread may read while another writes; interrupt() may come from any thread.
// open() and close() must not overlap a read or a write.
class SerialPort {
public:
    enum class ReadStatus {
        Data,         // count bytes were read
        Timeout,      // nothing arrived within the time-out
        Interrupted,  // interrupt() was called
        Failed,       // the port broke (hang-up, device gone) or is not open
    };
    struct ReadResult {
        ReadStatus status;
        std::size_t count;
    };

    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The device that COM<comNumber> names here. On Windows "\\.\COM<n>"; elsewhere the value of
    // the environment variable SERICAN_COM<n> if it is set and not empty, else /dev/ttyS<n-1>.
    // Empty for COM0, which does not exist.
    static std::string deviceName(unsigned comNumber);

    // Opens COM<comNumber> exclusively at the given bit rate and discards whatever either direction
    // still held. Succeeds at once when already open. False when the device cannot be opened or
    // does not support the bit rate.
    bool open(unsigned comNumber, uint32_t bitsPerSecond);
    bool isOpen() const;

    // Writes count bytes, waiting at most timeoutMs for the line to take them; returns how many it took.
    std::size_t write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs);

    // Returns what has arrived, up to capacity bytes, waiting at most timeoutMs (kInfinite: until
    // data arrives, the port breaks or interrupt() is called) when nothing is there yet.
    ReadResult read(uint8_t* into, std::size_t capacity, uint32_t timeoutMs);

    // Ends a read in progress; every later read returns Interrupted until the port is closed.
    void interrupt();

    // Aborts what is still pending, discards unread input and closes the device. Bytes whose write
    // has completed are the line's: a frame written just before closing still goes out.
    void close();

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace platform
