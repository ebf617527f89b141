#pragma once
// Domain types 1..11: the fixed layouts between a caller's record (host layout) and the
// little-endian bytes on the bus. Type 0 and types above 11 move the caller's bytes as they are.
#include <cstdint>

namespace CommDiag {

// Domain types; each names the object it serves.
enum DomainType : int {
    DOMAIN_RAW = 0,  // the caller's bytes as they are
    DOMAIN_OBJECT5402 = 1,
    DOMAIN_SW_VERSION = 2,
    DOMAIN_OBJECT5403 = 3,
    DOMAIN_MACHINE_TYPE = 4,
    DOMAIN_OBJECT5400 = 5,
    DOMAIN_SERIAL_NUMBER = 6,
    DOMAIN_MATERIAL_NUMBER = 7,
    DOMAIN_ERROR_BUFFER_ENTRY = 8,
    DOMAIN_BLOCK_CONTROL = 9,
    DOMAIN_REVISION_NUMBER = 10,  // read only
    DOMAIN_OBJECT5410 = 11,
};

struct DomainLayout {
    uint32_t wireSize;
    uint32_t recordSize;
};

constexpr uint32_t kMaxDomainWireSize = 60;

// False for types without a conversion.
bool domainLayout(int domainType, DomainLayout* layout);
// record holds recordSize bytes, wire wireSize bytes of the type's layout; no-ops for types
// without a conversion.
void packDomain(int domainType, const uint8_t* record, uint8_t* wire);
void unpackDomain(int domainType, const uint8_t* wire, uint8_t* record);

}  // namespace CommDiag
