// The least of the dialog-application framework: an application object whose InitInstance
// runs once at start on the main thread.
#pragma once

#include <string>

#include "platform/Win32Types.h"

class CWnd;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();

    // The start hook. Returning FALSE ends the application without a message loop.
    virtual BOOL InitInstance() { return FALSE; }

    // Chooses the registry key for the application's profile settings.
    void SetRegistryKey(LPCWSTR company) { m_registryKey = company ? company : L""; }
    const std::wstring& RegistryKey() const { return m_registryKey; }

    CWnd* m_pMainWnd = nullptr;

private:
    std::wstring m_registryKey;
};

// Runs the application object: calls InitInstance and returns the process exit code.
int RunWinApp(CWinApp& app);
