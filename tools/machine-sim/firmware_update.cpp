#include "firmware_update.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace msim {

bool saveFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data, std::string& pathOut,
              std::string& error) {
    pathOut = (dir.empty() ? std::string(".") : dir) + "/" + name;
    std::ofstream out(pathOut, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot create " + pathOut + ": " + std::strerror(errno);
        return false;
    }
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out.flush()) {
        error = "cannot write " + pathOut;
        return false;
    }
    return true;
}

namespace {
constexpr uint16_t kUpdateControl = 0x5406;
constexpr uint16_t kProgramData = 0x1F50;
constexpr uint16_t kProgramControl = 0x1F51;
constexpr uint16_t kFlashStatus = 0x1F57;
}  // namespace

void FirmwareUpdate::setFlashStatus(uint32_t v) {
    if (OdEntry* e = node_.od().entry(kFlashStatus, 1))
        e->value = encodeUnsigned(v, fixedSize(e->type) ? fixedSize(e->type) : 4);
}

uint32_t FirmwareUpdate::flashStatus() const {
    const OdEntry* e = node_.od().entry(kFlashStatus, 1);
    return e ? static_cast<uint32_t>(e->asUnsigned()) : kFlashErased;
}

uint32_t FirmwareUpdate::checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t>) {
    // Refuse an image before the transfer starts rather than after a megabyte has moved.
    if (index == kProgramData && sub == 1 && flashStatus() != kFlashErased) return abort_code::kDeviceState;
    return 0;
}

uint32_t FirmwareUpdate::beforeWrite(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data) {
    if (index == kProgramControl && sub == 1 && !data.empty()) {
        switch (data[0]) {
            case 0:  // stop program
            case 1:  // start program
            case 3:  // erase flash
                return 0;
            default: return abort_code::kValueRange;
        }
    }
    if (index == kProgramData && sub == 1) {
        if (flashStatus() != kFlashErased) return abort_code::kDeviceState;
        char name[40];
        std::snprintf(name, sizeof name, "firmware-node%u.bin", node_.nodeId());
        std::string path, error;
        if (!saveFile(node_.outDir(), name, data, path, error)) {
            node_.log().warn("firmware image not saved: %s", error.c_str());
            node_.record().addEvent(node_.now(), "error", "firmware image not saved: " + error);
            return abort_code::kCannotStore;
        }
        node_.log().info("firmware image of %zu bytes saved to %s", data.size(), path.c_str());
        node_.record().addEvent(node_.now(), "file", "firmware " + path + " " + std::to_string(data.size()));
    }
    return 0;
}

void FirmwareUpdate::afterWrite(uint16_t index, uint8_t sub) {
    ObjectDictionary& od = node_.od();
    if (index == kUpdateControl && sub == 2) {
        const OdEntry* flag = od.entry(kUpdateControl, 1);
        const bool update = flag && flag->asUnsigned() != 0;
        if (update) node_.bootIntoLoader(true);
        node_.requestReboot(update ? "restart command with the update flag set" : "restart command");
    } else if (index == kUpdateControl && sub == 1) {
        node_.record().addEvent(node_.now(), "firmware",
                                "update flag " + std::to_string(od.entry(index, sub)->asUnsigned()));
    } else if (index == kProgramControl && sub == 1) {
        const uint64_t cmd = od.entry(index, sub)->asUnsigned();
        if (cmd == 3) {
            setFlashStatus(kFlashBusy);
            node_.bootIntoLoader(true);  // the application is gone until a whole image arrives
            eraseDone_ = node_.now() + eraseTime_;
            node_.log().info("erasing flash (%lld ms)", static_cast<long long>(eraseTime_.count()));
            node_.record().addEvent(node_.now(), "firmware", "erase started");
        } else if (cmd == 1) {
            node_.requestReboot("program start command");
        }
    } else if (index == kProgramData && sub == 1) {
        // The image lives in the saved file; the dictionary keeps no megabyte copy.
        if (OdEntry* e = od.entry(index, sub)) {
            e->value.clear();
            e->value.shrink_to_fit();
        }
        setFlashStatus(kFlashProgrammed);
        if (OdEntry* flag = od.entry(kUpdateControl, 1)) flag->value = encodeUnsigned(0, flag->value.size());
        node_.bootIntoLoader(false);
        for (const FlashedValue& v : flashed_) {
            OdEntry* e = od.entry(v.index, v.sub);
            if (e && e->value.size() == v.bytes.size())
                e->value = v.bytes;
            else
                node_.log().warn("flashed value for 0x%04X:%u not taken: no such object of %zu bytes", v.index, v.sub,
                                 v.bytes.size());
        }
        node_.record().addEvent(node_.now(), "firmware", "image programmed");
    }
}

void FirmwareUpdate::advance(Time now) {
    if (eraseDone_ && now >= *eraseDone_) {
        eraseDone_.reset();
        setFlashStatus(kFlashErased);
        node_.log().info("flash erased");
        node_.record().addEvent(now, "firmware", "erase completed");
    }
}

void FirmwareUpdate::onReboot() {
    if (eraseDone_) {
        eraseDone_.reset();
        node_.record().addEvent(node_.now(), "firmware", "erase interrupted by a restart");
    }
}

}  // namespace msim
