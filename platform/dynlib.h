// Loading a shared library by name and looking up its symbols.
#pragma once

namespace plat {

using LibraryHandle = void*;

// Loads the library with the base name `name`: on Windows LoadLibraryA of the
// name (the system adds ".dll" and searches the program's folder first); on
// POSIX lib<name>.so, from the program's own folder first and then by the
// system's rules. Null when it cannot be loaded.
LibraryHandle loadLibrary(const char* name);

// Loads a library from an exact file path. Null on failure.
LibraryHandle loadLibraryPath(const char* path);

// The address of an exported symbol, or null.
void* findSymbol(LibraryHandle library, const char* symbol);

// Libraries are never unloaded while the program runs; this exists for tests.
void unloadLibrary(LibraryHandle library);

}  // namespace plat
