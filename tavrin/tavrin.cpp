// tavrin's entry point. Until the main window stands, it shows the default test as the
// instrument would receive it.
#include "Application.h"
#include "KDGlob.h"
#include "TestModel.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    KDGlobStartup();
    Application->Title = "Tavrin";
    try {
        const TTestModel test(0);
        std::string text = "PGM line: " + test.PGM() + "\r\n\r\n";
        const auto rows = test.Grid();
        for (int i = 0; i < GridRowCount; ++i) text += std::string(GridCaptions[i]) + "\t" + rows[i] + "\r\n";
        Application->MessageBox(text, Application->Title, MB_OK | MB_ICONINFORMATION);
    } catch (...) {
        Application->HandleException(nullptr);
        return 1;
    }
    return 0;
}
