// Local access to the node's dictionary: lookup, access, size and range checks, write hooks.
#include "canopen/object_dictionary.h"
#include "canopen/abort_codes.h"
#include "canopen/node_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

using namespace canopen;

class ObjectDictionaryTest : public ::testing::Test {
protected:
    std::unique_ptr<NodeData> node = std::make_unique<NodeData>();

    uint32_t read(uint16_t index, uint8_t sub, void* out, uint32_t& size, uint8_t* type = nullptr) {
        return readLocalObject(node.get(), index, sub, out, &size, type, true);
    }
    template <typename T>
    uint32_t write(uint16_t index, uint8_t sub, T value, bool checkAccess = true) {
        uint32_t size = sizeof value;
        return writeLocalObject(node.get(), index, sub, &value, &size, checkAccess);
    }
};

TEST_F(ObjectDictionaryTest, TableHas150RowsSortedByIndexWithTheFamiliesAtTheirRows) {
    const OdIndexEntry* table = node->od.table();
    std::set<uint16_t> seen;
    for (int row = 0; row < kOdRowCount; ++row) {
        if (row > 0) {
            EXPECT_LT(table[row - 1].index, table[row].index) << "row " << row;
        }
        EXPECT_EQ(ObjectDictionary::rowOf(table[row].index), row);
        EXPECT_EQ(findObject(node.get(), table[row].index).entry, &table[row]);
        seen.insert(table[row].index);
    }
    EXPECT_EQ(seen.size(), 150u);
    EXPECT_EQ(table[node->rows.sdoServer.first].index, 0x1200);
    EXPECT_EQ(table[node->rows.sdoClient.first].index, 0x1280);
    EXPECT_EQ(table[node->rows.sdoClient.last].index, 0x12FE);
}

TEST_F(ObjectDictionaryTest, LookupOfAnAbsentObjectAnswersObjectDoesNotExist) {
    for (uint16_t index : {0x0000, 0x1002, 0x1019, 0x12FF, 0x3007, 0x4007, 0x5405, 0xFFFF}) {
        const ObjectLookup lookup = findObject(node.get(), index);
        EXPECT_EQ(lookup.entry, nullptr);
        EXPECT_EQ(lookup.abortCode, kAbortNoObject);
        EXPECT_EQ(lookup.hooks, nullptr);
    }
    uint32_t value = 0, size = 4;
    EXPECT_EQ(read(0x1019, 0, &value, size), kAbortNoObject);
}

TEST_F(ObjectDictionaryTest, HookSlotsExistExactlyForTheObjectsThatTakeHooks) {
    EXPECT_EQ(findObject(node.get(), 0x1000).hooks, nullptr);
    EXPECT_EQ(findObject(node.get(), 0x1001).hooks, nullptr);
    EXPECT_EQ(findObject(node.get(), 0x1280).hooks, nullptr);
    for (uint16_t index : {0x1016, 0x1017, 0x1018, 0x1200, 0x2000, 0x2222, 0x3000, 0x4006, 0x5406})
        EXPECT_NE(findObject(node.get(), index).hooks, nullptr) << std::hex << index;
}

TEST_F(ObjectDictionaryTest, InitialValuesAndTypes) {
    uint32_t u32 = 0xFFFFFFFF, size = 4;
    uint8_t type = 0;
    EXPECT_EQ(read(0x1200, 1, &u32, size, &type), 0u);
    EXPECT_EQ(u32, 0x600u);
    EXPECT_EQ(type, kUnsigned32);
    size = 4;
    EXPECT_EQ(read(0x12FE, 2, &u32, size), 0u);
    EXPECT_EQ(u32, 0x580u + 126);
    uint8_t u8 = 0;
    size = 1;
    EXPECT_EQ(read(0x1285, 3, &u8, size), 0u);
    EXPECT_EQ(u8, 5);
    size = 1;
    EXPECT_EQ(read(0x4005, 0, &u8, size), 0u);
    EXPECT_EQ(u8, 0xFE);
    size = 4;
    EXPECT_EQ(read(0x4005, 254, &u32, size, &type), 0u);
    EXPECT_EQ(type, kReal32);
    size = 4;
    EXPECT_EQ(read(0x3005, 1, &u32, size, &type), 0u);
    EXPECT_EQ(type, kInteger32);
    size = 1;
    EXPECT_EQ(read(0x1018, 0, &u8, size), 0u);
    EXPECT_EQ(u8, 4);
    size = 1;
    EXPECT_EQ(read(0x1016, 0, &u8, size), 0u);
    EXPECT_EQ(u8, 1);
}

