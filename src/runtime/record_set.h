// Record sets as database engines return them: a current row read by column name or position,
// EOF and BOF tests, Close. Using a closed record set raises 3704; reading a value without a
// current row raises 3021; an unknown column raises 3265.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/object.h"

namespace kvt {

class RecordSet : public Object {
  KVT_OBJECT()

 public:
  /// No current row because the position is after the last row (or there are no rows).
  bool Eof() const;
  /// No current row because the position is before the first row (or there are no rows).
  bool Bof() const;
  std::int32_t FieldCount() const;
  /// Name of column `index` (0-based).
  std::string FieldName(std::int32_t index) const;
  /// Position of a column (name compared without regard to ASCII letter case), or -1.
  std::int32_t FindField(std::string_view name) const;
  /// Value of a column in the current row.
  Variant Value(std::int32_t index) const;
  Variant Value(std::string_view name) const;
  void MoveNext();
  void MoveFirst();
  void Close();
  bool IsOpen() const noexcept { return open_; }

  /// Late-bound `Fields`: a collection of field objects (by name, by position, For Each).
  ObjectRef Fields();

 protected:
  RecordSet() = default;
  // The storage of the rows is the subclass's.
  virtual std::int64_t RowCount() const = 0;
  virtual std::int32_t ColumnCount() const = 0;
  virtual const std::string& ColumnName(std::int32_t index) const = 0;
  virtual const Variant& Cell(std::int64_t row, std::int32_t column) const = 0;
  virtual void OnClose() {}

 private:
  void EnsureOpen() const;
  std::int64_t position_ = 0;
  bool open_ = true;
  // Where the next name lookup starts: readers mostly ask for the columns in their order.
  mutable std::int32_t search_from_ = 0;
};

/// A record set that holds its rows in memory.
class MemoryRecordSet final : public RecordSet {
 public:
  MemoryRecordSet(std::vector<std::string> columns, std::vector<std::vector<Variant>> rows);
  static std::shared_ptr<MemoryRecordSet> Create(std::vector<std::string> columns,
                                                 std::vector<std::vector<Variant>> rows) {
    return std::make_shared<MemoryRecordSet>(std::move(columns), std::move(rows));
  }

 protected:
  std::int64_t RowCount() const override { return static_cast<std::int64_t>(rows_.size()); }
  std::int32_t ColumnCount() const override { return static_cast<std::int32_t>(columns_.size()); }
  const std::string& ColumnName(std::int32_t i) const override;
  const Variant& Cell(std::int64_t row, std::int32_t column) const override;
  void OnClose() override;

 private:
  std::vector<std::string> columns_;
  std::vector<std::vector<Variant>> rows_;
};

}  // namespace kvt
