// A fresh QZFlash process on the virtual card, reached through the scripted
// service manager, system, dialogs and window and the recording UI. The
// program lives in a temporary folder that holds its driver file; image
// files are written there too.
#pragma once
#include <stdint.h>

#include <string>

#include "tests/support/vcard_fixture.h"
#include "vcard/host/vcard_host.h"

class FlowTest : public VcardTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads the profile; the kernel driver starts out not running (its device
    // opens only while the scripted service runs).
    bool Machine(const char* profileText);
    // The device opens at once, as after an earlier run that left it running.
    void DriverAlreadyRunning();

    // A path in the program's temporary folder.
    std::string PathOf(const char* name) const;
    // Writes `bytes` bytes of `data` to the named file.
    bool WriteFile(const std::string& path, const uint8_t* data, size_t bytes);
    // The whole content of a file; empty when it cannot be read.
    std::string ReadWholeFile(const std::string& path);
    bool Exists(const std::string& path);

    // A valid image of `length` bytes with the given ids and version.
    void MakeImage(uint8_t* out, uint32_t length, uint16_t vendorId, uint16_t deviceId, const char* version);

    // The status line `index` as stored, without trailing blanks.
    std::string Line(int index) const;
    // Last message box text, or "".
    std::string LastBox() const;

    std::string folder;   // ends with a separator
};

// Profiles used by several tests.
extern const char OneCardProfile[];     // 0x0281, SST 39VF010, image 04.28.20.05
extern const char DualBiosProfile[];    // 0x0253 booted from ROM 2, two 39VF010
