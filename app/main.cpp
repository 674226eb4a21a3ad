// The extractor window's entry point.
#include "ExtractorApp.h"
#include "PreviewWindow.h"

int main(int argc, char** argv) {
    ChooseSoundBackend();
    ExtractorApp app(argc, argv);
    return app.Run();
}
