#pragma once
// Runs machine-sim as a child process for end-to-end tests: started on a fresh pty, stopped
// (SIGTERM, then SIGKILL) when the object goes away, so no test leaves it behind.
#include <string>
#include <vector>

namespace orbeltest {

class MachineSimProcess {
public:
    MachineSimProcess() = default;
    ~MachineSimProcess();
    MachineSimProcess(const MachineSimProcess&) = delete;
    MachineSimProcess& operator=(const MachineSimProcess&) = delete;

    // Starts machine-sim with the given arguments and waits for it to name its terminal.
    bool start(const std::vector<std::string>& args, std::string& error);
    void stop();
    const std::string& ptyPath() const { return ptyPath_; }
    int pid() const { return pid_; }

    // Folder of the build's programs and libraries.
    static std::string binDir();

private:
    int pid_ = -1;
    std::string ptyPath_;
};

}  // namespace orbeltest