TEST_F(ObjectDictionaryTest, ReadOfAMissingSubIndexAnswersSubIndexDoesNotExist) {
    uint32_t value = 0, size = 4;
    EXPECT_EQ(read(0x1018, 5, &value, size), kAbortNoSubIndex);
    EXPECT_EQ(read(0x3000, 255, &value, size), kAbortNoSubIndex);
}

TEST_F(ObjectDictionaryTest, ReadWithSizeZeroLearnsTheEntrySize) {
    uint8_t buffer[4];
    const struct {
        uint16_t index;
        uint8_t sub;
        uint32_t size;
    } cases[] = {{0x1000, 0, 4}, {0x1017, 0, 2}, {0x1001, 0, 1}, {0x3006, 9, 4}, {0x4004, 1, 2}};
    for (const auto& c : cases) {
        uint32_t size = 0;
        EXPECT_EQ(read(c.index, c.sub, buffer, size), kAbortOutOfMemory);
        EXPECT_EQ(size, c.size);
    }
}

TEST_F(ObjectDictionaryTest, ReadIntoNoDestinationIsAGeneralError) {
    uint32_t size = 4;
    EXPECT_EQ(read(0x1000, 0, nullptr, size), kAbortGeneral);
}

TEST_F(ObjectDictionaryTest, DomainReadsAsZeroBytes) {
    uint8_t buffer[8];
    uint32_t size = sizeof buffer;
    uint8_t type = 0;
    EXPECT_EQ(read(0x2000, 1, buffer, size, &type), 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, kDomain);
}

TEST_F(ObjectDictionaryTest, WriteOfAReadOnlyEntryIsRefusedOnlyWithAccessChecks) {
    EXPECT_EQ(write<uint32_t>(0x1200, 1, 0x123), kAbortReadOnly);
    EXPECT_EQ(write<uint32_t>(0x1200, 1, 0x123, false), 0u);
    EXPECT_EQ(node->od.values.sdoServerRequestCobId, 0x123u);
}

TEST_F(ObjectDictionaryTest, WriteOfTheWrongLengthIsRefusedAndReportsTheEntrySize) {
    uint16_t twoBytes = 0x1234;
    uint32_t size = 2;
    EXPECT_EQ(writeLocalObject(node.get(), 0x1016, 1, &twoBytes, &size, true), kAbortLengthMismatch);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(node->od.values.heartbeatConsumerTime[0], 0u);
}

TEST_F(ObjectDictionaryTest, WriteStoresTheValueInHostOrder) {
    EXPECT_EQ(write<uint32_t>(0x1016, 1, 0x000503E8), 0u);
    uint8_t bytes[4];
    uint32_t size = 4;
    EXPECT_EQ(read(0x1016, 1, bytes, size), 0u);
    EXPECT_EQ(bytes[0], 0xE8);
    EXPECT_EQ(bytes[2], 0x05);
    EXPECT_EQ(write<int16_t>(0x4004, 254, -2), 0u);
    EXPECT_EQ(node->od.values.array4004.elements[253], -2);
}

TEST_F(ObjectDictionaryTest, WriteOfAMissingObjectOrSubIndexIsRefused) {
    EXPECT_EQ(write<uint8_t>(0x6000, 0, 1), kAbortNoObject);
    EXPECT_EQ(write<uint8_t>(0x2222, 2, 1), kAbortNoSubIndex);
}

