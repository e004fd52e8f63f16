#include "runtime/record_set.h"

#include "runtime/class_builder.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvt {
namespace {

constexpr const char* kSource = "kvtRuntime.RecordSet";

// One column of a record set, read in the row that is current when Value is asked.
class RecordField final : public Object {
  KVT_OBJECT()

 public:
  RecordField(std::shared_ptr<RecordSet> rs, std::int32_t index) : rs_(std::move(rs)), i_(index) {}
  std::string Name() const { return rs_->FieldName(i_); }
  Variant Value() const { return rs_->Value(i_); }

 private:
  std::shared_ptr<RecordSet> rs_;
  std::int32_t i_;
};

class RecordFields final : public Object, public Enumerable {
  KVT_OBJECT()

 public:
  explicit RecordFields(std::shared_ptr<RecordSet> rs) : rs_(std::move(rs)) {}
  std::int32_t Count() const { return rs_->FieldCount(); }
  ObjectRef Item(const Variant& index) const {
    std::int32_t i;
    if (index.IsString()) {
      i = rs_->FindField(index.AsString());
      if (i < 0)
        throw RuntimeError(ErrorCode::kFieldNotFound, "'" + index.AsString() + "'", kSource);
    } else {
      i = CLng(index);
      if (i < 0 || i >= rs_->FieldCount()) {
        throw RuntimeError(ErrorCode::kFieldNotFound, std::to_string(i), kSource);
      }
    }
    return std::make_shared<RecordField>(rs_, i);
  }
  std::vector<Variant> EnumerateItems() const override {
    std::vector<Variant> out;
    for (std::int32_t i = 0; i < rs_->FieldCount(); ++i) {
      out.emplace_back(ObjectRef(std::make_shared<RecordField>(rs_, i)));
    }
    return out;
  }

 private:
  std::shared_ptr<RecordSet> rs_;
};

const ClassInfo& RecordField::StaticClass() {
  static const ClassInfo info = ClassBuilder<RecordField>("Field")
                                    .Get<&RecordField::Value>("Value")
                                    .Default()
                                    .Get<&RecordField::Name>("Name")
                                    .Build();
  return info;
}

const ClassInfo& RecordFields::StaticClass() {
  static const ClassInfo info = ClassBuilder<RecordFields>("Fields")
                                    .Get<&RecordFields::Item>("Item")
                                    .Default()
                                    .Params({"Index"})
                                    .Get<&RecordFields::Count>("Count")
                                    .Build();
  return info;
}

}  // namespace

const ClassInfo& RecordSet::StaticClass() {
  static const ClassInfo info = ClassBuilder<RecordSet>("Recordset")
                                    .Get<&RecordSet::Eof>("EOF")
                                    .Get<&RecordSet::Bof>("BOF")
                                    .Get<&RecordSet::Fields>("Fields")
                                    .Method<&RecordSet::MoveNext>("MoveNext")
                                    .Method<&RecordSet::MoveFirst>("MoveFirst")
                                    .Method<&RecordSet::Close>("Close")
                                    .Build();
  return info;
}

void RecordSet::EnsureOpen() const {
  if (!open_) throw RuntimeError(ErrorCode::kRecordSetClosed, {}, kSource);
}

bool RecordSet::Eof() const {
  EnsureOpen();
  return position_ >= RowCount();
}

bool RecordSet::Bof() const {
  EnsureOpen();
  return RowCount() == 0 || position_ < 0;
}

std::int32_t RecordSet::FieldCount() const {
  EnsureOpen();
  return ColumnCount();
}

std::string RecordSet::FieldName(std::int32_t index) const {
  EnsureOpen();
  if (index < 0 || index >= ColumnCount()) {
    throw RuntimeError(ErrorCode::kFieldNotFound, std::to_string(index), kSource);
  }
  return ColumnName(index);
}

std::int32_t RecordSet::FindField(std::string_view name) const {
  EnsureOpen();
  const std::int32_t n = ColumnCount();
  for (std::int32_t k = 0; k < n; ++k) {
    const std::int32_t i = (search_from_ + k) % n;
    if (EqualsIgnoreCase(ColumnName(i), name)) {
      search_from_ = i + 1;
      return i;
    }
  }
  return -1;
}

Variant RecordSet::Value(std::int32_t index) const {
  EnsureOpen();
  if (index < 0 || index >= ColumnCount()) {
    throw RuntimeError(ErrorCode::kFieldNotFound, std::to_string(index), kSource);
  }
  if (position_ < 0 || position_ >= RowCount()) {
    throw RuntimeError(ErrorCode::kNoCurrentRecord, {}, kSource);
  }
  return Cell(position_, index);
}

Variant RecordSet::Value(std::string_view name) const {
  const std::int32_t i = FindField(name);
  if (i < 0) throw RuntimeError(ErrorCode::kFieldNotFound, "'" + std::string(name) + "'", kSource);
  return Value(i);
}

void RecordSet::MoveNext() {
  if (Eof()) throw RuntimeError(ErrorCode::kNoCurrentRecord, {}, kSource);
  ++position_;
}

void RecordSet::MoveFirst() {
  EnsureOpen();
  position_ = 0;
}

void RecordSet::Close() {
  EnsureOpen();
  open_ = false;
  OnClose();
}

ObjectRef RecordSet::Fields() {
  EnsureOpen();
  return std::make_shared<RecordFields>(std::static_pointer_cast<RecordSet>(shared_from_this()));
}

MemoryRecordSet::MemoryRecordSet(std::vector<std::string> columns,
                                 std::vector<std::vector<Variant>> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)) {
  for (const auto& r : rows_) {
    if (r.size() != columns_.size()) {
      throw RuntimeError(ErrorCode::kInvalidProcedureCall, "row width differs from columns",
                         kSource);
    }
  }
}

const std::string& MemoryRecordSet::ColumnName(std::int32_t i) const {
  return columns_[static_cast<std::size_t>(i)];
}

const Variant& MemoryRecordSet::Cell(std::int64_t row, std::int32_t column) const {
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void MemoryRecordSet::OnClose() {
  rows_.clear();  // a closed record set holds no data
  columns_.clear();
}

}  // namespace kvt
