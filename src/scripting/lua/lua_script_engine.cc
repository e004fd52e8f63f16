#include "scripting/lua/lua_script_engine.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kvtfields/contracts/script_source.h"
#include "runtime/class_builder.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/text.h"

// Lua unwinds errors with longjmp, which skips C++ destructors. So no Lua error is ever raised
// while a C++ object with a destructor is alive in the frames it would skip: bridge functions
// catch C++ errors, keep them in the engine's state, let their locals die, and only then raise;
// and allocations made while C++ pushes values (BridgeScope) are not refused on the spot: they
// are counted, and a bridge call that took the engine past its cap raises the memory error as
// it returns to Lua.
//
// The limits belong to the outermost call: a script event raised inside another one (a field
// written by the script raises its change event) shares the outer call's instructions, time
// and memory. Once a limit is hit, protected calls in the script cannot swallow it.

namespace kvtlua {

struct ScriptEngine::State {
  lua_State* L = nullptr;
  std::size_t used = 0;
  std::size_t cap = 0;
  int bridge_depth = 0;
  int call_depth = 0;  // script calls running, the outermost first
  bool memory_refused = false;
  bool over_cap = false;  // a bridge call went past the cap; raised when it returns
  std::int64_t left = 0;
  bool budget_hit = false;
  bool time_hit = false;
  std::chrono::steady_clock::time_point deadline;
  bool LimitHit() const { return budget_hit || time_hit || memory_refused || over_cap; }
  std::string set_name;
  std::optional<kvt::Error> pending;  // a C++ error waiting to be raised in Lua
  // Text the script handed to host objects (captions, values, method arguments) lives on in
  // them: it counts toward the cap as long as the engine lives. A property counts its last
  // value; a method everything passed to it.
  std::size_t host_bytes = 0;
  std::unordered_map<std::string, std::size_t> held;
  std::unordered_set<const void*> seen_objects;  // objects a method gave back, charged once
  ~State() {
    if (L) lua_close(L);
  }
};

namespace {

using State = ScriptEngine::State;

constexpr const char* kObjectMeta = "kvt.Object";
constexpr const char* kDateMeta = "kvt.Date";
constexpr const char* kErrorMeta = "kvt.Error";
constexpr int kHookEvery = 1000;
constexpr std::size_t kObjectCharge = 1024;  // what a host object made for a script holds, at least
// Script values turned into host values: how deep tables may nest and how many items in all.
constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxItems = 100'000;
char kNullSentinel;  // its address is Null's light userdata

State& StateOf(lua_State* L) {
  return **static_cast<State**>(lua_getextraspace(L));
}

struct BridgeScope {
  State& s;
  explicit BridgeScope(State& state) : s(state) { ++s.bridge_depth; }
  ~BridgeScope() { --s.bridge_depth; }
};

struct ObjectBox {
  kvt::ObjectRef object;
};

void* Allocate(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
  auto* s = static_cast<State*>(ud);
  const std::size_t old = ptr ? osize : 0;
  if (nsize == 0) {
    s->used -= old;
    std::free(ptr);
    return nullptr;
  }
  if (nsize > old && s->used - old + nsize + s->host_bytes > s->cap) {
    if (s->bridge_depth == 0) {
      s->memory_refused = true;
      return nullptr;  // Lua raises "not enough memory" in the script
    }
    s->over_cap = true;  // C++ is pushing a value: it cannot fail here, the bridge raises later
  }
  void* p = std::realloc(ptr, nsize);
  if (p) s->used = s->used - old + nsize;
  return p;
}

const char* LimitMessage(const State& s) {
  if (s.time_hit) return "the script ran past its time limit";
  if (s.budget_hit) return "the script ran past its instruction budget";
  return "the script reached the engine's memory limit";
}

void CountHook(lua_State* L, lua_Debug*) {
  State& s = StateOf(L);
  s.left -= kHookEvery;
  if (s.left < 0) s.budget_hit = true;
  if (std::chrono::steady_clock::now() > s.deadline) s.time_hit = true;
  if (s.LimitHit()) luaL_error(L, "%s", LimitMessage(s));
}

constexpr const char* kSandboxChunk = "=kvt sandbox";

// "name:line: " of the nearest script line on the stack, passing over the sandbox's own
// wrappers (string.find is one): a message points at the line the script author wrote.
void PushScriptWhere(lua_State* L) {
  lua_Debug ar;
  for (int level = 1; lua_getstack(L, level, &ar); ++level) {
    lua_getinfo(L, "Sl", &ar);
    if (ar.currentline > 0 && std::string_view(ar.source) != kSandboxChunk) {
      lua_pushfstring(L, "%s:%d: ", ar.short_src, ar.currentline);
      return;
    }
  }
  lua_pushliteral(L, "");
}

// Pattern matching is one C call that no instruction count sees, and backtracking over k
// repetition items can take time that grows as length^k. Before string.find, match, gmatch and
// gsub run, that bound is estimated and a match that could run for seconds is refused.
int CheckPattern(lua_State* L) {
  // (name, text, pattern, ...): find's fourth argument asks for a plain search.
  std::size_t n = 0, m = 0;
  const bool find = lua_type(L, 1) == LUA_TSTRING && std::string_view(lua_tostring(L, 1)) == "find";
  const bool plain = find && lua_toboolean(L, 5) != 0;
  if (lua_type(L, 2) != LUA_TSTRING || lua_type(L, 3) != LUA_TSTRING) return 0;
  const char* text = lua_tolstring(L, 2, &n);
  const char* pattern = lua_tolstring(L, 3, &m);
  if (!text || !pattern || plain) return 0;
  int repeats = 0;
  for (std::size_t i = 0; i < m; ++i) {
    const char c = pattern[i];
    if (c == '%') {
      ++i;  // an escape: the next character is literal (or a class)
    } else if (c == '[') {
      for (++i; i < m && pattern[i] != ']'; ++i) {
        if (pattern[i] == '%') ++i;
      }
    } else if (c == '*' || c == '+' || c == '-' || c == '?') {
      ++repeats;
    }
  }
  constexpr double kMaxSteps = 1e8;
  double steps = 1;
  for (int i = 0; i < repeats && steps <= kMaxSteps; ++i) steps *= static_cast<double>(n) + 1;
  if (repeats > 1 && steps > kMaxSteps) {
    PushScriptWhere(L);
    lua_pushfstring(L, "pattern with %d repetitions is too costly for a text of %d characters",
                    repeats, static_cast<int>(n));
    lua_concat(L, 2);
    return lua_error(L);
  }
  return 0;
}

// After a protected call in the script (pcall, xpcall, coroutine.resume): a limit that was hit
// inside it goes on up; otherwise its results are returned as they are.
int KeepLimits(lua_State* L) {
  const State& s = StateOf(L);
  if (s.LimitHit()) return luaL_error(L, "%s", LimitMessage(s));
  return lua_gettop(L);
}

// ---- Values between the runtime and Lua

void PushVariant(lua_State* L, const kvt::Variant& v);

void PushObject(lua_State* L, const kvt::ObjectRef& o) {
  if (!o) {
    lua_pushnil(L);
    return;
  }
  void* mem = lua_newuserdatauv(L, sizeof(ObjectBox), 0);
  new (mem) ObjectBox{o};
  luaL_setmetatable(L, kObjectMeta);
}

void PushDate(lua_State* L, kvt::Date d) {
  *static_cast<double*>(lua_newuserdatauv(L, sizeof(double), 0)) = d.serial;
  luaL_setmetatable(L, kDateMeta);
}

void PushVariant(lua_State* L, const kvt::Variant& v) {
  lua_checkstack(L, 4);
  switch (v.Type()) {
    case kvt::VarType::kEmpty:
      lua_pushnil(L);
      break;
    case kvt::VarType::kNull:
      lua_pushlightuserdata(L, &kNullSentinel);
      break;
    case kvt::VarType::kBoolean:
      lua_pushboolean(L, v.AsBool());
      break;
    case kvt::VarType::kInteger:
    case kvt::VarType::kLong:
      lua_pushinteger(L, kvt::CLng(v));
      break;
    case kvt::VarType::kDouble:
      lua_pushnumber(L, v.AsDouble());
      break;
    case kvt::VarType::kDate:
      PushDate(L, v.AsDate());
      break;
    case kvt::VarType::kString:
      lua_pushlstring(L, v.AsString().data(), v.AsString().size());
      break;
    case kvt::VarType::kObject:
      PushObject(L, v.AsObject());
      break;
    case kvt::VarType::kArray: {
      const auto& a = v.AsArray();
      lua_createtable(L, static_cast<int>(a.size()), 0);
      for (std::size_t i = 0; i < a.size(); ++i) {
        PushVariant(L, a[i]);
        lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
      }
      break;
    }
  }
}

// How far a conversion has come: the tables on the way down (a table that contains itself is
// refused, not followed) and the items converted so far.
struct Walk {
  std::vector<const void*> path;
  std::size_t items = 0;
};

kvt::Variant ToVariant(lua_State* L, int idx, Walk& walk);

// Reads a Lua value; what has no variant (functions, threads, foreign userdata) raises 13.
kvt::Variant ToVariant(lua_State* L, int idx) {
  Walk walk;
  return ToVariant(L, idx, walk);
}

kvt::Variant ToVariant(lua_State* L, int idx, Walk& walk) {
  idx = lua_absindex(L, idx);
  if (++walk.items > kMaxItems) {
    throw kvt::RuntimeError(kvt::ErrorCode::kOverflow,
                            "a script value of more than " + std::to_string(kMaxItems) + " items",
                            kSource);
  }
  switch (lua_type(L, idx)) {
    case LUA_TNIL:
    case LUA_TNONE:
      return kvt::Variant();
    case LUA_TBOOLEAN:
      return kvt::Variant(lua_toboolean(L, idx) != 0);
    case LUA_TNUMBER:
      if (lua_isinteger(L, idx)) {
        const lua_Integer i = lua_tointeger(L, idx);
        if (i >= INT32_MIN && i <= INT32_MAX) return kvt::Variant(static_cast<std::int32_t>(i));
        return kvt::Variant(static_cast<double>(i));
      }
      return kvt::Variant(static_cast<double>(lua_tonumber(L, idx)));
    case LUA_TSTRING: {
      std::size_t len = 0;
      const char* p = lua_tolstring(L, idx, &len);
      return kvt::Variant(std::string(p, len));
    }
    case LUA_TLIGHTUSERDATA:
      if (lua_touserdata(L, idx) == &kNullSentinel) return kvt::Variant::Null();
      break;
    case LUA_TUSERDATA:
      if (auto* box = static_cast<ObjectBox*>(luaL_testudata(L, idx, kObjectMeta))) {
        return kvt::Variant(box->object);
      }
      if (auto* d = static_cast<double*>(luaL_testudata(L, idx, kDateMeta))) {
        return kvt::Variant(kvt::Date{*d});
      }
      break;
    case LUA_TTABLE: {
      const void* table = lua_topointer(L, idx);
      for (const void* t : walk.path) {
        if (t == table) {
          throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch, "a table that contains itself",
                                  kSource);
        }
      }
      if (static_cast<int>(walk.path.size()) >= kMaxDepth) {
        throw kvt::RuntimeError(kvt::ErrorCode::kOverflow,
                                "tables nested more than " + std::to_string(kMaxDepth) + " deep",
                                kSource);
      }
      kvt::Variant::Array items;
      const lua_Unsigned n = lua_rawlen(L, idx);
      if (n > kMaxItems) {
        throw kvt::RuntimeError(kvt::ErrorCode::kOverflow, "a script table too long", kSource);
      }
      if (!lua_checkstack(L, 2)) break;
      walk.path.push_back(table);
      for (lua_Unsigned i = 1; i <= n; ++i) {
        lua_rawgeti(L, idx, static_cast<lua_Integer>(i));
        kvt::Variant item = ToVariant(L, -1, walk);  // raises with the item still pushed: the
        lua_pop(L, 1);                               // caller's settop cleans up
        items.push_back(std::move(item));
      }
      walk.path.pop_back();
      return kvt::Variant(std::move(items));
    }
    default:
      break;
  }
  throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                          std::string("a Lua ") + luaL_typename(L, idx) + " has no value here",
                          kSource);
}

