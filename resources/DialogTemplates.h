// Dialog templates of the loader, as the resource script describes them.
#pragma once

#include <vector>

#include "resources/Resource.h"

struct ControlTemplate {
    int id;
    int x, y, width, height;
    bool visible;
};

struct DialogTemplate {
    unsigned id;
    std::vector<ControlTemplate> controls;
};

// Template 102: a borderless popup with the two buttons, created without the visible style.
inline const DialogTemplate* FindDialogTemplate(unsigned id) {
    static const DialogTemplate kUpdateDialog{
        IDD_UPDATE_DIALOG,
        {{IDC_BUTTON_START, 10, 170, 60, 20, false}, {IDC_BUTTON_CLOSE, 250, 170, 60, 20, false}}};
    return id == IDD_UPDATE_DIALOG ? &kUpdateDialog : nullptr;
}
