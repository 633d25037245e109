// The translation unit that GoogleTest's precompiled headers are built in;
// every test program reuses them (tests/CMakeLists.txt).