// Raises the pending C++ error in Lua as an error object naming the script line. Only raw
// pointers live in this frame.
int RaisePending(lua_State* L) {
  State& s = StateOf(L);
  ++s.bridge_depth;
  lua_createtable(L, 0, 3);
  lua_pushinteger(L, static_cast<lua_Integer>(s.pending->Number()));
  lua_setfield(L, -2, "number");
  lua_pushstring(L, s.pending->Source().c_str());
  lua_setfield(L, -2, "source");
  luaL_where(L, 1);
  lua_pushstring(L, " ");
  lua_pushstring(L, s.pending->Description().c_str());
  lua_concat(L, 3);
  lua_setfield(L, -2, "description");
  luaL_setmetatable(L, kErrorMeta);
  s.pending.reset();
  --s.bridge_depth;
  return lua_error(L);
}

// Runs `body` (which pushes its results and returns their count) with C++ errors kept for
// RaisePending: the lambda's locals are gone when the error is raised.
template <class Body>
int Bridge(lua_State* L, Body body) {
  State& s = StateOf(L);
  int results = -1;
  try {
    BridgeScope scope(s);
    results = body();
  } catch (const kvt::Error& e) {
    s.pending = e;
  } catch (const std::exception& e) {
    s.pending = kvt::Error(kvt::kObjectErrorBase + kScriptError, kSource, e.what());
  }
  if (results >= 0 && s.over_cap && s.bridge_depth == 0) {
    results = -1;
    s.pending =
        kvt::ObjectError(kMemoryExceeded, kSource, "the script reached the engine's memory limit");
  }
  if (results >= 0) return results;
  return RaisePending(L);
}

