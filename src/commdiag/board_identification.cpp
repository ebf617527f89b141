#include "board_identification.h"

#include <cstring>

namespace CommDiag {

namespace {

char* copyText(const std::string& text) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

BoardIdentification::BoardIdentification(std::string busName, std::string baudRate) : board_(new s_BOARD) {
    board_->busname = copyText(busName);
    board_->baudrate = copyText(baudRate);
}

BoardIdentification::~BoardIdentification() {
    delete[] board_->busname;
    delete[] board_->baudrate;
    delete board_;
}

}  // namespace CommDiag
