// The selected rows as a run keeps them: only the chosen columns of each row, packed one after
// another into a single buffer, so that a backlog of many rows costs little memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

class RowSnapshot {
 public:
  // Forgets every row; afterwards rows hold the values of `keptPositions` (ascending result
  // positions, from 0) among `columnCount` columns.
  void Reset(std::vector<int> keptPositions, int columnCount);

  bool Keeps(int position) const;
  const std::vector<int>& KeptPositions() const { return kept_; }

  // A new row, then its kept values in ascending position order; nothing stands for NULL.
  void StartRow();
  void AppendValue(const std::optional<std::string>& value);
  // Gives back the room reserved for rows that never came.
  void Seal();

  std::size_t RowCount() const { return rowStart_.size(); }
  // The value of `position` in row `row`; std::logic_error when that column is not kept.
  std::optional<std::string_view> Value(std::size_t row, int position) const;
  std::size_t BufferBytes() const { return buffer_.capacity() + rowStart_.capacity() * 8; }

 private:
  std::vector<int> kept_;
  std::vector<int> slotOf_;  // by position: index among the kept values, or -1
  std::string buffer_;       // per value: its length + 1 as a base-128 number (0: NULL), its bytes
  std::vector<std::size_t> rowStart_;
};

}  // namespace qz
