// Port names: how a configured name becomes a local or a network port.
//
// Local ports are "COM" and a number from 1 to 255. Network ports are a
// dotted IPv4 address, a colon and a TCP port number ("192.168.0.20:950");
// the text goes to the network library unconverted. Anything else, host
// names included, is rejected. Where the native backend takes device paths
// (POSIX), a name that starts with "/" is a local port taken as written.
#pragma once

#include <cstdint>
#include <string>

enum class PortKind { Rejected, Local, Network };

// Strips white space at both ends and converts ASCII letters to upper case;
// a name that then starts with "/" is a device path and keeps its case.
// Callers that upper-case configured names before handing them on use this
// (and nothing cruder), so that device paths survive.
std::string NormalizePortName(const char* name);

// Classifies a normalised name. `devicePaths` says whether a name starting
// with "/" is a local port (the native backend's kNativeDevicePaths).
PortKind ClassifyPortName(const char* name, bool devicePaths);

// The number rule: leading white space and one sign are allowed, reading
// stops at the first character that is not a decimal digit, no digits give
// 0. Values beyond the 32-bit range are clamped to it, so an over-long run
// of digits reads as a large number instead of wrapping into range.
int64_t ReadPortNumber(const char* text);

// The POSIX device of a local name: "COMn" (n from 1 to 255, written
// plainly: no sign, blank, leading zero or trailing text) is
// "/dev/ttyS<n-1>", a "/" path is itself. False for anything else, which
// then opens nothing, as such a name finds no device on Windows either.
bool PosixDevicePath(const char* name, std::string& path);
