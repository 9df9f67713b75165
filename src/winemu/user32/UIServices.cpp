#include "winemu/user32/UIServices.h"

#include "platform/support/Debug.h"
#include "platform/support/UTF8.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/kernel32/ResourceServices.h"
#include "winemu/kernel32/WideText.h"
#include "winemu/loader/pe_add_on.h"
#include "winemu/msvcrt/ModuleFormat.h"

#include <cstdio>
#include <string>

uint32 exp_DialogBoxParamA(uint32 module, uint32 dialogTemplate, uint32, uint32 dialogProc,
                           uint32 initParam)
{
    {
        // The template is looked up as Windows would, but nothing is shown,
        // so whether it exists changes nothing.
        std::string name;
        bool byNumber = (dialogTemplate >> 16) == 0;
        if (byNumber || copy_module_string(dialogTemplate, 0xFFFF, &name)) {
            pe_with_add_on(module, [&](pe_add_on_t* addOn) {
                const image_resource_data_entry_t* entry =
                    byNumber ? pe_find_resource(addOn, kResourceDialog, dialogTemplate, 0)
                             : pe_find_resource(addOn, kResourceDialog, name.c_str(), 0);
                (void)pe_load_resource(addOn, entry);
                (void)pe_get_resource_size(addOn, entry);
            });
        }
    }
    // Called without the loader's lock: the procedure may load modules.
    if (DEBUG_CHECK(dialogProc != 0, "dialog_proc!=NULL"))
        call_module(dialogProc, {kFakeWindowHandle, kInitDialogMessage, 0, initParam});
    return 0;
}

uint32 exp_SetDlgItemTextA(uint32, uint32, uint32)
{
    return 1;
}

uint32 exp_SetDlgItemInt(uint32, uint32, uint32, uint32)
{
    return 1;
}

uint32 exp_GetDlgItem(uint32, uint32)
{
    return 0;
}

uint32 exp_SetScrollRange(uint32, uint32, uint32, uint32, uint32)
{
    return 1;
}

uint32 exp_SetScrollPos(uint32, uint32, uint32, uint32)
{
    return 0;
}

uint32 exp_GetDC(uint32)
{
    return 0;
}

uint32 exp_GetDeviceCaps(uint32, uint32)
{
    return 0;
}

void exp_ReleaseDC(uint32, uint32) {}

uint32 exp_DefDriverProc(uint32, uint32, uint32, uint32, uint32)
{
    return 0;
}

uint32 exp_MessageBoxA(uint32, uint32 text, uint32 caption, uint32)
{
    std::string message, title;
    copy_module_string(text, 1024, &message);
    copy_module_string(caption, 256, &title);
    fprintf(stderr, "module message box: %s: %s\n", title.c_str(), message.c_str());
    return 1; // IDOK
}

uint32 exp_MessageBoxW(uint32, uint32 text, uint32 caption, uint32)
{
    std::u16string message, title;
    module_wide_string(text, 1024, &message);
    module_wide_string(caption, 256, &title);
    auto utf8 = [](const std::u16string& units) {
        std::string out(wide_to_utf8(reinterpret_cast<const unaligned_uint16*>(units.data()),
                                     units.size(), nullptr, 0, B_SUBSTITUTE),
                        '\0');
        out.resize(wide_to_utf8(reinterpret_cast<const unaligned_uint16*>(units.data()),
                                units.size(), out.data(), out.size(), B_SUBSTITUTE));
        return out;
    };
    fprintf(stderr, "module message box: %s: %s\n", utf8(title).c_str(), utf8(message).c_str());
    return 1; // IDOK
}
