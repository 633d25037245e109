// The program's version numbers and the main window's title made from them.
//
// Each number is one 16-bit word of the program's file version (major,
// minor, patch, build). They are 0 until the entry reads them and are
// written and read on the window's thread only.
#pragma once

#include <cstdint>
#include <string>

extern uint32_t versionMajor;
extern uint32_t versionMinor;
extern uint32_t versionPatch;
extern uint32_t versionBuild;

// "VeskTest (Win32) - ver %d.%d.%d (build %03u)" of the four numbers:
// "VeskTest (Win32) - ver 1.1.2 (build 001)" for file version 1.1.2.1.
std::string MainWindowTitle();

// The same title for a front end that names another platform:
// "VeskTest (Linux) - ver 1.1.2 (build 001)".
std::string ProgramTitle(const std::string& platform);

// The platform the program runs on, in the title of the terminal front
// end and in what `vesktest --version` prints: the kernel's own name
// ("Linux"), "Win32" on Windows. Platform-specific (version_posix.cpp).
std::string PlatformName();

// Stores the four words of a fixed file version, as the two 32-bit halves
// of a version record give them (most significant half first).
void SetVersionFromWords(uint32_t mostSignificant, uint32_t leastSignificant);

// Reads the program's own version record into the four numbers. False, with
// the numbers left as they were, when the program has none or it cannot be
// read. Platform-specific (version_win32.cpp).
bool ReadProgramVersion();