ObjectBox& Box(lua_State* L, int idx) {
  auto* box = static_cast<ObjectBox*>(luaL_testudata(L, idx, kObjectMeta));
  if (!box) throw kvt::RuntimeError(kvt::ErrorCode::kObjectRequired, {}, kSource);
  return *box;
}

std::size_t HeldBytes(const kvt::Variant& v) {
  if (v.IsString()) return v.AsString().size();
  if (v.Type() == kvt::VarType::kArray) {
    std::size_t n = 0;
    for (const auto& item : v.AsArray()) n += HeldBytes(item);
    return n;
  }
  return 0;
}

// Charges what a host object will hold after a call: `bytes` more for a method, `bytes` in
// place of the last value for a property. Past the cap nothing is handed over: the memory
// error is raised before the host object is touched.
// `headroom` is room the call must leave for what it may make.
void ChargeHost(State& s, const kvt::ObjectRef& target, const std::string& member,
                std::size_t bytes, bool replace, std::size_t headroom = 0) {
  const std::string key =
      std::to_string(reinterpret_cast<std::uintptr_t>(target.get())) + "|" + member;
  auto it = s.held.find(key);
  const std::size_t before = it == s.held.end() ? 0 : it->second;
  const std::size_t after = replace ? bytes : before + bytes;
  if (after + headroom > before && s.used + s.host_bytes + (after + headroom - before) > s.cap) {
    s.over_cap = true;
    throw kvt::ObjectError(
        kMemoryExceeded, kSource,
        "the script reached the engine's memory limit (text handed to '" + member + "')");
  }
  if (after == 0 && it == s.held.end()) return;
  s.host_bytes = s.host_bytes - before + after;
  s.held[key] = after;
}

