#include "codec/Driver.h"

#include "platform/kernel/ModuleSpace.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/loader/pe_add_on.h"

#include <atomic>
#include <cstring>

std::atomic<uint32> gNextDriverID{1};

namespace
{

// Copies a host string into the module heap; 0 for null.
uint32 module_copy(const char* text)
{
    if (text == nullptr)
        return 0;
    size_t size = strlen(text) + 1;
    void* copy = module_malloc(size);
    if (copy == nullptr)
        return 0;
    memcpy(copy, text, size);
    return module_address(copy);
}

uint32 address_of(const void* pointer)
{
    return module_address(pointer);
}

// One call of the module's DriverProc; a call that faults gives MMSYSERR_ERROR.
int32 call_driver(driver_t* driver, uint32 id, uint32 message, int32 lParam1, int32 lParam2)
{
    uint32 result = 0;
    if (call_module(driver->driver_proc,
                    {id, driver->handle, message, uint32(lParam1), uint32(lParam2)},
                    &result) != B_OK)
        return int32(MMSYSERR_ERROR);
    return int32(result);
}

} // namespace

driver_t* OpenDriver(const char* fileName, const char* sectionName, int32 lParam2, int32, double)
{
    pe_add_on_t* module = pe_load_add_on(fileName);
    if (module == nullptr)
        return nullptr;
    void* proc = nullptr;
    if (pe_get_image_symbol(module, "DriverProc", &proc) < B_OK) {
        pe_unload_add_on(module);
        return nullptr;
    }
    driver_t* driver = new driver_t;
    driver->module = module;
    register_driver(driver);
    driver->driver_proc = uint32(reinterpret_cast<uintptr_t>(proc));
    driver->id = gNextDriverID.fetch_add(1, std::memory_order_relaxed);

    call_driver(driver, 0, DRV_LOAD, 0, 0);
    call_driver(driver, 0, DRV_ENABLE, 0, 0);
    uint32 section = module_copy(sectionName);
    // Whatever the driver answers becomes its identifier, 0 included.
    driver->id = uint32(call_driver(driver, driver->id, DRV_OPEN, int32(section), lParam2));
    module_free(module_pointer<void>(section));
    return driver;
}

int32 CloseDriver(driver_t* driver, int32, int32)
{
    if (driver == nullptr)
        return 0;
    forget_driver(driver);
    // The module may have unloaded itself (FreeLibrary of its own handle).
    if (pe_is_loaded(driver->module))
        pe_unload_add_on(driver->module);
    delete driver;
    return 0;
}

int32 SendDriverMessage(driver_t* driver, uint32 message, int32 lParam1, int32 lParam2)
{
    if (driver == nullptr)
        return int32(MMSYSERR_INVALPARAM);
    return call_driver(driver, driver->id, message, lParam1, lParam2);
}

status_t SendDriverMessage(driver_t* driver, uint32 message, int32 lParam1, int32 lParam2,
                           int32* result)
{
    *result = 0;
    if (driver == nullptr)
        return B_BAD_VALUE;
    uint32 answer = 0;
    status_t status = call_module(
        driver->driver_proc,
        {driver->id, driver->handle, message, uint32(lParam1), uint32(lParam2)}, &answer);
    *result = int32(answer);
    return status;
}

int32 acmDriverOpen(driver_t** driver, const char* fileName, uint32, uint32)
{
    if (driver == nullptr)
        return -1;
    ACMDRVOPENDESCW* descriptor =
        static_cast<ACMDRVOPENDESCW*>(module_calloc(1, sizeof(ACMDRVOPENDESCW)));
    if (descriptor == nullptr)
        return -1;
    descriptor->cbStruct = sizeof(ACMDRVOPENDESCW);
    memcpy(&descriptor->fccType, "audc", 4);
    *driver = OpenDriver(fileName, nullptr, int32(address_of(descriptor)), 0, 0.0);
    module_free(descriptor);
    return *driver != nullptr ? 0 : -1;
}

int32 acmDriverClose(driver_t* driver, uint32)
{
    CloseDriver(driver, 0, 0);
    return 0;
}

int32 acmDriverMessage(driver_t* driver, uint32 message, int32 lParam1, int32 lParam2)
{
    return SendDriverMessage(driver, message, lParam1, lParam2);
}

int32 acmDriverDetails(driver_t* driver, uint32, tACMDRIVERDETAILSW* details, uint32)
{
    if (address_of(details) == 0)
        return int32(MMSYSERR_INVALPARAM);
    return SendDriverMessage(driver, ACMDM_DRIVER_DETAILS, int32(address_of(details)), 0);
}

int32 acmFormatTagDetails(driver_t* driver, tACMFORMATTAGDETAILSW* details, uint32 flags)
{
    if (address_of(details) == 0)
        return int32(MMSYSERR_INVALPARAM);
    return SendDriverMessage(driver, ACMDM_FORMATTAG_DETAILS, int32(address_of(details)),
                             int32(flags));
}

