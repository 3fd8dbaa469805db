#include "platform/framework/Dialog.h"

#include "resources/DialogTemplates.h"

CDialog::CDialog(UINT templateId, CWnd*) : m_templateId(templateId) {}

void CDialog::CreateFromTemplate() {
    CreatePlatformWindowFor();
    if (const DialogTemplate* dialog = FindDialogTemplate(m_templateId)) {
        for (const ControlTemplate& control : dialog->controls) {
            CWnd* created = AddControl(control.id, control.visible);
            created->MoveWindow(control.x, control.y, control.width, control.height, FALSE);
        }
    }
}

INT_PTR CDialog::DoModal() {
    m_ended = false;
    m_result = 0;
    CreateFromTemplate();
    OnInitDialog();
    // The system colours the dialog and its controls once they show.
    SendMessage(WM_CTLCOLORDLG, 0, reinterpret_cast<LPARAM>(m_hWnd));
    for (auto& [id, control] : m_controls) {
        SendMessage(WM_CTLCOLORBTN, 0, reinterpret_cast<LPARAM>(control->m_hWnd));
    }
    MSG msg;
    while (!m_ended) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    DestroyPlatformWindow();
    return m_result;
}

BOOL CDialog::OnInitDialog() {
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    // As the system's dialog manager: Enter is OK, Escape is Cancel.
    if (msg->message == WM_KEYDOWN && msg->hwnd == m_hWnd) {
        if (msg->wParam == VK_RETURN) {
            OnOK();
            return TRUE;
        }
        if (msg->wParam == VK_ESCAPE) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}

void CDialog::EndDialog(int result) {
    m_result = result;
    m_ended = true;
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        EndDialog(IDCANCEL);  // a modal dialog ends as cancelled
        return 0;
    }
    return CWnd::DefWindowProc(message, wParam, lParam);
}
