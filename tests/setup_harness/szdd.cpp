#include "szdd.h"

namespace {

// Ring of 4096 bytes; the expander starts writing 16 bytes before its end.
constexpr uint32_t RingSize = 4096;
constexpr uint32_t RingStart = RingSize - 16;
constexpr uint32_t MinMatch = 3;
constexpr uint32_t MaxMatch = 18;

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> CompressSzdd(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', 0};
  Put32(out, uint32_t(data.size()));

  size_t position = 0;
  while (position < data.size()) {
    size_t controlAt = out.size();
    out.push_back(0);
    uint8_t control = 0;
    for (int item = 0; item < 8 && position < data.size(); ++item) {
      // Longest earlier copy within the ring; overlapping copies repeat
      // bytes just as the expander's byte-by-byte copy does.
      size_t bestLength = 0;
      size_t bestDistance = 0;
      size_t farthest = position < RingSize - MaxMatch ? position : RingSize - MaxMatch;
      for (size_t distance = 1; distance <= farthest; ++distance) {
        size_t length = 0;
        while (length < MaxMatch && position + length < data.size() &&
               data[position + length] == data[position + length - distance]) {
          ++length;
        }
        if (length > bestLength) {
          bestLength = length;
          bestDistance = distance;
          if (length == MaxMatch) break;
        }
      }
      if (bestLength >= MinMatch) {
        uint32_t ring = uint32_t(RingStart + position - bestDistance) & (RingSize - 1);
        out.push_back(uint8_t(ring & 0xFF));
        out.push_back(uint8_t(((ring >> 4) & 0xF0) | (bestLength - MinMatch)));
        position += bestLength;
      } else {
        control |= uint8_t(1u << item);  // literal
        out.push_back(data[position++]);
      }
    }
    out[controlAt] = control;
  }
  return out;
}
