#include "machine_sim_process.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#endif

namespace orbeltest {

std::string MachineSimProcess::binDir() { return ORBEL_BIN_DIR; }

#if defined(_WIN32)

MachineSimProcess::~MachineSimProcess() = default;
bool MachineSimProcess::start(const std::vector<std::string>&, std::string& error, const std::string&) {
    error = "machine-sim runs on POSIX systems only";
    return false;
}
int MachineSimProcess::stop() { return -1; }
void MachineSimProcess::serveCom1() const {}

#else

MachineSimProcess::~MachineSimProcess() { stop(); }

bool MachineSimProcess::start(const std::vector<std::string>& args, std::string& error, const std::string& stderrPath) {
    int out[2];
    if (pipe(out) != 0) {
        error = "pipe failed";
        return false;
    }
    const std::string program = binDir() + "/machine-sim";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        error = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        // A test killed before it could stop the twin (a signal, a broken pipe) takes it along.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        dup2(out[1], STDOUT_FILENO);
        if (!stderrPath.empty()) {
            const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) dup2(err, STDERR_FILENO);
        }
        close(out[0]);
        close(out[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    // The first line on its standard output is the terminal's path.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[256];
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    const auto newline = line.find('\n');
    if (newline == std::string::npos) {
        error = "machine-sim did not name its terminal (" + program + ")";
        stop();
        return false;
    }
    ptyPath_ = line.substr(0, newline);
    return true;
}

void MachineSimProcess::serveCom1() const {
    setenv("SERICAN_COM1", ptyPath_.c_str(), 1);
    setenv("ORBEL_CAN_DRIVER", canDriverPath().c_str(), 1);
}

int MachineSimProcess::stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
}

#endif

}  // namespace orbeltest
