#include "download_commands.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "answer_decoder.h"
#include "output.h"
#include "platform/clock.h"
#include "script.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
constexpr char kSeparator = '\\';
#else
#include <unistd.h>
constexpr char kSeparator = '/';
#endif

namespace {

std::atomic<bool> interrupted{false};
std::atomic<bool> following{false};  // a download's progress is being followed

using output::say;

std::vector<char> cString(const std::string& text) {
    std::vector<char> s(text.begin(), text.end());
    s.push_back('\0');
    return s;
}

long long fileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

std::string clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// Percent, bytes per second and time left: a bar redrawn in place on a terminal, a line per
// 10 % otherwise.
class ProgressDisplay {
public:
    ProgressDisplay(const char* what, long long totalBytes)
        : what_(what),
          total_(totalBytes),
          terminal_(isatty(fileno(output::out())) != 0),
          startMs_(platform::tickCountMs()) {}

    void show(int percent) {
        const uint32_t now = platform::tickCountMs();
        if (percent > 0 && firstMs_ == 0) {
            firstMs_ = now;
            firstPercent_ = percent;
        }
        double rate = 0;
        double left = -1;
        if (firstMs_ != 0 && now > firstMs_ && total_ > 0 && percent > firstPercent_) {
            const double seconds = (now - firstMs_) / 1000.0;
            rate = total_ * (percent - firstPercent_) / 100.0 / seconds;
            left = rate > 0 ? total_ * (100 - percent) / 100.0 / rate : -1;
        } else if (percent >= 100 && now > startMs_ && total_ > 0) {
            // A small download can end before a second poll: its rate over the whole time.
            rate = total_ / ((now - startMs_) / 1000.0);
            left = 0;
        }
        if (terminal_) {
            char bar[21];
            for (int i = 0; i < 20; ++i) bar[i] = i < percent / 5 ? '#' : '.';
            bar[20] = '\0';
            say("\r%s [%s] %3d %%  %6.0f B/s  %s left   ", what_, bar, percent, rate,
                left < 0 ? "-:--" : clock(left).c_str());
            drawn_ = true;
        } else if (percent / 10 > lastTenth_) {
            lastTenth_ = percent / 10;
            say("%s: %d %% (%.0f B/s, %s left)\n", what_, percent, rate, left < 0 ? "-:--" : clock(left).c_str());
        }
    }
    void end() {
        if (drawn_) say("\n");
        drawn_ = false;
    }

private:
    const char* what_;
    long long total_;
    bool terminal_;
    uint32_t startMs_;
    bool drawn_ = false;
    int lastTenth_ = 0;
    uint32_t firstMs_ = 0;
    int firstPercent_ = 0;
};

// Polls a progress export until no download runs; kInterrupted or kTimedOut when stopped early.
int follow(DownloadHost& host, ConverterLibrary::ProgressFn progress, ProgressDisplay& display) {
    struct Following {
        Following() { following.store(true); }
        ~Following() { following.store(false); }
    } scope;
    const uint32_t start = platform::tickCountMs();
    for (;;) {
        uint8_t percent = 0;
        if (progress(&percent) != 0) break;
        display.show(percent);
        if (interrupted.load()) return kInterrupted;
        if (platform::tickCountMs() - start > static_cast<uint32_t>(host.timeoutSeconds * 1000)) return kTimedOut;
        platform::sleepMs(100);
    }
    display.end();
    return kOk;
}

// How the download ended: the converter is busy while it connects again after a download, and
// in its error state after a failed one, which the write-block answer reports as "failed".
int outcome(DownloadHost& host, const char* what) {
    bool timedOut = false;
    host.link.poll(HostLink::package(0xFA), timedOut);
    const Answer answer = host.link.poll(HostLink::package(0x0C), timedOut);
    if (timedOut) {
        say("%s: no answer within %.0f s after the download (converter still busy)\n", what, host.timeoutSeconds);
        return kTimedOut;
    }
    if (answer.state() != 1) return kRefused;
    return kOk;
}

}  // namespace

bool requestDownloadInterrupt() {
    if (!following.load()) return false;
    interrupted.store(true);
    return true;
}

int commandBuildBinary(DownloadHost& host, const std::string& folder, const std::string& name) {
    auto f = cString(folder);
    auto n = cString(name);
    if (host.library.ConvBuildBlockDownloadBinary(f.data(), n.data()) != 0) {
        say("build-binary: no binary built from %s (no \"...hex\" images there, or one could not be read)\n",
            folder.c_str());
        return kRefused;
    }
    const std::string path = folder + kSeparator + name;
    say("build-binary: %s written (%lld bytes)\n", path.c_str(), fileSize(path));
    return kOk;
}

