// tavrin's entry point: the main window and the print-status dialog, then the message loop.
#include "Application.h"
#include "Forms.h"
#include "KDGlob.h"
#include "Kdmain.h"
#include "PrntStat.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    KDGlobStartup();
    Application->Title = "Tavrin";
    Application->HelpFile = "";
    try {
        CreateForm<TMOXLoadForm>()->Show();
        PrintStatusDlg = CreateForm<TPrintStatusDlg>();
        Application->Run();
    } catch (...) {
        Application->HandleException(nullptr);
        return 1;
    }
    return 0;
}