// A member call: upvalue 1 is the object, upvalue 2 the member name. Called as obj:M(...) the
// object comes again as first argument, and is dropped.
int CallMember(lua_State* L) {
  return Bridge(L, [L] {
    const kvt::ObjectRef& target = Box(L, lua_upvalueindex(1)).object;
    const std::string name = lua_tostring(L, lua_upvalueindex(2));
    int first = 1;
    if (lua_gettop(L) >= 1 && lua_rawequal(L, 1, lua_upvalueindex(1))) first = 2;
    std::vector<kvt::Variant> args;
    std::size_t bytes = 0;
    for (int i = first; i <= lua_gettop(L); ++i) {
      args.push_back(ToVariant(L, i));
      bytes += HeldBytes(args.back());
    }
    State& s = StateOf(L);
    // A method may make an object (a control, a label) that lives on in the host: the first
    // time an object comes back it is charged as a small block, asked for before the call.
    ChargeHost(s, target, name, bytes, /*replace=*/false, kObjectCharge);
    const kvt::Variant result = kvt::Invoke(target, name, kvt::MemberKind::kMethod, args);
    if (result.IsObject() && result.AsObject() &&
        s.seen_objects.insert(result.AsObject().get()).second) {
      ChargeHost(s, target, name, kObjectCharge, /*replace=*/false);
    }
    PushVariant(L, result);
    return 1;
  });
}

int ObjectIndex(lua_State* L) {
  return Bridge(L, [L] {
    const kvt::ObjectRef target = Box(L, 1).object;
    if (lua_type(L, 2) != LUA_TSTRING) {
      lua_pushnil(L);
      return 1;
    }
    const std::string name = lua_tostring(L, 2);
    const kvt::ClassInfo& cls = target->Class();
    const kvt::MemberInfo* get = cls.Find(name, kvt::MemberKind::kGet);
    const kvt::MemberInfo* method = cls.Find(name, kvt::MemberKind::kMethod);
    if ((get && !get->params.empty()) || (!get && method)) {
      // Something to call: a method, or a property with arguments (fields:Item("x")).
      lua_pushvalue(L, 1);
      lua_pushstring(L, name.c_str());
      lua_pushcclosure(L, CallMember, 2);
      return 1;
    }
    PushVariant(L, kvt::Invoke(target, name, kvt::MemberKind::kGet, {}));
    return 1;
  });
}

int ObjectNewIndex(lua_State* L) {
  return Bridge(L, [L] {
    const kvt::ObjectRef target = Box(L, 1).object;
    if (lua_type(L, 2) != LUA_TSTRING) {
      throw kvt::RuntimeError(kvt::ErrorCode::kNotSupported, "a member name must be text", kSource);
    }
    const std::string name = lua_tostring(L, 2);
    std::array<kvt::Variant, 1> value{ToVariant(L, 3)};
    ChargeHost(StateOf(L), target, name, HeldBytes(value[0]), /*replace=*/true);
    kvt::Invoke(target, name, kvt::MemberKind::kLet, value);
    return 0;
  });
}

int ObjectEq(lua_State* L) {
  auto* a = static_cast<ObjectBox*>(luaL_testudata(L, 1, kObjectMeta));
  auto* b = static_cast<ObjectBox*>(luaL_testudata(L, 2, kObjectMeta));
  lua_pushboolean(L, a && b && a->object == b->object);
  return 1;
}

int ObjectToString(lua_State* L) {
  return Bridge(L, [L] {
    const std::string name = Box(L, 1).object->Class().Name();
    lua_pushstring(L, name.c_str());
    return 1;
  });
}

