// Whole files, as the Wine harnesses write test input and read results.
#ifndef QZ_TESTS_WIN_SUPPORT_WIN_FILES_H
#define QZ_TESTS_WIN_SUPPORT_WIN_FILES_H

#include <cstdint>
#include <string>
#include <vector>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);

#endif
