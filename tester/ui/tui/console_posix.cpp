#include "tester/ui/tui/console.h"

#include <unistd.h>

bool StdioIsTerminal() {
    return isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}
