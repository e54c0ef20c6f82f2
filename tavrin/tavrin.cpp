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
    int result = 0;
    try {
        CreateForm<TMOXLoadForm>()->Show();
        PrintStatusDlg = CreateForm<TPrintStatusDlg>();
        Application->Run();
    } catch (...) {
        Application->HandleException(nullptr);
        result = 1;
    }
    // The forms go while the libraries they use are still there: left to the application
    // object's own end, among the program's static objects, a dock would find the toolbar
    // library's hook list gone.
    try {
        Application->DestroyComponents();
    } catch (...) {
        result = 1;
    }
    return result;
}
