#include "platform/framework/WinApp.h"

CWinApp::CWinApp() = default;
CWinApp::~CWinApp() = default;

int RunWinApp(CWinApp& app) {
    // With InitInstance returning FALSE the framework runs no message loop of its own.
    app.InitInstance();
    return 0;
}
