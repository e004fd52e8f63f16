#include "common/workspace.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "addons/autocomplete/store_auto_completer.h"
#include "addons/layout/resizer.h"
#include "archives/sample_archive.h"
#include "common/document_session.h"
#include "common/open_engine.h"
#include "common/progress_engine.h"
#include "engine/common/engine_error.h"
#include "engine/sqlite/sqlite_engine.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"
#include "scripting/lua/lua_script_engine.h"

namespace kvtapp {
namespace {

constexpr int kTwipsPerColumn = 100;  // how the picture maps the window onto characters

std::string Fit(std::string text, std::size_t width) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size() && chars < width;) {
    const std::size_t start = i;
    kvt::NextCodePoint(text, i);
    out.append(text, start, i - start);
    ++chars;
  }
  out.append(width - chars, ' ');
  return out;
}

std::string OneLine(std::string text) {
  for (std::size_t p; (p = text.find("\r\n")) != std::string::npos;) text.replace(p, 2, " / ");
  return text;
}

// The text of one control in the picture.
std::string Draw(const kvthost::Control& c) {
  const auto width = static_cast<std::size_t>(std::max(4, c.Width() / kTwipsPerColumn));
  if (dynamic_cast<const kvthost::Label*>(&c)) return c.Describe();
  std::string inner = OneLine(c.Describe());
  if (dynamic_cast<const kvthost::CodeCombo*>(&c)) return "[" + Fit(inner, width - 2) + "v]";
  if (dynamic_cast<const kvthost::DatePicker*>(&c)) {
    return "[" + Fit(inner.empty() ? "__/__/____" : inner, width - 2) + "]";
  }
  if (dynamic_cast<const kvthost::FileLinker*>(&c)) return "[@" + Fit(inner, width - 2) + "]";
  return "[" + Fit(inner, width - 1) + "]";
}

}  // namespace

Workspace::Workspace(PersonOn person_on, std::shared_ptr<kvt::Platform> platform)
    : person_on_(std::move(person_on)), platform_(std::move(platform)) {
  // The outside classes are the process's, whichever session comes first.
  static std::once_flag registered;
  std::call_once(registered, [] {
    kvtaddons::RegisterAutoCompleterClass();
    kvtaddons::RegisterResizerClass();
    kvtlua::RegisterScriptEngineClass();
    kvtsqlite::RegisterEngineClass();
  });
}

Workspace::~Workspace() {
  auto in = Enter();  // unloading runs the form's events
  person_.reset();
  viewer_.reset();  // unloads the window
  fields_.reset();
  window_.reset();
  coordinator_.reset();
  engine_.reset();
}

void Workspace::Open(const std::string& path, bool create) {
  engine_ = OpenEngine(path, create);
  if (!engine_->HasArchive(kvtarchive::sample::kArchive) && create) {
    kvtarchive::sample::CreateSampleArchive(*engine_);
  }
}

void Workspace::Build(const std::string& archive, const std::string& form) {
  auto in = Enter();
  if (!engine_->HasArchive(archive)) {
    kvtengine::ThrowNoArchive(archive, "kvtfields");
  }
  archive_ = archive;
  form_ = form;
  coordinator_ = std::make_shared<kvthost::Coordinator>();
  if (progress_) {
    coordinator_->SetDBEngine(std::make_shared<ProgressEngine>(engine_, progress_));
  } else {
    coordinator_->SetDBEngine(engine_);
  }
  auto scripts = std::make_shared<kvtlua::ScriptEngine>();
  scripts->InitEngine(engine_, archive);  // one engine per archive, as a host prepares it
  coordinator_->SetScriptEngine(scripts);
  fields_ = kvtfields::FieldsCollection::Create();
  fields_->InitEx(coordinator_);
  coordinator_->SetFieldsCollection(fields_);
  viewer_ = kvtfields::FieldViewer::Create();
  window_ = std::dynamic_pointer_cast<kvthost::Form>(viewer_->VisualForm());
  kvt::ObjectRef coordinator = coordinator_;
  viewer_->Init(coordinator);
  window_->LetCaption(archive + " - " + form);
  auto bar = kvt::CObj(kvt::CallMethod(window_->Controls(), "Add", "MSComctlLib.SBarCtrl.2", "SB"));
  kvt::CallMethod(kvt::CObj(kvt::GetProperty(bar, "Panels")), "Add", "fieldHelp");
  person_ = person_on_(window_);
  Rebuild();
}

