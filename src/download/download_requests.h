#pragma once
#include <cstdint>

// Machine requests the block download handler starts. The converter object, which owns the
// handler, implements them through the machine link and hands them in. Each returns the start
// result: 0 when the request's completion callback will come, anything else when it will not.
class IDownloadRequests {
public:
    virtual ~IDownloadRequests() = default;

    // Closes the connection; its callback waits for the restarted machine and connects again.
    virtual int32_t CloseConnection() = 0;
};
