// The entry of vesktest, the tester's terminal build.
#include <string>
#include <vector>

#include "tester/ui/tui/tester_main.h"

int main(int argc, char** argv) {
    return RunVesktest(std::vector<std::string>(argv + 1, argv + argc));
}
