#include "platform/api/TouchApi.h"

#include "platform/Platform.h"

BOOL TouchCalibrate() {
    auto* touch = quarrin::platform::CurrentServices().touch;
    return touch == nullptr ? FALSE : touch->Calibrate();
}
