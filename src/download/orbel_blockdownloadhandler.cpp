#include "download/orbel_blockdownloadhandler.h"

#include "common/orbel_trace.h"

void ORBEL_BlockDownloadHandler::setUpdateRunning() {
    ORBEL_Trace("%s(): ++ running %d\n", "ORBEL_BlockDownloadHandler::setUpdateRunning", 1);
    running.store(1, std::memory_order_release);
}

void ORBEL_BlockDownloadHandler::resetBlockDownload() {
    ORBEL_Trace("%s(): ++ resetting block download (current state: %d)\n", "ORBEL_BlockDownloadHandler::resetBlockDownload",
                running.load());
    running.store(0, std::memory_order_release);
}
