#include "backup/row_snapshot.h"

#include <stdexcept>

namespace qz {
namespace {

void AppendLength(std::string& buffer, std::size_t number) {
  while (number >= 0x80) {
    buffer += static_cast<char>((number & 0x7f) | 0x80);
    number >>= 7;
  }
  buffer += static_cast<char>(number);
}

std::size_t ReadLength(std::string_view buffer, std::size_t& at) {
  std::size_t number = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(buffer[at++]);
    number |= static_cast<std::size_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return number;
  }
}

}  // namespace

void RowSnapshot::Reset(std::vector<int> keptPositions, int columnCount) {
  kept_ = std::move(keptPositions);
  slotOf_.assign(static_cast<std::size_t>(columnCount), -1);
  for (std::size_t slot = 0; slot < kept_.size(); ++slot) {
    const int position = kept_[slot];
    if (position < 0 || position >= columnCount || (slot > 0 && position <= kept_[slot - 1]))
      throw std::invalid_argument("kept positions must ascend within the row");
    slotOf_[static_cast<std::size_t>(position)] = static_cast<int>(slot);
  }
  buffer_.clear();
  buffer_.shrink_to_fit();
  rowStart_.clear();
  rowStart_.shrink_to_fit();
}

bool RowSnapshot::Keeps(int position) const {
  return position >= 0 && position < static_cast<int>(slotOf_.size()) &&
         slotOf_[static_cast<std::size_t>(position)] >= 0;
}

void RowSnapshot::StartRow() {
  rowStart_.push_back(buffer_.size());
}

void RowSnapshot::AppendValue(const std::optional<std::string>& value) {
  AppendLength(buffer_, value ? value->size() + 1 : 0);
  if (value) buffer_ += *value;
}

void RowSnapshot::Seal() {
  buffer_.shrink_to_fit();
  rowStart_.shrink_to_fit();
}

std::optional<std::string_view> RowSnapshot::Value(std::size_t row, int position) const {
  if (row >= rowStart_.size()) throw std::out_of_range("no such row in the snapshot");
  if (!Keeps(position)) throw std::logic_error("the snapshot does not keep this column");
  const std::string_view buffer(buffer_);
  std::size_t at = rowStart_[row];
  for (int slot = slotOf_[static_cast<std::size_t>(position)]; slot > 0; --slot) {
    const std::size_t length = ReadLength(buffer, at);
    at += length > 0 ? length - 1 : 0;
  }
  const std::size_t length = ReadLength(buffer, at);
  if (length == 0) return std::nullopt;
  return buffer.substr(at, length - 1);
}

}  // namespace qz
