#pragma once
// The SANE functions the scanner layer calls, as a table: the real library's
// by default, scripted ones in tests.
#include <sane/sane.h>

namespace korvex {

struct TSaneApi {
    SANE_Status (*Init)(SANE_Int* version, SANE_Auth_Callback authorize);
    void (*Exit)();
    SANE_Status (*GetDevices)(const SANE_Device*** list, SANE_Bool localOnly);
    SANE_Status (*Open)(SANE_String_Const name, SANE_Handle* handle);
    void (*Close)(SANE_Handle handle);
    const SANE_Option_Descriptor* (*GetOptionDescriptor)(SANE_Handle handle, SANE_Int option);
    SANE_Status (*ControlOption)(SANE_Handle handle, SANE_Int option, SANE_Action action, void* value,
                                 SANE_Int* info);
    SANE_Status (*GetParameters)(SANE_Handle handle, SANE_Parameters* parameters);
    SANE_Status (*Start)(SANE_Handle handle);
    SANE_Status (*Read)(SANE_Handle handle, SANE_Byte* data, SANE_Int maxLength, SANE_Int* length);
    void (*Cancel)(SANE_Handle handle);
    SANE_String_Const (*StatusText)(SANE_Status status);
};

// The table of the SANE library the program is linked with.
const TSaneApi& LinkedSaneApi();

}  // namespace korvex
