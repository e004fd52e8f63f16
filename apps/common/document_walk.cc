#include "common/document_walk.h"

#include <algorithm>
#include <limits>

namespace kvtapp {

DocumentWalk::DocumentWalk(std::shared_ptr<kvtengine::ArchiveEngine> engine, std::string archive,
                           std::vector<kvtengine::Criterion> criteria)
    : engine_(std::move(engine)), archive_(std::move(archive)), criteria_(std::move(criteria)) {
  count_ = engine_->CountDocuments(archive_, criteria_);
}

DocumentWalk::DocumentWalk(std::vector<std::int32_t> ids)
    : count_(static_cast<std::int64_t>(ids.size())),
      ids_(std::move(ids)),
      complete_(true),
      ordered_(false) {}

bool DocumentWalk::ReadMore() {
  if (complete_) return false;
  const std::int32_t after = ids_.empty() ? 0 : ids_.back();
  const auto page = engine_->SearchDocuments(archive_, criteria_, after, page_);
  ids_.insert(ids_.end(), page.begin(), page.end());
  complete_ = static_cast<std::int32_t>(page.size()) < page_;
  // A walk that goes far goes on: fewer, larger queries.
  page_ = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{page_} * 4, 1 << 20));
  if (complete_) count_ = static_cast<std::int64_t>(ids_.size());
  return !page.empty();
}

std::int32_t DocumentWalk::At(std::int64_t index) {
  if (index < 0) return 0;
  while (static_cast<std::int64_t>(ids_.size()) <= index && ReadMore()) {
  }
  return index < static_cast<std::int64_t>(ids_.size()) ? ids_[static_cast<std::size_t>(index)] : 0;
}

std::int32_t DocumentWalk::Last() {
  page_ = std::numeric_limits<std::int32_t>::max();
  while (ReadMore()) {
  }
  return ids_.empty() ? 0 : ids_.back();
}

std::int64_t DocumentWalk::IndexOf(std::int32_t id) {
  if (!ordered_) {
    const auto it = std::find(ids_.begin(), ids_.end(), id);
    return it != ids_.end() ? it - ids_.begin() : -1;
  }
  while ((ids_.empty() || ids_.back() < id) && ReadMore()) {
  }
  const auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
  return it != ids_.end() && *it == id ? it - ids_.begin() : -1;
}

void DocumentWalk::Append(std::int32_t id) {
  if (!ordered_) return;  // a list given whole holds what it was given
  ++count_;
  if (complete_) ids_.push_back(id);  // otherwise the next page brings it
}

void DocumentWalk::Forget(std::int32_t id) {
  const auto it = ordered_ ? std::lower_bound(ids_.begin(), ids_.end(), id)
                           : std::find(ids_.begin(), ids_.end(), id);
  if (it == ids_.end() || *it != id) return;  // not read yet: it will not be
  ids_.erase(it);
  --count_;
}

}  // namespace kvtapp
