// The entry of vesktest, the console tester: the terminal build on Linux,
// vesktest.exe on Windows.
#include <string>
#include <vector>

#include "tester/version/version.h"
#include "tester/app/tester_main.h"

int main(int argc, char** argv) {
    ReadProgramVersion();
    return RunVesktest(std::vector<std::string>(argv + 1, argv + argc));
}
