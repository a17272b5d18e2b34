#include "text/unicode_folding.h"

namespace tavik {
namespace {

struct FoldMapping {
  uint16_t offset;  // in kFoldPool
  uint8_t length;
};

#include "unicode_folding_table.inc"

constexpr uint16_t FoldValue(char32_t point) {
  if (point > 0x10FFFF) return 0;
  const uint16_t block = kFoldStage1[point >> kFoldBlockBits];
  return kFoldStage2[(size_t{block} << kFoldBlockBits) +
                     (point & ((1u << kFoldBlockBits) - 1))];
}

// The ASCII table, made from the general one when the library is built.
constexpr AsciiFoldingTable MakeAsciiFolding() {
  AsciiFoldingTable table = {};
  for (char32_t byte = 0; byte < 128; ++byte) {
    const uint16_t value = FoldValue(byte);
    if (value == 1) {
      table.folded[byte] = static_cast<unsigned char>(byte);
    } else if (value >= 2 && kFoldMappings[value - 2].length == 1) {
      const char32_t to = kFoldPool[kFoldMappings[value - 2].offset];
      if (FoldValue(to) == 1) table.folded[byte] = static_cast<unsigned char>(to);
    }
  }
  return table;
}

}  // namespace

constexpr AsciiFoldingTable kAsciiFolding = MakeAsciiFolding();
static_assert(kAsciiFolding.folded['A'] == 'a');
static_assert(kAsciiFolding.folded['z'] == 'z');
static_assert(kAsciiFolding.folded['7'] == '7');
static_assert(kAsciiFolding.folded['\''] == 0);

CodePointFolding CodePointFolding::Of(char32_t point) {
  return CodePointFolding(FoldValue(point));
}

const char32_t* CodePointFolding::points() const {
  return kFoldPool + kFoldMappings[value_ - 2].offset;
}

size_t CodePointFolding::count() const {
  return kFoldMappings[value_ - 2].length;
}

}  // namespace tavik
