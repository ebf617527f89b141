#pragma once
// Owns the board descriptor handed to the CAN driver, and the two strings it points to.
#include "commdiag_export.h"

#include "canopen/can_message.h"

#include <string>

namespace CommDiag {

class COMMDIAG_API BoardIdentification {
public:
    BoardIdentification(std::string busName, std::string baudRate);
    virtual ~BoardIdentification();
    BoardIdentification(const BoardIdentification&) = delete;
    BoardIdentification& operator=(const BoardIdentification&) = delete;

    s_BOARD* board() const { return board_; }

private:
    s_BOARD* board_;
};

}  // namespace CommDiag
