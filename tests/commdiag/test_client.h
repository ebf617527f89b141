#pragma once
// A client whose connection state the test sets directly, for checks that need no machine.
#include "commdiag/client.h"

namespace CommDiag::test {

class TestClient : public Client {
public:
    TestClient() : Client(&board_, "no-driver", 1, 10) {}

    int StartConnection(unsigned char, unsigned char, int, ConnectionCallback) override { return RESULT_OK; }
    int CloseConnection(ConnectionCallback) override { return RESULT_OK; }

    void pretendConnected(bool busIsAccessible) {
        connectionState.store(kConnected);
        busAccessible.store(busIsAccessible ? 1 : 0);
    }

    using Client::startDomainWrite;
    using Client::startElementWrite;

private:
    s_BOARD board_{"0", "500K"};
};

}  // namespace CommDiag::test
