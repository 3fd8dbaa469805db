// A modal dialog: DoModal creates the window with its controls, runs the dialog's own
// message loop, and returns when EndDialog is called (WM_CLOSE ends it as cancelled).
#pragma once

#include "platform/framework/Wnd.h"

#ifndef _WIN32  // the Windows build has them from <windows.h>
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
#endif

class CDialog : public CWnd {
public:
    CDialog(UINT templateId, CWnd* parent);

    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    // Sees every message of the modal loop before it is dispatched; TRUE consumes it.
    virtual BOOL PreTranslateMessage(MSG* msg);
    void EndDialog(int result);

    UINT TemplateId() const { return m_templateId; }

protected:
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void CreateFromTemplate();

    UINT m_templateId;
    bool m_ended = false;
    int m_result = 0;
};