uint32_t g_hookCalls = 0;
uint8_t g_hookSub = 0;
uint16_t g_valueSeenByHook = 0;
uint32_t vetoingHook(NodeData* node, const OdIndexEntry* entry, uint8_t sub) {
    ++g_hookCalls;
    g_hookSub = sub;
    g_valueSeenByHook = *static_cast<uint16_t*>(entry->subs[sub].value);
    return node->od.values.heartbeatProducerTime > 1000 ? kAbortValueRange : 0;
}

TEST_F(ObjectDictionaryTest, WriteHookRunsAfterTheValueIsStoredAndMayVeto) {
    g_hookCalls = 0;
    ASSERT_EQ(registerWriteHook(node.get(), 0x1017, 0, vetoingHook), 0u);
    EXPECT_EQ(write<uint16_t>(0x1017, 0, 500), 0u);
    EXPECT_EQ(g_hookCalls, 1u);
    EXPECT_EQ(g_valueSeenByHook, 500);
    EXPECT_EQ(write<uint16_t>(0x1017, 0, 2000), kAbortValueRange);
    EXPECT_EQ(node->od.values.heartbeatProducerTime, 2000);  // stored all the same
    ASSERT_EQ(registerWriteHook(node.get(), 0x1017, 0, nullptr), 0u);
    EXPECT_EQ(write<uint16_t>(0x1017, 0, 3000), 0u);
    EXPECT_EQ(g_hookCalls, 2u);
}

TEST_F(ObjectDictionaryTest, HookRegistrationOnObjectsWithoutSlotsIsAcceptedAndIgnored) {
    g_hookCalls = 0;
    EXPECT_EQ(registerWriteHook(node.get(), 0x1281, 1, vetoingHook), 0u);
    EXPECT_EQ(registerWriteHook(node.get(), 0x2222, 7, vetoingHook), 0u);  // beyond its sub-indices
    EXPECT_EQ(registerWriteHook(node.get(), 0x100C, 0, vetoingHook), kAbortNoObject);
    EXPECT_EQ(write<uint32_t>(0x1281, 1, 0x601), 0u);
    EXPECT_EQ(g_hookCalls, 0u);
}

TEST_F(ObjectDictionaryTest, ArrayHookSlotsArePerSubIndex) {
    g_hookCalls = 0;
    ASSERT_EQ(registerWriteHook(node.get(), 0x3001, 200, vetoingHook), 0u);
    EXPECT_EQ(write<uint16_t>(0x3001, 199, 1), 0u);
    EXPECT_EQ(g_hookCalls, 0u);
    EXPECT_EQ(write<uint16_t>(0x3001, 200, 7), 0u);
    EXPECT_EQ(g_hookCalls, 1u);
    EXPECT_EQ(g_hookSub, 200);
}

TEST_F(ObjectDictionaryTest, ValueRangeCheck) {
    const uint8_t zero = 0, one = 1;
    EXPECT_EQ(checkValueRange(0x9F, &one), kAbortValueRange);
    EXPECT_EQ(checkValueRange(0x9F, &zero), 0u);
    EXPECT_EQ(checkValueRange(kUnsigned8, &one), 0u);
    EXPECT_EQ(checkValueRange(0x9F, nullptr), 0u);
}

TEST_F(ObjectDictionaryTest, NodesHaveDictionariesOfTheirOwn) {
    auto other = std::make_unique<NodeData>();
    EXPECT_EQ(write<uint8_t>(0x2222, 1, 9), 0u);
    uint8_t value = 0xAA;
    uint32_t size = 1;
    EXPECT_EQ(readLocalObject(other.get(), 0x2222, 1, &value, &size, nullptr, true), 0u);
    EXPECT_EQ(value, 0);
}

}  // namespace
