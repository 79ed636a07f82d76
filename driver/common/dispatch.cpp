// The request entry the kernel side in C calls: the flavour's backend behind
// the common validation.
#include "driver/common/flavour.h"
#include "driver/common/requests.h"

extern "C" int QzDispatchRequest(uint32_t code, void* buffer, uint32_t inputLength, uint32_t outputLength,
                                 uint32_t* returned)
{
    return QzHandleRequest(QzFlavourBackend(), code, buffer, inputLength, buffer, outputLength, returned);
}

extern "C" int QzFindCardWindows(void)
{
    return QzFindWindows(QzFlavourBackend());
}

// kernel_main.c knows these values by number.
static_assert(QzRequestOk == 0 && QzRequestUnknownCode == 1 && QzRequestBadParameter == 2 &&
                  QzRequestBufferTooSmall == 3 && QzRequestDeviceFailure == 4 &&
                  QzRequestOutsideWindow == 5,
              "request status values");
