// The record navigator's walk: the documents of an archive that meet some criteria (all of
// them with none), in the order they were stored, read a page of ids at a time as the walk
// reaches them, so that an archive of millions is walked without reading it whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/common/archive_engine.h"

namespace kvtapp {

class DocumentWalk {
 public:
  /// Counts the documents at once; the ids come as they are needed. Raises what the engine
  /// raises (a criterion its field cannot hold: 5).
  DocumentWalk(std::shared_ptr<kvtengine::ArchiveEngine> engine, std::string archive,
               std::vector<kvtengine::Criterion> criteria = {});

  /// A walk through these documents in this order (a found list sorted by a column), all
  /// known at once.
  explicit DocumentWalk(std::vector<std::int32_t> ids);

  /// How many documents the walk holds.
  std::int64_t Count() const { return count_; }
  /// The id at `index` (0 the first); 0 when there is none (past the end, or fewer documents
  /// than counted: some were deleted meanwhile).
  std::int32_t At(std::int64_t index);
  /// The last id, 0 when the walk is empty; reads what is left in one query.
  std::int32_t Last();
  /// Where `id` is in the walk, -1 when it is not in it.
  std::int64_t IndexOf(std::int32_t id);
  /// Adds a document stored after the walk began, the newest of all (the walk holds every
  /// document of the archive).
  void Append(std::int32_t id);
  /// Takes a document out of the walk (it was deleted).
  void Forget(std::int32_t id);
  const std::vector<kvtengine::Criterion>& Criteria() const { return criteria_; }
  /// True for a walk through a list given whole (what was found, sorted).
  bool Given() const { return !ordered_; }

 private:
  // Reads the next page of ids; false when there were none left.
  bool ReadMore();
  std::shared_ptr<kvtengine::ArchiveEngine> engine_;
  std::string archive_;
  std::vector<kvtengine::Criterion> criteria_;
  std::int64_t count_ = 0;
  std::vector<std::int32_t> ids_;  // the first ones, ascending
  bool complete_ = false;          // every id read
  std::int32_t page_ = 1000;       // grows as the walk goes far (the last one reads them all)
  bool ordered_ = true;            // ids ascending (false: in the order given)
};

}  // namespace kvtapp
