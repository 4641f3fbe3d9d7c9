// The entry of torrin's window library: the program loads it only when the
// window opens, so that `torrin exit` starts without the windowing libraries.
#include "torrin/window_start.h"

#ifdef _WIN32
#define TORRIN_WINDOW_ENTRY extern "C" __declspec(dllexport)
#else
#define TORRIN_WINDOW_ENTRY extern "C" __attribute__((visibility("default")))
#endif

TORRIN_WINDOW_ENTRY int torrin_window_main(int argc, char** argv, const torrin::torapp* app) {
    return torrin::runWindow(argc, argv, *app);
}