int ObjectGc(lua_State* L) {
  if (auto* box = static_cast<ObjectBox*>(luaL_testudata(L, 1, kObjectMeta))) {
    box->object.reset();  // the box stays valid and empty: a second call finds nothing to free
  }
  return 0;
}

double DateOf(lua_State* L, int idx) {
  auto* d = static_cast<double*>(luaL_testudata(L, idx, kDateMeta));
  if (!d) throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch, "not a date", kSource);
  return *d;
}

int DateIndex(lua_State* L) {
  return Bridge(L, [L] {
    const kvt::Date d{DateOf(L, 1)};
    const std::string key = lua_type(L, 2) == LUA_TSTRING ? lua_tostring(L, 2) : "";
    const std::string text =
        kvt::FormatDate(kvt::Date{static_cast<double>(static_cast<long long>(d.serial))});
    if (key == "serial") {
      lua_pushnumber(L, d.serial);
    } else if (key == "day") {
      lua_pushinteger(L, std::stoi(text.substr(0, 2)));
    } else if (key == "month") {
      lua_pushinteger(L, std::stoi(text.substr(3, 2)));
    } else if (key == "year") {
      lua_pushinteger(L, std::stoi(text.substr(6, 4)));
    } else {
      lua_pushnil(L);
    }
    return 1;
  });
}

int DateToString(lua_State* L) {
  return Bridge(L, [L] {
    const std::string text = kvt::FormatDate(kvt::Date{DateOf(L, 1)});
    lua_pushstring(L, text.c_str());
    return 1;
  });
}

int DateCompare(lua_State* L, int op) {
  return Bridge(L, [L, op] {
    const double a = DateOf(L, 1), b = DateOf(L, 2);
    lua_pushboolean(L, op == 0 ? a == b : op == 1 ? a < b : a <= b);
    return 1;
  });
}
int DateEq(lua_State* L) {
  return DateCompare(L, 0);
}
int DateLt(lua_State* L) {
  return DateCompare(L, 1);
}
int DateLe(lua_State* L) {
  return DateCompare(L, 2);
}

// date(year, month, day) or date("dd/mm/yyyy")
int MakeDate(lua_State* L) {
  return Bridge(L, [L] {
    kvt::Date d;
    if (lua_type(L, 1) == LUA_TSTRING) {
      d = kvt::CDate(kvt::Variant(std::string(lua_tostring(L, 1))));
    } else {
      int parts[3];
      for (int i = 0; i < 3; ++i) {
        int exact = 0;
        const lua_Integer v = lua_tointegerx(L, i + 1, &exact);
        if (!exact || v < 1 || v > 9999) {
          throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                                  "date(year, month, day) needs three whole numbers", kSource);
        }
        parts[i] = static_cast<int>(v);
      }
      if (parts[1] > 12 || parts[2] > 31) {
        throw kvt::RuntimeError(
            kvt::ErrorCode::kInvalidProcedureCall,
            "no such date: month " + std::to_string(parts[1]) + ", day " + std::to_string(parts[2]),
            kSource);
      }
      d = kvt::MakeDate(parts[0], parts[1], parts[2]);
    }
    PushDate(L, d);
    return 1;
  });
}

// numero(text): a number as the user's locale writes it, or nil.
int ReadNumber(lua_State* L) {
  return Bridge(L, [L] {
    if (lua_type(L, 1) == LUA_TNUMBER) {
      lua_pushvalue(L, 1);
      return 1;
    }
    const char* text = lua_tostring(L, 1);
    const auto n = text ? kvt::ParseLocaleNumber(text) : std::nullopt;
    if (n) {
      lua_pushnumber(L, *n);
    } else {
      lua_pushnil(L);
    }
    return 1;
  });
}

int ErrorToString(lua_State* L) {
  lua_getfield(L, 1, "description");
  return 1;
}

int NullToString(lua_State* L) {
  lua_pushliteral(L, "null");
  return 1;
}

int Nothing(lua_State*) {
  return 0;
}

void SetMeta(lua_State* L, const char* name, std::initializer_list<luaL_Reg> fns) {
  luaL_newmetatable(L, name);
  for (const luaL_Reg& r : fns) {
    lua_pushcfunction(L, r.func);
    lua_setfield(L, -2, r.name);
  }
  // getmetatable gives scripts this, not the table: its methods (__gc!) stay the engine's.
  lua_pushliteral(L, "protected");
  lua_setfield(L, -2, "__metatable");
  lua_pop(L, 1);
}

