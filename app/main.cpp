// The extractor window's entry point.
#include "ExtractorApp.h"

int main(int argc, char** argv) {
    ExtractorApp app(argc, argv);
    return app.Run();
}
