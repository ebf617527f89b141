#pragma once
// The two long transfers of the library, each a chain of ordinary requests driven from their
// completions on the stack's threads: the firmware update sequence (slots 96, 97) and the
// numbered block transfer (slots 93 to 95). Their state is library-wide, guarded by the stack
// lock while the stack runs; one of each at a time.
#include "iclient.h"

#include <cstdint>
#include <ios>

namespace CommDiag::detail {

int startFirmwareUpdate(IClient* client, const char* path, FirmwareUpdateCallback callback);
int firmwareUpdateProgress(IClient* client, unsigned char* percent);

int startBlockTransfer(IClient* client, const char* path, uint32_t blockId, uint32_t packetSize,
                       BlockTransferCallback callback, const uint32_t* localAddress);
int blockTransferProgress(unsigned char* percent);

// The client is going away: a running sequence or transfer ends without its callback, its
// pending alarm is cancelled and nothing of it refers to the client any more. Caller holds the
// stack lock (or the stack does not run).
void abandonFirmwareUpdate(IClient* client);
void abandonBlockTransfer(IClient* client);

// Update states of slot 97 and transfer states of slot 95.
enum UpdateState : int { kUpdateIdle = 0, kUpdatePreparing = 2, kUpdateDownloading = 4, kUpdateFailed = 7 };
enum TransferState : uint32_t {
    kTransferNotInit = 0,
    kTransferInitRequested = 1,
    kTransferInit = 2,
    kTransferUpload = 4,
    kTransferAllSent = 6,
    kTransferError = 7,
};

// A file the transfers could not open: the stream's first failed state ("FAILBIT", "EOFBIT",
// "BADBIT"), then "File not open.", on standard output as the converter's trace has it.
void printFileNotOpen(const std::ios& stream);

// Largest firmware image: the machine's program memory.
constexpr uint32_t kMaxImageSize = 0x100000;

}  // namespace CommDiag::detail