// What a script may use: the safe libraries, without the parts that reach outside.
constexpr const char* kSandbox = R"lua(
  local keep_limits = __kvt_keep_limits
  __kvt_keep_limits = nil
  local pack, unpack, select = table.pack, table.unpack, select
  local load_text = load
  load = function(chunk, name, mode, ...)
    -- Text only; without an environment the chunk sees the script's globals. A limit hit in
    -- a reader function is not the chunk's syntax error: it goes on up.
    if select("#", ...) == 0 then return keep_limits(load_text(chunk, name, "t")) end
    return keep_limits(load_text(chunk, name, "t", ...))
  end
  local raw_pcall, raw_resume, raw_close = pcall, coroutine.resume, coroutine.close
  pcall = function(...) return keep_limits(raw_pcall(...)) end
  -- The handler runs after the unwinding, as the script's own code under every limit: Lua
  -- would run it inside the error, where the instruction hook does not reach.
  xpcall = function(f, handler, ...)
    local r = pack(keep_limits(raw_pcall(f, ...)))
    if r[1] then return unpack(r, 1, r.n) end
    return false, (select(2, keep_limits(raw_pcall(handler, r[2]))))
  end
  coroutine.resume = function(...) return keep_limits(raw_resume(...)) end
  -- Closing runs the coroutine's pending __close: a limit hit there goes on up.
  coroutine.close = function(...) return keep_limits(raw_close(...)) end
  local check_pattern = __kvt_check_pattern
  __kvt_check_pattern = nil
  for _, name in ipairs({ "find", "match", "gmatch", "gsub" }) do
    local raw = string[name]
    string[name] = function(s, p, ...)
      check_pattern(name, s, p, ...)
      return raw(s, p, ...)
    end
  end
  -- Finalizers run where no limit can stop them: scripts have none.
  local raw_setmetatable, rawget = setmetatable, rawget
  setmetatable = function(t, mt)
    if type(mt) == "table" and rawget(mt, "__gc") ~= nil then
      error("scripts cannot give tables a finalizer (__gc)", 2)
    end
    return raw_setmetatable(t, mt)
  end
  dofile, loadfile, require, package, debug, io = nil, nil, nil, nil, nil, nil
  string.dump = nil
  local os_time, os_date, os_clock, os_difftime = os.time, os.date, os.clock, os.difftime
  os = { time = os_time, date = os_date, clock = os_clock, difftime = os_difftime }
)lua";

// The error a failed call ends with, from what Lua left on top of the stack.
kvt::Error ErrorFromLua(lua_State* L, State& s, int status, const std::string& what) {
  const std::string prefix = "script set '" + s.set_name + "', " + what + ": ";
  if (s.time_hit) {
    return kvt::ObjectError(kTimeExceeded, kSource,
                            prefix + "the script ran past its time limit (endless loop?)");
  }
  if (s.budget_hit) {
    return kvt::ObjectError(kBudgetExceeded, kSource,
                            prefix + "the script ran past its instruction budget (endless loop?)");
  }
  if (status == LUA_ERRMEM || s.memory_refused || s.over_cap) {
    return kvt::ObjectError(kMemoryExceeded, kSource,
                            prefix + "the script reached the engine's memory limit");
  }
  // The error value is the script's: it is read raw, so that none of its metamethods runs here.
  if (lua_type(L, -1) == LUA_TTABLE) {
    bool ours = false;  // raised by the bridge: its number and source are the host's
    if (lua_getmetatable(L, -1)) {
      luaL_getmetatable(L, kErrorMeta);
      ours = lua_rawequal(L, -1, -2) != 0;
      lua_pop(L, 2);
    }
    lua_pushliteral(L, "description");
    lua_rawget(L, -2);
    std::string description = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "";
    lua_pop(L, 1);
    if (ours) {
      lua_pushliteral(L, "number");
      lua_rawget(L, -2);
      lua_pushliteral(L, "source");
      lua_rawget(L, -3);
      if (lua_isinteger(L, -2) && lua_type(L, -1) == LUA_TSTRING) {
        kvt::Error e(static_cast<std::uint32_t>(lua_tointeger(L, -2)), lua_tostring(L, -1),
                     description);
        lua_pop(L, 2);
        return e;
      }
      lua_pop(L, 2);
    }
    // A table the script raised: its own error, never a number it chose.
    return kvt::ObjectError(kScriptError, kSource,
                            prefix + (description.empty() ? "script error" : description));
  }
  const char* msg = lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER
                        ? lua_tostring(L, -1)
                        : nullptr;
  return kvt::ObjectError(kScriptError, kSource, msg ? std::string(msg) : prefix + "script error");
}

}  // namespace

const kvt::ClassInfo& ScriptEngine::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<ScriptEngine> b("ScriptEngine");
    kvtfields::IScriptEngine::Describe(b)
        .Method<&ScriptEngine::LoadScript>("LoadScript")
        .Params({"Source", "SetName"});
    return b.Build();
  }();
  return info;
}

ScriptEngine::ScriptEngine() {
  Reset();
}
ScriptEngine::~ScriptEngine() = default;

