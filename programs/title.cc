#include "programs/title.h"

#include <algorithm>
#include <string>

#include "encoding/field.h"

namespace programs::title {

bool apply(pxabi::TitleBlock& block) {
  if (block.function() != pxabi::TitleBlock::kCentre) return false;
  const auto text = block.text();
  const std::size_t length = std::min<std::size_t>(block.length(), text.size());
  std::string_view content = encoding::trimmed(text);
  while (!content.empty() && content.front() == ' ') content.remove_prefix(1);
  const std::string kept(content.substr(0, length));
  encoding::blank(text);
  const std::size_t left = (length - kept.size()) / 2;
  std::copy(kept.begin(), kept.end(), text.begin() + static_cast<std::ptrdiff_t>(left));
  return true;
}

}  // namespace programs::title
