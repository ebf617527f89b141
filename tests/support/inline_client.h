#pragma once
// A fake client that completes each request inside its start call, as a real client does for
// CloseConnection and for StartConnection on a connection that is already up, and as a fast
// machine's answer on a stack thread can: the completion runs before the caller gets the start
// result back. Element reads deliver 100 plus the sub-index, so a value stored for the wrong
// request shows.
#include <cstring>
#include <type_traits>

#include "fake_client.h"

namespace orbeltest {

class InlineClient : public FakeClient {
public:
    bool inlineCompletion = true;
    // What ReadMachineType delivers.
    MachineTypeRecord machineTypeRecord{1, 5, 0};

#define ORBEL_INLINE_ELEMENT(op, type)                                    \
    int op(unsigned char sub, type* value, ElementCallback cb) override { \
        const int r = FakeClient::op(sub, value, cb);                     \
        if (r == 0 && inlineCompletion) {                                 \
            *value = static_cast<type>(100 + sub);                        \
            cb(0, typeCode<type>(), sub, value);                          \
        }                                                                 \
        return r;                                                         \
    }
#define ORBEL_INLINE_ALL_TYPES(op)     \
    ORBEL_INLINE_ELEMENT(op, uint8_t)  \
    ORBEL_INLINE_ELEMENT(op, uint16_t) \
    ORBEL_INLINE_ELEMENT(op, uint32_t) \
    ORBEL_INLINE_ELEMENT(op, int8_t)   \
    ORBEL_INLINE_ELEMENT(op, int16_t)  \
    ORBEL_INLINE_ELEMENT(op, int32_t)  \
    ORBEL_INLINE_ELEMENT(op, float)
    ORBEL_INLINE_ALL_TYPES(ReadInput)
    ORBEL_INLINE_ALL_TYPES(ReadMeasurement)
    ORBEL_INLINE_ELEMENT(ReadMachineParameter, uint8_t)
    ORBEL_INLINE_ELEMENT(ReadMachineParameter, uint16_t)
    ORBEL_INLINE_ELEMENT(WriteMachineParameter, uint8_t)
    ORBEL_INLINE_ELEMENT(ReadOpHoursCounter, uint32_t)
    ORBEL_INLINE_ELEMENT(WriteOpHoursCounter, uint32_t)
    ORBEL_INLINE_ELEMENT(WriteOutput, uint8_t)
#undef ORBEL_INLINE_ALL_TYPES
#undef ORBEL_INLINE_ELEMENT

    int StartConnection(unsigned char tcu, unsigned char sm, int timeoutMs, ConnectionCallback cb) override {
        const int r = FakeClient::StartConnection(tcu, sm, timeoutMs, cb);
        if (r == 0 && inlineCompletion) cb(0);
        return r;
    }
    int CloseConnection(ConnectionCallback cb) override {
        const int r = FakeClient::CloseConnection(cb);
        if (r == 0 && inlineCompletion) cb(0);
        return r;
    }
#define ORBEL_INLINE_MODE(op)                               \
    int op(uint32_t* value, ElementCallback cb) override {  \
        const int r = FakeClient::op(value, cb);            \
        if (r == 0 && inlineCompletion) cb(0, 3, 1, value); \
        return r;                                           \
    }
    ORBEL_INLINE_MODE(ReadMachineMode)
    ORBEL_INLINE_MODE(ReadModuleMode)
    ORBEL_INLINE_MODE(WriteMachineMode)
    ORBEL_INLINE_MODE(WriteModuleMode)
#undef ORBEL_INLINE_MODE
    int ReadSwVersion(unsigned char* record, DomainCallback cb) override {
        const int r = FakeClient::ReadSwVersion(record, cb);
        if (r == 0 && inlineCompletion) {
            const unsigned char version[3] = {3, 2, 1};  // patch, minor, major
            std::memcpy(record, version, 3);
            cb(0, 8, 1, record, 3);
        }
        return r;
    }
    int ReadMachineType(MachineTypeRecord* record, DomainCallback cb) override {
        const int r = FakeClient::ReadMachineType(record, cb);
        if (r == 0 && inlineCompletion) {
            *record = machineTypeRecord;
            cb(0, 8, 1, record, sizeof *record);
        }
        return r;
    }
#define ORBEL_INLINE_NUMBER(op, text)                           \
    int op(unsigned char* record, DomainCallback cb) override { \
        const int r = FakeClient::op(record, cb);               \
        if (r == 0 && inlineCompletion) {                       \
            std::memcpy(record, text, 13);                      \
            cb(0, 8, 1, record, 13);                            \
        }                                                       \
        return r;                                               \
    }
    ORBEL_INLINE_NUMBER(ReadSNNumber, "SERIAL-NUMBER")
    ORBEL_INLINE_NUMBER(ReadMaterialNumber, "MATERIAL-NR-1")
#undef ORBEL_INLINE_NUMBER

private:
    template <typename T>
    static int typeCode() {
        if (std::is_same<T, uint8_t>::value) return 1;
        if (std::is_same<T, uint16_t>::value) return 2;
        if (std::is_same<T, uint32_t>::value) return 3;
        if (std::is_same<T, int8_t>::value) return 4;
        if (std::is_same<T, int16_t>::value) return 5;
        if (std::is_same<T, int32_t>::value) return 6;
        return 7;
    }
};

}  // namespace orbeltest
