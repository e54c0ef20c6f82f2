// The drag and resize loops of dockable windows.
#include "DkDock.h"

void TDkCustomDockableWindow::BeginMoving(POINT grab)
{
    (void)grab;
}

void TDkCustomDockableWindow::BeginSizing(int edge)
{
    (void)edge;
}
