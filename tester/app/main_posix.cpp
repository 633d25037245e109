// The entry of vesktest, the tester's terminal build.
#include <string>
#include <vector>

#include "tester/app/version.h"
#include "tester/ui/tui/tester_main.h"

int main(int argc, char** argv) {
    ReadProgramVersion();
    return RunVesktest(std::vector<std::string>(argv + 1, argv + argc));
}
