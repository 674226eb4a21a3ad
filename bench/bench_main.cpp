// Entry point of vdat_bench. The window benchmarks need a QApplication, made here once.
#include <benchmark/benchmark.h>

#ifdef VDAT_HAVE_GUI
#include <QApplication>
#include <cstdlib>
#endif

int main(int argc, char** argv) {
#ifdef VDAT_HAVE_GUI
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
