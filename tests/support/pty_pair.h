#pragma once
// A pseudo-terminal pair for tests of serial-line code (POSIX only). The code under test opens
// slavePath() as its serial device; the test plays the far end of the line on the master side.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class PtyPair {
public:
    // Throws std::runtime_error when the system has no pseudo-terminals to give.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    // The test's own descriptor of the slave side, opened raw. It keeps the line up while the code
    // under test opens and closes the device, and lets the test read the line settings and the
    // input queue.
    int slaveFd() const { return slave_; }

    // Sends bytes towards the slave side, as a device would.
    void write(const std::vector<uint8_t>& bytes);
    // Up to count bytes that the slave side wrote, waiting at most timeout for all of them.
    std::vector<uint8_t> read(std::size_t count, std::chrono::milliseconds timeout);
    // Bytes written towards the slave side that nobody there has read yet.
    std::size_t unreadBySlave() const;
    // Waits until the slave side's input queue holds at least count bytes (count 0: until it is
    // empty, that is, the code under test has read everything). False on time-out.
    bool waitForSlaveQueue(std::size_t count, std::chrono::milliseconds timeout) const;
    // Hangs the line up under the code under test, as when a device goes away.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace testsupport
