// SPDX-License-Identifier: BSD-2-Clause-Patent
// The GUIDs of the volumes and files that enclose a volume or file,
// outermost first. One list is shared by a volume and every file it holds:
// a file costs a pointer, not a copy, however deep it lies.
#pragma once

#include <compare>
#include <cstddef>
#include <memory>
#include <vector>

#include "fwtree/guid.h"

namespace fwtree {

class GuidPath {
 public:
  using value_type = Guid;
  using const_iterator = std::vector<Guid>::const_iterator;
  using iterator = const_iterator;

  GuidPath() = default;
  explicit GuidPath(std::vector<Guid> guids) : guids_(std::make_shared<const std::vector<Guid>>(std::move(guids))) {}

  const std::vector<Guid>& guids() const { return guids_ ? *guids_ : Empty(); }
  operator const std::vector<Guid>&() const { return guids(); }

  size_t size() const { return guids().size(); }
  bool empty() const { return guids().empty(); }
  const_iterator begin() const { return guids().begin(); }
  const_iterator end() const { return guids().end(); }
  const Guid& operator[](size_t index) const { return guids()[index]; }
  const Guid& back() const { return guids().back(); }
  // Whether both share one list (then they are equal without a look).
  bool SameList(const GuidPath& other) const { return guids_ == other.guids_; }

  friend bool operator==(const GuidPath& a, const GuidPath& b) { return a.SameList(b) || a.guids() == b.guids(); }
  friend bool operator==(const GuidPath& a, const std::vector<Guid>& b) { return a.guids() == b; }
  friend auto operator<=>(const GuidPath& a, const GuidPath& b) { return a.guids() <=> b.guids(); }

 private:
  static const std::vector<Guid>& Empty() {
    static const std::vector<Guid> empty;
    return empty;
  }

  std::shared_ptr<const std::vector<Guid>> guids_;
};

}  // namespace fwtree
