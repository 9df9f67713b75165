// What an attempt came to: B_OK, or an error code with a sentence for the
// person who asked, made where the failure was met and shown as it stands
// (in a window, or on stderr).
#pragma once

#include "platform/support/SupportDefs.h"

#include <string>

class CResult
{
public:
    CResult() = default;
    CResult(status_t code, std::string why) : fCode(code), fWhy(std::move(why)) {}
    // A failure with its sentence; its code says only that it failed.
    static CResult Failure(std::string why) { return CResult(B_ERROR, std::move(why)); }

    bool IsOK() const { return fCode >= B_OK; }
    status_t Code() const { return fCode; }
    // Empty on success.
    const std::string& Why() const { return fWhy; }

private:
    status_t fCode = B_OK;
    std::string fWhy;
};
