#include <iostream>
#include <string>
#include <vector>

#include "run_imgbuild.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    const int status = imgbuild::runImgbuild(args, std::cout);
    std::cout.flush();
    return status;
}
