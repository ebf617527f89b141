// Runs any text as an orbelctl script against stand-in subcommands: "send" parses its hex bytes
// as the real one does, the others succeed or fail as the input's first byte says. The script
// must end in an exit status of its own, with no crash, hang or stray exception, and must stop
// at the first subcommand that fails.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "answer_decoder.h"
#include "script.h"

namespace {

class StandIn : public Commands {
public:
    explicit StandIn(uint8_t outcomes) : outcomes_(outcomes) {}

    int send(const std::vector<std::string>& hexWords) override {
        std::vector<uint8_t> package;
        std::string error;
        const bool parsed = answer_decoder::parseHex(hexWords, package, error);
        if (parsed ? !error.empty() || package.empty() : error.empty()) std::abort();
        return ran(parsed ? kOk : kUsage);
    }
    int status() override { return ran(next()); }
    int connect() override { return ran(next()); }
    int identify() override { return ran(next()); }

    int last = kOk;
    int calls = 0;

private:
    int next() const { return (outcomes_ >> (calls % 8)) & 1 ? kRefused : kOk; }
    int ran(int result) {
        if (last != kOk) std::abort();  // the script went on after a failed subcommand
        ++calls;
        last = result;
        return result;
    }
    uint8_t outcomes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static std::FILE* const discard = std::fopen("/dev/null", "w");
    if (size == 0 || discard == nullptr) return 0;
    StandIn commands(data[0]);
    std::istringstream script(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    const int status = runScript(script, "fuzz.script", commands, discard);
    if (status != kOk && status != kUsage && status != kRefused) std::abort();
    if (status == kRefused && commands.last != kRefused) std::abort();
    return 0;
}
