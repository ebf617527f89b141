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

    // Starts machine-sim with the given arguments and waits for it to name its terminal. Its
    // standard error goes to `stderrPath` when one is given.
    bool start(const std::vector<std::string>& args, std::string& error, const std::string& stderrPath = "");
    // Ends it (SIGTERM, then SIGKILL after 3 s); its exit status, or -1 when it had to be killed
    // or was not running.
    int stop();
    const std::string& ptyPath() const { return ptyPath_; }
    int pid() const { return pid_; }
    // Points serican's COM1 and the converter's CAN driver at this machine-sim, through this
    // process's environment: the converter reads it when it opens its connection.
    void serveCom1() const;

    // Folder of the build's programs and libraries.
    static std::string binDir();
    // The serial CAN driver that reaches machine-sim.
    static std::string canDriverPath() { return binDir() + "/libserican.so"; }

private:
    int pid_ = -1;
    std::string ptyPath_;
};

}  // namespace orbeltest
