// Compressor for the system's LZ file format ("SZDD"), to make compressed
// test sources that the LZ expansion of QZSetup's copies must undo.
#ifndef QZ_TESTS_SETUP_HARNESS_SZDD_H
#define QZ_TESTS_SETUP_HARNESS_SZDD_H

#include <cstdint>
#include <vector>

std::vector<uint8_t> CompressSzdd(const std::vector<uint8_t>& data);

#endif
