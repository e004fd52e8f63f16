// The archive script engine on Lua 5.4, registered as "kvtScripting.ScriptEngine".
//
// A script set (kept in the database's `scripts` table, one script per set) defines plain Lua
// functions named after the events; each is optional:
//   ingresso(name, value, fields)          -> new value       the field got the focus
//   uscita(name, value, fields)            -> new value       the field lost the focus
//   modificato(name, value, fields)        -> new value       the field's content changed
//   valida(name, value, fields, cancel)    -> value, cancel   the field is being left
//   aggiorna(field)                        -> {names}         fields to recompute after a change
//   calcola(field, fields)                 -> integer         the new value of a field
// Returning nothing (or nil) keeps the value (and Cancel). Automation objects are used
// late-bound (`fields:Item("Totale").Value = 3`, `fields.Count`, `field.Label`); Null is
// `null`, dates are date objects (`date(2026, 12, 5)`, `d.day`, tostring gives dd/mm/yyyy),
// `numero(text)` reads a number as the user's locale writes it.
//
// The sandbox: no io, os beyond time/date/clock/difftime, require, dofile, loadfile, debug, or
// binary chunks; every call has an instruction budget and the engine a memory cap, so a
// runaway or hostile script ends with a clear error and the engine stays usable.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kvtfields/contracts/script_engine.h"

struct lua_State;

namespace kvtlua {

inline constexpr const char* kSource = "kvtScripting.ScriptEngine";

/// Error numbers (object errors, 0x80040000 + n).
enum : std::uint32_t {
  kScriptError = 1025,     // the script failed; the description names the script line
  kBudgetExceeded = 1026,  // a call ran past its instruction budget
  kMemoryExceeded = 1027,  // the engine's memory cap was reached
  kScriptSyntax = 1028,    // the script set does not compile
  kTimeExceeded = 1029,    // a call ran past its time limit
};

class ScriptEngine final : public kvtfields::IScriptEngine {
  KVT_OBJECT()

 public:
  ScriptEngine();
  ~ScriptEngine() override;

  /// Loads the script of `script_set` from the engine's database (through its late-bound
  /// GetScript); a set without a script is valid and makes every event leave things as they are.
  void InitEngine(const std::shared_ptr<kvtfields::IDBEngine>& db_engine,
                  const std::string& script_set) override;
  kvt::Variant FieldsToUpdate(kvt::ObjectRef& field) override;
  std::int32_t EvaluateField(kvt::ObjectRef& field, kvt::ObjectRef& fields) override;
  void FieldEnter(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields) override;
  void FieldExit(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields) override;
  void FieldValidate(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields,
                     bool& cancel) override;
  /// Not used by the component; does nothing.
  void FieldReserved(const std::string&, kvt::Variant&, kvt::ObjectRef&) override {}
  void FieldChange(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields) override;

  /// Replaces the engine's script with `source`; `set_name` names it in error messages.
  void LoadScript(const std::string& source, const std::string& set_name);
  /// Lua instructions one call may run (default 20 million).
  void SetInstructionBudget(std::int64_t instructions) { budget_ = instructions; }
  /// Bytes the engine's Lua state may hold (default 64 MiB).
  void SetMemoryCap(std::size_t bytes) { cap_ = bytes; }
  /// Wall-clock time one call may take, nested events included (default 1 s).
  void SetTimeLimit(std::chrono::milliseconds limit) { time_limit_ = limit; }

  /// The Lua state and its limits; defined with the engine's code.
  struct State;

 private:
  void Reset();
  void FieldEvent(const char* function, const std::string& name, kvt::Variant& value,
                  kvt::ObjectRef& fields, bool* cancel);
  std::unique_ptr<State> state_;
  std::int64_t budget_ = 20'000'000;
  std::size_t cap_ = 64u << 20;
  std::chrono::milliseconds time_limit_{1000};
};

/// Where a script does not compile: its line (from 1) and Lua's message; nothing when it does.
/// The script is not run.
struct SyntaxProblem {
  int line = 0;
  std::string message;
};
std::optional<SyntaxProblem> CheckSyntax(const std::string& source);

/// Registers "kvtScripting.ScriptEngine" with the class registry.
void RegisterScriptEngineClass();

}  // namespace kvtlua
