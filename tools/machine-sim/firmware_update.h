#pragma once
#include <vector>

#include "machine_node.h"
#include "object_behaviour.h"

namespace msim {

// The firmware update objects: 0x5406 (sub 1 update flag, sub 2 restart), 0x1F51 program
// control (3 erases the flash), 0x1F57 flash status (1 busy while erasing, then 2) and
// 0x1F50 program data, whose image is saved to "firmware-node<id>.bin" in the output folder.
// The flashed values are what the new image reports (its software version, its machine type).
class FirmwareUpdate : public ObjectBehaviour {
public:
    FirmwareUpdate(NodeControl& node, Millis eraseTime, std::vector<FlashedValue> flashed)
        : node_(node), eraseTime_(eraseTime), flashed_(std::move(flashed)) {}

    uint32_t checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) override;
    uint32_t beforeWrite(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) override;
    void afterWrite(uint16_t index, uint8_t sub) override;
    std::optional<Time> nextDeadline() const override { return eraseDone_; }
    void advance(Time now) override;
    void onReboot() override;

    static constexpr uint32_t kFlashBusy = 1;
    static constexpr uint32_t kFlashErased = 2;
    static constexpr uint32_t kFlashProgrammed = 0;

private:
    void setFlashStatus(uint32_t v);
    uint32_t flashStatus() const;

    NodeControl& node_;
    Millis eraseTime_;
    std::vector<FlashedValue> flashed_;
    std::optional<Time> eraseDone_;
};

}  // namespace msim
