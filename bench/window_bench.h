#pragma once
// The main() of a benchmark that drives the program's windows.
#include "app/application.h"
#include "app/dialogs.h"
#include "engine/engine_error.h"
#include "generator.h"

#include <cstdio>

namespace ostrel::bench {

// Runs step for each card count of the command line, on the offscreen platform with the
// message boxes logged instead of shown. An engine error ends the benchmark with 1.
inline int runWindowBench(int argc, char** argv, void (*step)(int cards))
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    testhooks::enable();
    try {
        for (int cards : cardCounts(argc, argv))
            step(cards);
    } catch (const EngineError& e) {
        std::fprintf(stderr, "%s\n", e.message().toUtf8().constData());
        return 1;
    }
    return 0;
}

} // namespace ostrel::bench
