// A flash runs on fixed buffers only: no heap allocation from the first
// request to the last message box.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <new>
#include "core/state.h"
#include "engine/flash.h"
#include "engine/parts.h"
#include "engine_card.h"

namespace {
volatile size_t Allocations;
}

void* operator new(size_t size)
{
    ++Allocations;
    void* p = malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void* operator new[](size_t size)
{
    return operator new(size);
}

void operator delete(void* p) noexcept
{
    free(p);
}

void operator delete[](void* p) noexcept
{
    free(p);
}

void operator delete(void* p, size_t) noexcept
{
    free(p);
}

void operator delete[](void* p, size_t) noexcept
{
    free(p);
}

namespace {

TEST(Heap, FlashAndReadBackAllocateNothing)
{
    const struct {
        const char* partName;
        uint8_t deviceId;
        uint32_t strap;
    } cards[] = {{"29C512", 0x5D, InterfaceParallel}, {"M25P05", 0x05, InterfaceSpi}};
    for (const auto& card : cards) {
        ASSERT_TRUE(AttachEngineCard(card.partName, card.deviceId, card.strap));
        ASSERT_TRUE(IdentifyEngineCard());
        MakeTestImage(16384, TestVendorId, TestDeviceId);
        const size_t before = Allocations;
        bool flashed = FlashImage();
        bool read = ReadRomImage(SpareImageBuffer);
        const size_t after = Allocations;
        EXPECT_TRUE(flashed);
        EXPECT_TRUE(read);
        EXPECT_EQ(before, after) << card.partName;
    }
    // The counter does count: this allocation must show.
    const size_t before = Allocations;
    int* volatile probe = new int(1);
    delete probe;
    EXPECT_EQ(before + 1, Allocations);
}

} // namespace
