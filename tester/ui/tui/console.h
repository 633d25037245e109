// What the program's standard streams are connected to.
#pragma once

// Standard input and output are both a terminal: the front end can run.
bool StdioIsTerminal();

// Standard output is a terminal (not redirected to a file or a pipe).
bool StdoutIsTerminal();