void Workspace::Rebuild() {
  auto in = Enter();
  if (fields_->Count() > 0) viewer_->ControlsUnload();
  fields_->RemoveAll();
  fields_->FillCollection(archive_, form_, window_);
  built_ = fields_->Count();
  RefuseWhatFieldsCannotHold();
  ++builds_;
  viewer_->ControlsLoad();
  fields_->SortTab(1);  // after txtLostFocus
  try {
    fields_->FocusOnFirstControl();
  } catch (const kvt::Error& e) {
    // The form is built: a script failing as its first field is entered is that field's
    // error, shown as any event's error is, and the form stays usable.
    const auto focused = window_->Active();
    const std::string field = focused ? CaptionOf(*fields_, focused->Name()) : std::string("?");
    kvt::CurrentPlatform().MsgBox(
        "Errore dello script entrando nel campo \"" + field + "\": " + e.Description(),
        kvt::kMsgBoxOkOnly, "");
  }
}

void Workspace::RefuseWhatFieldsCannotHold() {
  refusals_.clear();
  for (std::int32_t i = 1; i <= fields_->Count(); ++i) {
    auto field = fields_->Item(kvt::Variant(i));
    auto box = std::dynamic_pointer_cast<kvthost::TextBoxBase>(field->LinkedControl());
    if (!box || field->DataFormat() != 1) continue;
    // A letter never makes a number (but the exponent's e): refused as it is typed, not after
    // the clerk typed on. The field's own check on leaving stays the rule.
    box->RefuseTyped(
        [](char32_t c) {
          return ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) && c != U'e' && c != U'E';
        },
        "Il campo \"" + field->Label() + "\" ammette solo valori numerici");
    refusals_.push_back(box->Refused.Subscribe([this](const std::string& why) {
      if (on_refused_) on_refused_(why);
    }));
  }
}

void Workspace::UseForm(const std::string& form) {
  form_ = form;
  Rebuild();
}

std::string Workspace::Picture() const {
  // Lines by the controls' tops; on a line, controls by their left edge.
  std::map<std::int32_t, std::map<std::int32_t, std::string>> lines;
  for (const auto& c : window_->ControlList()) {
    if (c->Left() < 0 || c->Name() == "SB" || !c->Visible()) continue;
    std::string text = Draw(*c);
    if (c->HasFocus()) text = "*" + text;
    lines[c->Top()][c->Left()] = text;
  }
  const std::string title = " " + window_->Caption() + " ";
  std::string out =
      "+--" + title + std::string(title.size() < 70 ? 70 - title.size() : 2, '-') + "\n";
  for (const auto& [top, items] : lines) {
    std::string line;
    std::size_t column = 0;
    for (const auto& [left, text] : items) {
      const auto want = static_cast<std::size_t>(left / kTwipsPerColumn);
      if (column < want) {
        line.append(want - column, ' ');
        column = want;
      } else if (!line.empty()) {
        line += ' ';
        ++column;
      }
      line += text;
      column += kvt::CharLength(text);
    }
    out += "| " + line + "\n";
  }
  auto bar = std::dynamic_pointer_cast<kvthost::StatusBar>(window_->FindControl("SB"));
  out += "+-- Guida: " + (bar ? bar->Describe() : std::string()) + "\n";
  const auto focused = window_->Active();
  out += "    Focus: " + (focused ? focused->Name() : std::string("-")) + "\n";
  const auto& errors = coordinator_->Errors().Entries();
  for (std::size_t i = 0; i < errors.size(); ++i) {
    out += "    Errore " + std::to_string(i + 1) + " [" + errors[i].field +
           "]: " + errors[i].message + "\n";
  }
  return out;
}

}  // namespace kvtapp
