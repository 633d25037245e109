// Loaded by the dynamic-library tests.
#ifdef _WIN32
#define FIXTURE_EXPORT extern "C" __declspec(dllexport)
#else
#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

FIXTURE_EXPORT int fixtureAnswer(int x) {
    return x * 6 + 2;
}