int32 acmFormatDetails(driver_t* driver, tACMFORMATDETAILSW* details, uint32 flags)
{
    if (address_of(details) == 0)
        return int32(MMSYSERR_INVALPARAM);
    return SendDriverMessage(driver, ACMDM_FORMAT_DETAILS, int32(address_of(details)),
                             int32(flags));
}

int32 acmStreamOpen(acm_stream_t** stream, driver_t* driver, const tWAVEFORMATEX* source,
                    const tWAVEFORMATEX* destination, const void* filter, uint32 callback,
                    uint32 instance, uint32 openFlags)
{
    if (stream == nullptr || address_of(source) == 0 || address_of(destination) == 0 ||
        (filter != nullptr && address_of(filter) == 0))
        return int32(MMSYSERR_INVALPARAM);
    ACMDRVSTREAMINSTANCE* data =
        static_cast<ACMDRVSTREAMINSTANCE*>(module_calloc(1, sizeof(ACMDRVSTREAMINSTANCE)));
    if (data == nullptr)
        return int32(MMSYSERR_ERROR);
    acm_stream_t* handle = new acm_stream_t;
    handle->driver = driver;
    handle->instance = data;
    data->cbStruct = sizeof(ACMDRVSTREAMINSTANCE);
    data->pwfxSrc = address_of(source);
    data->pwfxDst = address_of(destination);
    data->pwfltr = address_of(filter);
    data->dwCallback = callback;
    data->dwInstance = instance;
    data->fdwOpen = openFlags;
    // The stream handle the driver sees: a number, the record is ours.
    static std::atomic<uint32> sNextStream{1};
    handle->handle = 0x5A000000u | (sNextStream++ & 0x00FFFFFFu);
    data->has = handle->handle;

    int32 result = SendDriverMessage(driver, ACMDM_STREAM_OPEN, int32(address_of(data)), 0);
    if (result != 0) {
        module_free(data);
        delete handle;
        return result;
    }
    *stream = handle;
    return 0;
}

int32 acmStreamClose(acm_stream_t* stream, uint32)
{
    if (stream == nullptr)
        return int32(MMSYSERR_INVALPARAM);
    int32 result = SendDriverMessage(stream->driver, ACMDM_STREAM_CLOSE,
                                     int32(address_of(stream->instance)), 0);
    module_free(stream->instance);
    delete stream;
    return result;
}

int32 acmStreamSize(acm_stream_t* stream, uint32 size, uint32* result, uint32 sizeFlags)
{
    if (stream == nullptr || result == nullptr)
        return int32(MMSYSERR_INVALPARAM);
    ACMDRVSTREAMSIZE* query =
        static_cast<ACMDRVSTREAMSIZE*>(module_calloc(1, sizeof(ACMDRVSTREAMSIZE)));
    if (query == nullptr)
        return int32(MMSYSERR_ERROR);
    query->cbStruct = sizeof(ACMDRVSTREAMSIZE);
    query->fdwSize = sizeFlags;
    query->cbSrcLength = sizeFlags == ACM_STREAMSIZEF_SOURCE ? size : 0;
    query->cbDstLength = sizeFlags == ACM_STREAMSIZEF_DESTINATION ? size : 0;
    int32 status = SendDriverMessage(stream->driver, ACMDM_STREAM_SIZE,
                                     int32(address_of(stream->instance)), int32(address_of(query)));
    *result = sizeFlags == ACM_STREAMSIZEF_SOURCE ? query->cbDstLength : query->cbSrcLength;
    module_free(query);
    return status;
}

namespace
{

int32 header_message(acm_stream_t* stream, tACMSTREAMHEADER* header, uint32 message)
{
    if (stream == nullptr || address_of(header) == 0)
        return int32(MMSYSERR_INVALPARAM);
    int32 result = SendDriverMessage(stream->driver, message, int32(address_of(stream->instance)),
                                     int32(address_of(header)));
    if (message == ACMDM_STREAM_PREPARE)
        header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    else
        header->fdwStatus &= ~uint32(ACMSTREAMHEADER_STATUSF_PREPARED);
    // A driver that does not prepare headers needs none prepared.
    return result == int32(MMSYSERR_NOTSUPPORTED) ? 0 : result;
}

} // namespace

int32 acmStreamPrepareHeader(acm_stream_t* stream, tACMSTREAMHEADER* header, uint32)
{
    return header_message(stream, header, ACMDM_STREAM_PREPARE);
}

int32 acmStreamUnprepareHeader(acm_stream_t* stream, tACMSTREAMHEADER* header, uint32)
{
    return header_message(stream, header, ACMDM_STREAM_UNPREPARE);
}

int32 acmStreamConvert(acm_stream_t* stream, tACMSTREAMHEADER* header, uint32 flags)
{
    if (stream == nullptr || address_of(header) == 0)
        return int32(MMSYSERR_INVALPARAM);
    header->dwReservedDriver[0] = flags;
    return SendDriverMessage(stream->driver, ACMDM_STREAM_CONVERT,
                             int32(address_of(stream->instance)), int32(address_of(header)));
}
