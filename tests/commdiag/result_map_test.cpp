#include "commdiag/abort_code_map.h"
#include "commdiag/types.h"

#include <gtest/gtest.h>

namespace CommDiag {
namespace {

constexpr uint8_t kFinished = 0x01;
constexpr uint8_t kAbortedByPeer = 0x80;
constexpr uint8_t kStackTimeout = 0x85;

TEST(MapSdoResult, FinishedWithoutAbortIsSuccess) { EXPECT_EQ(mapSdoResult(kFinished, 0), RESULT_OK); }

TEST(MapSdoResult, MappedAbortCodeWinsOverFinishedStatus) {
    EXPECT_EQ(mapSdoResult(kFinished, 0x06070010u), RESULT_SIZE_MISMATCH);
}

TEST(MapSdoResult, StackTimeoutWithoutAbortCodeIsTimeout) { EXPECT_EQ(mapSdoResult(kStackTimeout, 0), RESULT_TIMEOUT); }

TEST(MapSdoResult, PeerAbortIsMapped) {
    EXPECT_EQ(mapSdoResult(kAbortedByPeer, 0x06020000u), RESULT_NO_OBJECT);
    EXPECT_EQ(mapSdoResult(kAbortedByPeer, 0x06090011u), RESULT_NO_SUB_INDEX);
    EXPECT_EQ(mapSdoResult(kStackTimeout, 0x05040000u), RESULT_TIMEOUT);
}

TEST(MapSdoResult, UnmappedAbortFallsBackToStatus) {
    EXPECT_EQ(mapSdoResult(kAbortedByPeer, 0x06040042u), RESULT_FAILED);
    EXPECT_EQ(mapSdoResult(kFinished, 0x12345678u), RESULT_OK);
    EXPECT_EQ(mapSdoResult(kStackTimeout, 0x12345678u), RESULT_TIMEOUT);
    // The stack's "buffer too small" is no transfer status the client knows.
    EXPECT_EQ(mapSdoResult(0x8A, 0), RESULT_FAILED);
}

TEST(AbortCodeMap, HoldsExactlyTheSeventeenCodes) {
    const std::map<uint32_t, int> expected{
        {0x00000000u, RESULT_OK},
        {0x06010001u, RESULT_BUS_NOT_ACCESSIBLE},
        {0x06010002u, RESULT_BUS_NOT_ACCESSIBLE},
        {0x06020000u, RESULT_NO_OBJECT},
        {0x06040041u, RESULT_NOT_MAPPABLE},
        {0x06070010u, RESULT_SIZE_MISMATCH},
        {0x06090011u, RESULT_NO_SUB_INDEX},
        {0x06090030u, RESULT_INVALID},
        {0x06090031u, RESULT_INVALID},
        {0x06090032u, RESULT_INVALID},
        {0x05030000u, RESULT_INVALID},
        {0x05040000u, RESULT_TIMEOUT},
        {0x05040005u, RESULT_INVALID},
        {0x08000000u, RESULT_FAILED},
        {0x08000021u, RESULT_INVALID},
        {0x06010000u, RESULT_UNSUPPORTED_ACCESS},
        {0x08000024u, RESULT_NO_DATA},
    };
    EXPECT_EQ(abortCodeMap(), expected);
}

TEST(AbortCodeMap, GeneralErrorAbortFailsEvenWhenFinished) {
    EXPECT_EQ(mapSdoResult(kFinished, 0x08000000u), RESULT_FAILED);
    EXPECT_EQ(mapSdoResult(kAbortedByPeer, 0x08000024u), RESULT_NO_DATA);
    EXPECT_EQ(mapSdoResult(kAbortedByPeer, 0x06010000u), RESULT_UNSUPPORTED_ACCESS);
}

}  // namespace
}  // namespace CommDiag
