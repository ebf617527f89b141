#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log.h"
#include "object_dictionary.h"
#include "sim_record.h"
#include "sim_time.h"

namespace msim {

// What a behaviour may ask of the node it lives in.
class NodeControl {
public:
    virtual ~NodeControl() = default;
    virtual ObjectDictionary& od() = 0;
    virtual SimRecord& record() = 0;
    virtual Log& log() = 0;
    virtual Time now() const = 0;
    virtual uint8_t nodeId() const = 0;
    virtual const std::string& outDir() const = 0;
    // Restarts the machine once the current SDO answer is out.
    virtual void requestReboot(const std::string& why) = 0;
    // What the machine runs after its next restart: its boot loader (only the update objects,
    // never Operational) or its application.
    virtual void bootIntoLoader(bool loader) = 0;
};

// A piece of machine logic behind some objects: it may refuse a write with an abort code,
// act on a stored value and run timed work of its own.
class ObjectBehaviour {
public:
    virtual ~ObjectBehaviour() = default;
    virtual uint32_t checkWrite(uint16_t /*index*/, uint8_t /*sub*/, std::optional<std::size_t> /*size*/) { return 0; }
    virtual uint32_t beforeWrite(uint16_t /*index*/, uint8_t /*sub*/, const std::vector<uint8_t>& /*data*/) {
        return 0;
    }
    virtual void afterWrite(uint16_t /*index*/, uint8_t /*sub*/) {}
    virtual std::optional<Time> nextDeadline() const { return std::nullopt; }
    virtual void advance(Time /*now*/) {}
    virtual void onReboot() {}
};

// Writes `data` to `dir`/`name`; false with a message when the file cannot be written.
bool saveFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data, std::string& pathOut,
              std::string& error);

}  // namespace msim
