// machine-sim as a user runs it: a real process on a real pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "serial_link.h"

namespace msim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A scratch folder removed with everything in it.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string tmpl = ::testing::TempDir() + "/machine-sim-XXXXXX";
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The program as a child process; killed and reaped at the latest when the test ends.
class Twin {
public:
    explicit Twin(std::vector<std::string> args, const fs::path& stderrFile) {
        int out[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            const int err = ::open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(err, 2);
            std::vector<char*> argv;
            std::string bin = MACHINE_SIM_BIN;
            argv.push_back(bin.data());
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(bin.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~Twin() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    // The first line of standard output: the terminal's path.
    std::string firstLine(std::chrono::milliseconds limit = 5000ms) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char c;
            if (::read(out_, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }
    // Exit status after the signal, or -1 if the process did not end within the limit.
    int stop(int sig, std::chrono::milliseconds limit, std::chrono::milliseconds* took = nullptr) {
        const auto t0 = std::chrono::steady_clock::now();
        ::kill(pid_, sig);
        return wait(limit, t0, took);
    }
    int wait(std::chrono::milliseconds limit,
             std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now(),
             std::chrono::milliseconds* took = nullptr) {
        while (std::chrono::steady_clock::now() - t0 < limit) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                if (took)
                    *took =
                        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
};

// The host's end of the line, as the driver uses it: 16-byte frames both ways.
class Host {
public:
    explicit Host(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd_, 0) << path << ": " << std::strerror(errno);
    }
    ~Host() {
        if (fd_ >= 0) ::close(fd_);
    }
    void send(const CanFrame& f) {
        const SerialFrame s = encodeHostSendFrame(f);
        ASSERT_EQ(::write(fd_, s.data(), s.size()), 16);
    }
    void sendMany(const std::vector<CanFrame>& frames) {
        std::vector<uint8_t> all;
        for (const auto& f : frames) {
            const SerialFrame s = encodeHostSendFrame(f);
            all.insert(all.end(), s.begin(), s.end());
        }
        std::size_t done = 0;
        while (done < all.size()) {
            const ssize_t n = ::write(fd_, all.data() + done, all.size() - done);
            ASSERT_GT(n, 0);
            done += static_cast<std::size_t>(n);
        }
    }
    // Next frame from `id`, other frames (heartbeats) skipped.
    std::optional<CanFrame> receive(uint16_t id, std::chrono::milliseconds limit = 3000ms) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            while (buf_.size() >= 16) {
                CanFrame f;
                EXPECT_EQ(buf_[2], kKindAdapterReceive);
                f.id = static_cast<uint16_t>(buf_[3] << 8 | buf_[4]);
                f.len = buf_[6];
                std::memcpy(f.data.data(), &buf_[7], 8);
                buf_.erase(buf_.begin(), buf_.begin() + 16);
                if (f.id == id) return f;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t b[512];
            const ssize_t n = ::read(fd_, b, sizeof b);
            if (n > 0) buf_.insert(buf_.end(), b, b + n);
        }
        return std::nullopt;
    }

private:
    int fd_ = -1;
    std::vector<uint8_t> buf_;
};

CanFrame sdoReq(std::initializer_list<uint8_t> b) { return CanFrame::make(0x60A, b); }

TEST(Program, HelpShowsHowToUseIt) {
    TempDir dir;
    Twin twin({"--help"}, dir.path / "err");
    EXPECT_EQ(twin.wait(5000ms), 0);
}

TEST(Program, ServesTheHostSurvivesItsCloseAndStopsCleanlyOnSigterm) {
    TempDir dir;
    const fs::path link = dir.path / "ttyMACHINE";
    const fs::path record = dir.path / "record.json";
    const fs::path candump = dir.path / "bus.log";
    Twin twin({"-m", "crane", "--models-dir", MODELS_DIR, "--link", link.string(), "--record", record.string(),
               "--candump", candump.string(), "--out-dir", dir.path.string()},
              dir.path / "err");
    const std::string path = twin.firstLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path << slurp(dir.path / "err");
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), path);

    for (int session = 0; session < 2; ++session) {
        std::this_thread::sleep_for(100ms);  // let the twin see the previous host go
        Host host(link.string());
        host.send(CanFrame::make(0x000, {0x01, 0x0A}));
        host.send(sdoReq({0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
        auto answer = host.receive(0x58A);
        ASSERT_TRUE(answer) << "session " << session << "\n" << slurp(dir.path / "err");
        EXPECT_EQ(*answer, CanFrame::make(0x58A, {0x43, 0x18, 0x10, 0x02, 0x05, 0, 0, 0}));
    }
    std::this_thread::sleep_for(100ms);

    std::chrono::milliseconds took{};
    EXPECT_EQ(twin.stop(SIGTERM, 3000ms, &took), 0);
    EXPECT_LT(took, 1000ms);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    const auto j = nlohmann::json::parse(slurp(record));
    EXPECT_EQ(j["node_id"], 10);
    EXPECT_EQ(j["pty"], path);
    ASSERT_EQ(j["sdo"].size(), 2u);
    EXPECT_EQ(j["sdo"][0]["op"], "read");
    EXPECT_EQ(j["sdo"][0]["index"], 0x1018);
    EXPECT_EQ(j["sdo"][0]["data"], "05000000");
    EXPECT_GE(j["link"]["host_opened"].get<int>(), 2);
    EXPECT_EQ(j["objects"]["5600:01"]["value"], 0);
    EXPECT_EQ(j["objects"]["1018:02"]["value"], 5);
    const std::string log = slurp(candump);
    EXPECT_NE(log.find(" can0 60A#4018100200000000\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" can0 58A#4318100205000000\n"), std::string::npos) << log;
}

TEST(Program, SigintEndsItAtOnceEvenWithAHostAttached) {
    TempDir dir;
    const fs::path link = dir.path / "tty";
    Twin twin({"--models-dir", MODELS_DIR, "-l", link.string()}, dir.path / "err");
    const std::string path = twin.firstLine();
    ASSERT_FALSE(path.empty());
    Host host(path);
    host.send(CanFrame::make(0x000, {0x01, 0x0A}));
    std::chrono::milliseconds took{};
    EXPECT_EQ(twin.stop(SIGINT, 3000ms, &took), 0);
    EXPECT_LT(took, 1000ms);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(Program, MalformedEdsFailsNamingFileAndLine) {
    TempDir dir;
    const fs::path eds = dir.path / "broken.eds";
    std::ofstream(eds) << "[1000]\nParameterName=Device type\nDataType=0x0007\nAccessType=ro\nDefaultValue=0xZZ\n";
    Twin twin({"--eds", eds.string()}, dir.path / "err");
    EXPECT_EQ(twin.wait(5000ms), 1);
    const std::string err = slurp(dir.path / "err");
    EXPECT_NE(err.find(eds.string() + ":5: DefaultValue \"0xZZ\" is not a number"), std::string::npos) << err;
}

TEST(Program, ALinkPathHoldingARealFileIsLeftAlone) {
    TempDir dir;
    const fs::path file = dir.path / "precious";
    std::ofstream(file) << "keep me";
    Twin twin({"--models-dir", MODELS_DIR, "--link", file.string()}, dir.path / "err");
    EXPECT_EQ(twin.wait(5000ms), 1);
    EXPECT_EQ(slurp(file), "keep me");
}

long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(in)), {});
    const auto close = s.rfind(')');
    std::istringstream rest(s.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

TEST(Program, IdleCostsNoCpuWithOrWithoutAHost) {
    TempDir dir;
    Twin twin({"--models-dir", MODELS_DIR}, dir.path / "err");
    const std::string path = twin.firstLine();
    ASSERT_FALSE(path.empty());
    std::this_thread::sleep_for(300ms);
    long before = cpuTicks(twin.pid());
    std::this_thread::sleep_for(1000ms);  // no host: waiting for one to open the line
    EXPECT_LE(cpuTicks(twin.pid()) - before, 3);
    Host host(path);
    std::this_thread::sleep_for(300ms);
    before = cpuTicks(twin.pid());
    std::this_thread::sleep_for(1000ms);  // host attached, only heartbeats flow
    EXPECT_LE(cpuTicks(twin.pid()) - before, 3);
    EXPECT_EQ(twin.stop(SIGTERM, 3000ms), 0);
}

// A block download over the real line, returning how long it took.
std::chrono::duration<double> timedBlockDownload(Host& host, std::size_t size, std::size_t& hostFrames) {
    host.send(sdoReq({0x2F, 0x51, 0x1F, 0x01, 0x03, 0, 0, 0}));
    EXPECT_TRUE(host.receive(0x58A));
    std::this_thread::sleep_for(50ms);  // erase time
    const auto t0 = std::chrono::steady_clock::now();
    host.send(sdoReq({0xC2, 0x50, 0x1F, 0x01, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                      static_cast<uint8_t>(size >> 16), 0}));
    hostFrames = 1;
    auto init = host.receive(0x58A);
    EXPECT_TRUE(init);
    if (!init) return {};
    uint8_t blk = init->data[4];
    std::size_t pos = 0;
    while (pos < size) {
        std::vector<CanFrame> frames;
        uint8_t seq = 0;
        for (std::size_t at = pos; at < size && seq < blk; at += 7) {
            CanFrame f;
            f.id = 0x60A;
            f.len = 8;
            ++seq;
            f.data[0] = static_cast<uint8_t>((at + 7 >= size ? 0x80 : 0) | seq);
            frames.push_back(f);
        }
        host.sendMany(frames);
        hostFrames += frames.size();
        auto ack = host.receive(0x58A, 10000ms);
        EXPECT_TRUE(ack);
        if (!ack) return {};
        EXPECT_EQ(ack->data[1], seq);
        pos += 7u * ack->data[1];
        blk = ack->data[2];
    }
    host.send(sdoReq({static_cast<uint8_t>(0xC1 | ((7 - size % 7) % 7) << 2), 0, 0, 0, 0, 0, 0, 0}));
    ++hostFrames;
    auto end = host.receive(0x58A);
    EXPECT_TRUE(end);
    if (end) {
        EXPECT_EQ(end->data[0], 0xA1);
    }
    return std::chrono::steady_clock::now() - t0;
}

// Upper bound of the real time a paced transfer may take, as a multiple of its line time: a
// loaded machine stretches it by half and more, pacing per byte instead of per frame by 16.
constexpr double kPacingSlack = 3.0;

TEST(Program, LineTimingAt38400TakesTheLineTime) {
    TempDir dir;
    Twin twin({"--models-dir", MODELS_DIR, "--line-timing", "--erase-ms", "0", "--out-dir", dir.path.string(), "-q"},
              dir.path / "err");
    Host host(twin.firstLine());
    std::size_t frames = 0;
    const auto took = timedBlockDownload(host, 2048, frames);
    const double line = frames * 16 * 10 / 38400.0;
    EXPECT_GE(took.count(), line);
    // The exact pacing is pinned on the fake clock (Adapter tests); here a busy machine may add
    // any delay, so only pacing far off the line (per byte, say) is caught.
    EXPECT_LE(took.count(), line * kPacingSlack + 2.0);
    EXPECT_EQ(twin.stop(SIGTERM, 3000ms), 0);
}

TEST(Program, LineTiming64KiBBlockDownloadAtTenfoldRate) {
    // The same pacing as at 38400 bit/s, ten times faster so that the test stays short;
    // the fake-clock test of the adapter covers 64 KiB at the real rate.
    TempDir dir;
    Twin twin({"--models-dir", MODELS_DIR, "--line-timing", "--baud", "384000", "--erase-ms", "0", "--out-dir",
               dir.path.string(), "-q"},
              dir.path / "err");
    Host host(twin.firstLine());
    std::size_t frames = 0;
    const auto took = timedBlockDownload(host, 64 * 1024, frames);
    const double line = frames * 16 * 10 / 384000.0;
    EXPECT_GE(took.count(), line);
    EXPECT_LE(took.count(), line * kPacingSlack + 2.0);
    EXPECT_EQ(fs::file_size(dir.path / "firmware-node10.bin"), 64u * 1024u);
    EXPECT_EQ(twin.stop(SIGTERM, 3000ms), 0);
}

}  // namespace
}  // namespace msim