void ScriptEngine::Reset() {
  auto s = std::make_unique<State>();
  s->cap = cap_;
  lua_State* L = lua_newstate(Allocate, s.get());
  if (!L) throw std::bad_alloc();
  s->L = L;
  *static_cast<State**>(lua_getextraspace(L)) = s.get();
  BridgeScope scope(*s);
  for (const luaL_Reg& lib :
       {luaL_Reg{LUA_GNAME, luaopen_base}, luaL_Reg{LUA_STRLIBNAME, luaopen_string},
        luaL_Reg{LUA_TABLIBNAME, luaopen_table}, luaL_Reg{LUA_MATHLIBNAME, luaopen_math},
        luaL_Reg{LUA_UTF8LIBNAME, luaopen_utf8}, luaL_Reg{LUA_OSLIBNAME, luaopen_os},
        luaL_Reg{LUA_COLIBNAME, luaopen_coroutine}}) {
    luaL_requiref(L, lib.name, lib.func, 1);
    lua_pop(L, 1);
  }
  lua_register(L, "__kvt_keep_limits", KeepLimits);
  lua_register(L, "__kvt_check_pattern", CheckPattern);
  if (luaL_loadbuffer(L, kSandbox, std::strlen(kSandbox), kSandboxChunk) != LUA_OK ||
      lua_pcall(L, 0, 0, 0) != LUA_OK) {
    throw kvt::ObjectError(kScriptError, kSource, lua_tostring(L, -1));
  }
  SetMeta(L, kObjectMeta,
          {{"__index", ObjectIndex},
           {"__newindex", ObjectNewIndex},
           {"__eq", ObjectEq},
           {"__tostring", ObjectToString},
           {"__gc", ObjectGc}});
  SetMeta(L, kDateMeta,
          {{"__index", DateIndex},
           {"__tostring", DateToString},
           {"__eq", DateEq},
           {"__lt", DateLt},
           {"__le", DateLe}});
  SetMeta(L, kErrorMeta, {{"__tostring", ErrorToString}});
  lua_pushlightuserdata(L, &kNullSentinel);
  lua_createtable(L, 0, 1);
  lua_pushcfunction(L, NullToString);
  lua_setfield(L, -2, "__tostring");
  lua_pushliteral(L, "protected");
  lua_setfield(L, -2, "__metatable");
  lua_setmetatable(L, -2);  // for every light userdata: only Null is one
  lua_setglobal(L, "null");
  lua_register(L, "date", MakeDate);
  lua_register(L, "numero", ReadNumber);
  lua_register(L, "print", Nothing);  // scripts have no console
  lua_sethook(L, CountHook, LUA_MASKCOUNT, kHookEvery);
  state_ = std::move(s);
}

void ScriptEngine::InitEngine(const std::shared_ptr<kvtfields::IDBEngine>& db_engine,
                              const std::string& script_set) {
  Reset();
  state_->set_name = script_set;
  if (!db_engine) return;
  auto* scripts = dynamic_cast<kvtfields::IScriptSource*>(db_engine.get());
  if (!scripts) return;  // an engine that keeps no scripts
  const kvt::Variant source = scripts->GetScript(script_set);
  if (source.IsNull() || source.IsEmpty()) return;  // no script for the set: nothing to run
  LoadScript(kvt::CStr(source), script_set);
}

void ScriptEngine::LoadScript(const std::string& source, const std::string& set_name) {
  Reset();
  State& s = *state_;
  s.set_name = set_name;
  lua_State* L = s.L;
  const std::string chunk = "=" + set_name;
  int status;
  {
    BridgeScope scope(s);
    status = luaL_loadbufferx(L, source.data(), source.size(), chunk.c_str(), "t");
  }
  if (status != LUA_OK) {
    kvt::Error e = kvt::ObjectError(kScriptSyntax, kSource, lua_tostring(L, -1));
    lua_settop(L, 0);
    throw e;
  }
  s.left = budget_;
  s.deadline = std::chrono::steady_clock::now() + time_limit_;
  s.budget_hit = s.time_hit = s.memory_refused = s.over_cap = false;
  ++s.call_depth;
  status = lua_pcall(L, 0, 0, 0);
  --s.call_depth;
  if (status != LUA_OK) {
    kvt::Error e = ErrorFromLua(L, s, status, "loading");
    lua_settop(L, 0);
    throw e;
  }
}

