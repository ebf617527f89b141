#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace msim {

// CiA 301 data type codes the twin understands.
enum class DataType : uint16_t {
    Boolean = 0x0001,
    Integer8 = 0x0002,
    Integer16 = 0x0003,
    Integer32 = 0x0004,
    Unsigned8 = 0x0005,
    Unsigned16 = 0x0006,
    Unsigned32 = 0x0007,
    Real32 = 0x0008,
    VisibleString = 0x0009,
    OctetString = 0x000A,
    UnicodeString = 0x000B,
    Domain = 0x000F,
    Real64 = 0x0011,
    Integer64 = 0x0015,
    Unsigned64 = 0x001B,
};

enum class Access { ReadOnly, WriteOnly, ReadWrite, Const };

// CiA 301 abort codes the server raises.
namespace abort_code {
constexpr uint32_t kToggle = 0x05030000;
constexpr uint32_t kTimeout = 0x05040000;
constexpr uint32_t kCommand = 0x05040001;
constexpr uint32_t kBlockSize = 0x05040002;
constexpr uint32_t kSequence = 0x05040003;
constexpr uint32_t kCrc = 0x05040004;
constexpr uint32_t kOutOfMemory = 0x05040005;
constexpr uint32_t kUnsupportedAccess = 0x06010000;
constexpr uint32_t kWriteOnly = 0x06010001;
constexpr uint32_t kReadOnly = 0x06010002;
constexpr uint32_t kNoObject = 0x06020000;
constexpr uint32_t kLength = 0x06070010;
constexpr uint32_t kNoSubIndex = 0x06090011;
constexpr uint32_t kValueRange = 0x06090030;
constexpr uint32_t kValueTooHigh = 0x06090031;
constexpr uint32_t kValueTooLow = 0x06090032;
constexpr uint32_t kGeneral = 0x08000000;
constexpr uint32_t kCannotStore = 0x08000020;
constexpr uint32_t kLocalControl = 0x08000021;
constexpr uint32_t kDeviceState = 0x08000022;
}  // namespace abort_code

// Byte size of a value of a fixed-size type; 0 for strings and domains.
std::size_t fixedSize(DataType t);
bool isNumeric(DataType t);
const char* dataTypeName(DataType t);
std::optional<DataType> dataTypeFromCode(unsigned code);

// A numeric value decoded from its little-endian bytes; long double holds every 64-bit
// integer exactly on the platforms the twin runs on.
long double decodeNumber(DataType t, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> encodeUnsigned(uint64_t v, std::size_t size);

struct OdEntry {
    uint16_t index = 0;
    uint8_t sub = 0;
    std::string name;
    DataType type = DataType::Unsigned8;
    Access access = Access::ReadWrite;
    std::vector<uint8_t> value;
    std::vector<uint8_t> initial;  // the value at power-on
    std::optional<long double> low, high;

    bool readable() const { return access != Access::WriteOnly; }
    bool writable() const { return access == Access::WriteOnly || access == Access::ReadWrite; }
    uint64_t asUnsigned() const;
};

struct OdObject {
    uint16_t index = 0;
    std::string name;
    uint8_t objectType = 0x7;  // 7 VAR, 8 ARRAY, 9 RECORD
    std::map<uint8_t, OdEntry> subs;
};

class ObjectDictionary {
public:
    OdObject& addObject(uint16_t index, std::string name, uint8_t objectType);
    void addEntry(OdEntry entry);
    // Removes one sub-index (a list entry that no longer exists); false if there was none.
    bool removeEntry(uint16_t index, uint8_t sub);

    const OdObject* object(uint16_t index) const;
    OdEntry* entry(uint16_t index, uint8_t sub);
    const OdEntry* entry(uint16_t index, uint8_t sub) const;
    const std::map<uint16_t, OdObject>& objects() const { return objects_; }

    // Access checks of an SDO server, as abort codes (0: allowed). `size` is known for an
    // expedited write, a size-indicating initiate and at the end of every download.
    uint32_t checkRead(uint16_t index, uint8_t sub) const;
    uint32_t checkWrite(uint16_t index, uint8_t sub, std::optional<std::size_t> size) const;
    // Stores a value after checkWrite and the limits; returns an abort code or 0.
    uint32_t write(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data);

    // Sets every entry whose index lies in [first, last] back to its power-on value.
    void resetRange(uint16_t first, uint16_t last);

    // Largest domain or string a write may carry.
    void setMaxVariableSize(std::size_t n) { maxVariable_ = n; }

private:
    std::map<uint16_t, OdObject> objects_;
    std::size_t maxVariable_ = 16u << 20;
};

}  // namespace msim
