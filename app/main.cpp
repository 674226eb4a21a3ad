// The extractor window's entry point.
#include "ExtractorApp.h"
#include "PreviewWindow.h"

int main(int argc, char** argv) {
    if (const int status = ExtractorApp::AnswerWithoutWindow(argc, argv); status >= 0)
        return status;
    ChooseSoundBackend();
    ExtractorApp app(argc, argv);
    return app.Run();
}