namespace {

// Calls the script's global `function`: `push` puts its `nargs` arguments on the stack, `take`
// reads its results from above `base`. False when the script has no such function.
template <class Push, class Take>
bool CallScript(State& s, std::int64_t budget, std::chrono::milliseconds limit,
                const char* function, int nargs, int nresults, Push&& push, Take&& take) {
  lua_State* L = s.L;
  const int base = lua_gettop(L);
  if (lua_getglobal(L, function) != LUA_TFUNCTION) {
    lua_settop(L, base);
    return false;
  }
  const bool outermost = s.call_depth == 0;
  if (outermost) {
    s.left = budget;
    s.deadline = std::chrono::steady_clock::now() + limit;
    s.budget_hit = s.time_hit = s.memory_refused = s.over_cap = false;
  } else if (s.LimitHit()) {
    lua_settop(L, base);
    throw kvt::ObjectError(kScriptError, kSource, LimitMessage(s));
  }
  {
    BridgeScope scope(s);
    push(L);
  }
  // While Lua runs, even inside a bridge call of an outer script, the cap holds: its errors
  // unwind only to this pcall.
  const int saved_bridge = s.bridge_depth;
  s.bridge_depth = 0;
  ++s.call_depth;
  const int status = s.over_cap ? LUA_ERRMEM : lua_pcall(L, nargs, nresults, 0);
  --s.call_depth;
  s.bridge_depth = saved_bridge;
  if (status != LUA_OK) {
    kvt::Error e = ErrorFromLua(L, s, status, function);
    lua_settop(L, base);
    throw e;
  }
  try {
    take(L, base);
  } catch (...) {
    lua_settop(L, base);
    throw;
  }
  lua_settop(L, base);
  return true;
}

}  // namespace

void ScriptEngine::FieldEvent(const char* function, const std::string& name, kvt::Variant& value,
                              kvt::ObjectRef& fields, bool* cancel) {
  CallScript(
      *state_, budget_, time_limit_, function, cancel ? 4 : 3, cancel ? 2 : 1,
      [&](lua_State* L) {
        lua_pushlstring(L, name.data(), name.size());
        PushVariant(L, value);
        PushObject(L, fields);
        if (cancel) lua_pushboolean(L, *cancel);
      },
      [&](lua_State* L, int base) {
        if (!lua_isnil(L, base + 1)) value = ToVariant(L, base + 1);
        if (cancel && !lua_isnil(L, base + 2)) *cancel = lua_toboolean(L, base + 2) != 0;
      });
}

void ScriptEngine::FieldEnter(const std::string& name, kvt::Variant& value,
                              kvt::ObjectRef& fields) {
  FieldEvent("ingresso", name, value, fields, nullptr);
}
void ScriptEngine::FieldExit(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields) {
  FieldEvent("uscita", name, value, fields, nullptr);
}
void ScriptEngine::FieldValidate(const std::string& name, kvt::Variant& value,
                                 kvt::ObjectRef& fields, bool& cancel) {
  FieldEvent("valida", name, value, fields, &cancel);
}
void ScriptEngine::FieldChange(const std::string& name, kvt::Variant& value,
                               kvt::ObjectRef& fields) {
  FieldEvent("modificato", name, value, fields, nullptr);
}

kvt::Variant ScriptEngine::FieldsToUpdate(kvt::ObjectRef& field) {
  kvt::Variant result;
  CallScript(
      *state_, budget_, time_limit_, "aggiorna", 1, 1, [&](lua_State* L) { PushObject(L, field); },
      [&](lua_State* L, int base) { result = ToVariant(L, base + 1); });
  if (result.IsString()) return kvt::Variant(kvt::Variant::Array{result});
  return result;
}

std::int32_t ScriptEngine::EvaluateField(kvt::ObjectRef& field, kvt::ObjectRef& fields) {
  kvt::Variant result;
  const bool defined = CallScript(
      *state_, budget_, time_limit_, "calcola", 2, 1,
      [&](lua_State* L) {
        PushObject(L, field);
        PushObject(L, fields);
      },
      [&](lua_State* L, int base) { result = ToVariant(L, base + 1); });
  if (!defined) {
    throw kvt::ObjectError(kScriptError, kSource,
                           "script set '" + state_->set_name + "' has no function calcola");
  }
  if (result.Type() == kvt::VarType::kDouble && !std::isfinite(result.AsDouble())) {
    throw kvt::ObjectError(kScriptError, kSource,
                           "script set '" + state_->set_name + "': calcola gave " +
                               (std::isnan(result.AsDouble()) ? "NaN" : "an infinite number") +
                               ", not a number a field can hold");
  }
  return kvt::CLng(result);
}

std::optional<SyntaxProblem> CheckSyntax(const std::string& source) {
  lua_State* L = luaL_newstate();
  if (!L) throw std::bad_alloc();
  const int status = luaL_loadbufferx(L, source.data(), source.size(), "=script", "t");
  std::optional<SyntaxProblem> problem;
  if (status != LUA_OK) {
    // "script:LINE: message"
    const std::string text = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "error";
    SyntaxProblem p{1, text};
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second != std::string::npos) {
      try {
        p.line = std::stoi(text.substr(first + 1, second - first - 1));
        p.message = text.substr(second + 1);
        if (!p.message.empty() && p.message.front() == ' ') p.message.erase(0, 1);
      } catch (const std::exception&) {
      }
    }
    problem = p;
  }
  lua_close(L);
  return problem;
}

void RegisterScriptEngineClass() {
  kvt::ClassRegistry::Instance().Register(kvtfields::kScriptEngineProgId, {},
                                          [] { return std::make_shared<ScriptEngine>(); });
}

}  // namespace kvtlua
