// The installable-driver and ACM call layer: stands where the Windows driver
// and ACM managers would, turning each request into one message to the
// module's DriverProc. The ACM driver handle and the driver handle are the
// driver_t record, in host memory; the module sees only its number.
#pragma once

#include "codec/ACMStructs.h"
#include "platform/support/SupportDefs.h"
#include "winemu/kernel32/ModuleServices.h"

#include <atomic>

// The identifier offered to the next driver opened; windows open drivers on
// their own audio threads at once.
extern std::atomic<uint32> gNextDriverID;

// One open ACM stream, in host memory (the module sees a number as its
// handle); its instance data lies in the module heap.
struct acm_stream_t {
    driver_t* driver;
    ACMDRVSTREAMINSTANCE* instance;
    uint32 handle; // the number the driver sees
};

driver_t* OpenDriver(const char* fileName, const char* sectionName, int32 lParam2, int32 fourCC = 0,
                     double value = 0.0);
int32 CloseDriver(driver_t* driver, int32 lParam1, int32 lParam2);
// A driver call that faults gives MMSYSERR_ERROR.
int32 SendDriverMessage(driver_t* driver, uint32 message, int32 lParam1, int32 lParam2);
// The same, telling a call that faulted (or went over a limit: the call's
// status) apart from whatever the driver answered.
status_t SendDriverMessage(driver_t* driver, uint32 message, int32 lParam1, int32 lParam2,
                           int32* result);

// The ACM functions. Structures are host pointers into the module address
// space; one outside it is refused with MMSYSERR_INVALPARAM.
int32 acmDriverOpen(driver_t** driver, const char* fileName, uint32 unused1 = 0,
                    uint32 unused2 = 0);
int32 acmDriverClose(driver_t* driver, uint32 unused = 0);
int32 acmDriverMessage(driver_t* driver, uint32 message, int32 lParam1, int32 lParam2);
int32 acmDriverDetails(driver_t* driver, uint32 unused1, tACMDRIVERDETAILSW* details,
                       uint32 unused2 = 0);
int32 acmFormatTagDetails(driver_t* driver, tACMFORMATTAGDETAILSW* details, uint32 flags);
int32 acmFormatDetails(driver_t* driver, tACMFORMATDETAILSW* details, uint32 flags);
int32 acmStreamOpen(acm_stream_t** stream, driver_t* driver, const tWAVEFORMATEX* source,
                    const tWAVEFORMATEX* destination, const void* filter, uint32 callback,
                    uint32 instance, uint32 openFlags);
int32 acmStreamClose(acm_stream_t* stream, uint32 unused = 0);
int32 acmStreamSize(acm_stream_t* stream, uint32 size, uint32* result, uint32 sizeFlags);
int32 acmStreamPrepareHeader(acm_stream_t* stream, tACMSTREAMHEADER* header, uint32 unused = 0);
int32 acmStreamUnprepareHeader(acm_stream_t* stream, tACMSTREAMHEADER* header, uint32 unused = 0);
int32 acmStreamConvert(acm_stream_t* stream, tACMSTREAMHEADER* header, uint32 flags);
