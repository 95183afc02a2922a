// ostrel_bench_gen PATH [cards [visits [anniversaries]]]: writes a test database.
#include "engine/engine_error.h"
#include "generator.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH [cards [visits [anniversaries]]]\n", argv[0]);
        return 2;
    }
    ostrel::bench::Workload w;
    if (argc > 2) w.cards = std::atoi(argv[2]);
    if (argc > 3) w.visits = std::atoi(argv[3]);
    if (argc > 4) w.anniversaries = std::atoi(argv[4]);
    try {
        ostrel::bench::generateDatabase(QString::fromLocal8Bit(argv[1]), w);
    } catch (const ostrel::EngineError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
