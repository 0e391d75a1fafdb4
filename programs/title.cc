#include "programs/title.h"

#include <algorithm>
#include <string>

#include "encoding/field.h"

namespace programs::title {

bool apply(std::span<char, kBlockSize> block) {
  if (block[0] != 'Z') return false;
  const std::size_t length =
      std::min<std::size_t>(encoding::getBigEndian(block.subspan<1, 2>()), kTextWidth);
  const auto text = block.subspan<3, kTextWidth>();
  std::string_view content = encoding::trimmed(text);
  while (!content.empty() && content.front() == ' ') content.remove_prefix(1);
  const std::string kept(content.substr(0, length));
  encoding::blank(text);
  const std::size_t left = (length - kept.size()) / 2;
  std::copy(kept.begin(), kept.end(), text.begin() + static_cast<std::ptrdiff_t>(left));
  return true;
}

}  // namespace programs::title
