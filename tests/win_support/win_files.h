// Whole files, as the Wine harnesses write test input and read results, and
// their screenshots.
#ifndef QZ_TESTS_WIN_SUPPORT_WIN_FILES_H
#define QZ_TESTS_WIN_SUPPORT_WIN_FILES_H

#include <cstdint>
#include <string>
#include <vector>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// Pixels top-down, 0x00RRGGBB, saved as an 8-bit RGB PNG file.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels);

#endif