int commandFirmware(DownloadHost& host, const std::string& imageOrFolder) {
    std::string image = imageOrFolder;
    if (isFolder(imageOrFolder)) {
        if (const int built = commandBuildBinary(host, imageOrFolder, "firmware.bin")) return built;
        image = imageOrFolder + kSeparator + "firmware.bin";
    }
    const long long size = fileSize(image);
    if (size <= 0) {
        say("firmware: %s: %s\n", image.c_str(), size < 0 ? "no such file" : "empty image");
        return kUsage;
    }
    if (const int connected = host.connect()) return connected;
    auto path = cString(image);
    if (host.library.ConvStartFirmwareDownload(path.data()) != 0) {
        say("firmware: the converter refused the download (image over 1 MiB, or a download still running)\n");
        return kRefused;
    }
    ProgressDisplay display("firmware", size);
    const int followed = follow(host, host.library.ConvGetFirmwareDownloadProgress, display);
    display.end();
    if (followed == kInterrupted) {
        say("firmware: interrupted; the session ends and the download with it. The machine may be left in its "
            "boot loader without a complete image: run the download again.\n");
        return kInterrupted;
    }
    if (followed == kTimedOut) {
        say("firmware: still running after %.0f s; the session ends and the download with it\n", host.timeoutSeconds);
        return kTimedOut;
    }
    const int result = outcome(host, "firmware");
    if (result == kOk) {
        uint8_t version[3] = {0, 0, 0};
        if (host.library.ConvGetSWRevision(sizeof version, version) == 0)
            say("firmware: %lld bytes flashed; the machine runs software %u.%02u.%02u\n", size, version[0], version[1],
                version[2]);
        else
            say("firmware: %lld bytes flashed\n", size);
    } else if (result == kRefused) {
        say("firmware: failed; the machine may be left in its boot loader: run the download again\n");
    }
    return result;
}

int commandCurve(DownloadHost& host, const std::string& address, const std::string& file) {
    char* end = nullptr;
    const long value = std::strtol(address.c_str(), &end, 0);
    if (address.empty() || *end != '\0' || value <= 0 || value > 0xFFFF) {
        say("curve: address %s is not a legacy address (1 to 0xFFFF)\n", address.c_str());
        return kUsage;
    }
    const long long size = fileSize(file);
    if (size < 0) {
        say("curve: %s: no such file\n", file.c_str());
        return kUsage;
    }
    if (const int connected = host.connect()) return connected;
    auto path = cString(file);
    if (host.library.ConvStartBlockDownloadFile(path.data(), static_cast<int32_t>(value)) != 0) {
        say("curve: the converter refused the block (no block at 0x%04lX for this machine, or a download running)\n",
            value);
        return kRefused;
    }
    ProgressDisplay display("curve", size);
    const int followed = follow(host, host.library.ConvGetBlockDownloadProgress, display);
    display.end();
    if (followed == kInterrupted) {
        say("curve: interrupted; the block is incomplete and the machine keeps its previous curve data\n");
        return kInterrupted;
    }
    if (followed == kTimedOut) return kTimedOut;
    const int result = outcome(host, "curve");
    if (result == kOk) say("curve: %lld bytes sent to 0x%04lX\n", size, value);
    if (result == kRefused) say("curve: failed; the machine keeps its previous curve data\n");
    return result;
}

void addDownloadCommands(CLI::App& app, std::function<DownloadHost()> host,
                         std::vector<std::function<int()>>& actions) {
    // Each subcommand's arguments, living as long as the chosen actions.
    auto image = std::make_shared<std::string>();
    auto* firmware = app.add_subcommand("firmware", "Flash a firmware image (a .hex file, or a folder of them)");
    firmware->add_option("image", *image, "Image file, or folder whose .hex images are joined first")->required();
    firmware->callback([host, &actions, image] {
        actions.push_back([host, image] {
            DownloadHost h = host();
            return commandFirmware(h, *image);
        });
    });
    auto block = std::make_shared<std::vector<std::string>>(2);
    auto* curve = app.add_subcommand("curve", "Send a file of curve data as block to a legacy address");
    curve->add_option("address", (*block)[0], "Legacy address, e.g. 0x5000")->required();
    curve->add_option("file", (*block)[1], "The block's bytes")->required();
    curve->callback([host, &actions, block] {
        actions.push_back([host, block] {
            DownloadHost h = host();
            return commandCurve(h, (*block)[0], (*block)[1]);
        });
    });
    auto binary = std::make_shared<std::vector<std::string>>(2);
    auto* build = app.add_subcommand("build-binary", "Join the .hex images of a folder, in name order, into one file");
    build->add_option("folder", (*binary)[0], "Folder of the images")->required();
    build->add_option("name", (*binary)[1], "Name of the binary, written into the folder")->required();
    build->callback([host, &actions, binary] {
        actions.push_back([host, binary] {
            DownloadHost h = host();
            return commandBuildBinary(h, (*binary)[0], (*binary)[1]);
        });
    });
}
