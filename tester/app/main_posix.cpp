// The entry of vesktest, the tester's terminal build.
#include <string>
#include <vector>

#include "tester/version/version.h"
#include "tester/app/tester_main.h"

int main(int argc, char** argv) {
    ReadProgramVersion();
    return RunVesktest(std::vector<std::string>(argv + 1, argv + argc));
}
