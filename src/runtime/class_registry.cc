#include "runtime/class_registry.h"

#include <cstdio>

#include "runtime/error.h"

namespace kvt {
namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<Uuid> Uuid::Parse(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return std::nullopt;
  Uuid u;
  std::size_t b = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    u.bytes[b++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  return u;
}

std::string Uuid::ToString() const {
  char buf[40];
  const auto& x = bytes;
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", x[0],
                x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9], x[10], x[11], x[12], x[13],
                x[14], x[15]);
  return buf;
}

bool Uuid::IsNil() const noexcept {
  for (auto b : bytes) {
    if (b) return false;
  }
  return true;
}

ClassRegistry& ClassRegistry::Instance() {
  static ClassRegistry registry;
  return registry;
}

void ClassRegistry::Register(std::string_view prog_id, const Uuid& clsid, Factory factory) {
  if (prog_id.empty() || !factory) {
    throw RuntimeError(ErrorCode::kInvalidProcedureCall,
                       "class registration needs a name and a factory");
  }
  Unregister(prog_id);
  by_prog_id_[std::string(prog_id)] = Entry{std::string(prog_id), clsid, std::move(factory)};
  if (!clsid.IsNil()) by_clsid_[clsid] = std::string(prog_id);
}

void ClassRegistry::Unregister(std::string_view prog_id) {
  auto it = by_prog_id_.find(prog_id);
  if (it == by_prog_id_.end()) return;
  if (!it->second.clsid.IsNil()) by_clsid_.erase(it->second.clsid);
  by_prog_id_.erase(it);
}

bool ClassRegistry::IsRegistered(std::string_view prog_id) const {
  return by_prog_id_.contains(prog_id);
}

std::optional<Uuid> ClassRegistry::ClassIdOf(std::string_view prog_id) const {
  auto it = by_prog_id_.find(prog_id);
  if (it == by_prog_id_.end()) return std::nullopt;
  return it->second.clsid;
}

std::optional<ClassRegistry::Entry> ClassRegistry::Lookup(std::string_view prog_id) const {
  auto it = by_prog_id_.find(prog_id);
  if (it == by_prog_id_.end()) return std::nullopt;
  return it->second;
}

ObjectRef ClassRegistry::Create(std::string_view id) const {
  if (auto clsid = Uuid::Parse(id)) return Create(*clsid);
  auto it = by_prog_id_.find(id);
  if (it == by_prog_id_.end()) {
    throw RuntimeError(ErrorCode::kCannotCreateObject,
                       "class '" + std::string(id) + "' is not registered");
  }
  return it->second.factory();
}

ObjectRef ClassRegistry::Create(const Uuid& clsid) const {
  auto it = by_clsid_.find(clsid);
  if (it == by_clsid_.end()) {
    throw RuntimeError(ErrorCode::kCannotCreateObject,
                       "class " + clsid.ToString() + " is not registered");
  }
  return by_prog_id_.at(it->second).factory();
}

ObjectRef CreateObject(std::string_view id) {
  return ClassRegistry::Instance().Create(id);
}

ScopedRegistration::ScopedRegistration(std::string_view prog_id, ClassRegistry::Factory factory,
                                       const Uuid& clsid)
    : prog_id_(prog_id), previous_(ClassRegistry::Instance().Lookup(prog_id)) {
  ClassRegistry::Instance().Register(prog_id, clsid, std::move(factory));
}

ScopedRegistration::~ScopedRegistration() {
  auto& reg = ClassRegistry::Instance();
  reg.Unregister(prog_id_);
  if (previous_) reg.Register(previous_->prog_id, previous_->clsid, previous_->factory);
}

}  // namespace kvt
