#include "invariants/ReportModel.h"

#include "check/Report.h"
#include "invariants/JsonReader.h"
#include "invariants/RunInvariants.h"
#include "text/Escape.h"

namespace tarvox::invariants {
namespace {

using json::Value;
using Change = OverlayPlatform::Change;

const char16_t* VerdictWord(check::Verdict verdict) {
  switch (verdict) {
    case check::Verdict::kStays: return u"stays";
    case check::Verdict::kLeaves: return u"leaves";
    case check::Verdict::kNotJudged: return u"not judged";
  }
  return u"";
}

const char16_t* KindWord(Change::Kind kind) {
  switch (kind) {
    case Change::Kind::kKeyCreated: return u"createKey";
    case Change::Kind::kValueSet: return u"setValue";
    case Change::Kind::kValueDeleted: return u"deleteValue";
    case Change::Kind::kPropertySet: return u"setProperty";
    case Change::Kind::kPropertyCleared: return u"clearProperty";
    case Change::Kind::kFileRenamed: return u"renameFile";
  }
  return u"";
}

// The text of member `name` of `object`, or a mark that it is no text.
std::u16string Text(const Value& object, std::u16string_view name) {
  const Value* value = object.Find(name);
  return value != nullptr && value->kind == Value::Kind::kString ? value->string : u"\uFFFF(no text)";
}

std::string Strings(const Value* array, const std::vector<std::u16string>& expected,
                    const std::string& what) {
  if (array == nullptr || array->kind != Value::Kind::kArray || array->items.size() != expected.size()) {
    return what + ": not the same number of texts";
  }
  for (std::size_t at = 0; at < expected.size(); ++at) {
    if (array->items[at].kind != Value::Kind::kString || array->items[at].string != expected[at]) {
      return what + ": " + Narrow(expected[at]) + " reads back otherwise";
    }
  }
  return "";
}

std::string Place(const Value& place, const check::PlaceReport& model) {
  const std::string where = "place " + Narrow(model.place.key.empty() ? model.place.device_id : model.place.key) +
                            " " + Narrow(model.place.value);
  if (!model.place.key.empty() ? Text(place, u"key") != model.place.key
                               : Text(place, u"device") != model.place.device_id) {
    return where + ": its key or device reads back otherwise";
  }
  if (Text(place, u"list") != model.place.value) return where + ": its list reads back otherwise";
  if (model.not_there || model.not_read) return "";
  if (std::string differs = Strings(place.Find(u"names"), model.names, where + " names"); !differs.empty()) {
    return differs;
  }
  const Value* verdicts = place.Find(u"verdicts");
  if (verdicts == nullptr || verdicts->items.size() != model.verdicts.size()) {
    return where + ": not the same number of verdicts";
  }
  for (std::size_t at = 0; at < model.verdicts.size(); ++at) {
    const Value& verdict = verdicts->items[at];
    if (Text(verdict, u"name") != model.verdicts[at].name ||
        Text(verdict, u"verdict") != VerdictWord(model.verdicts[at].verdict) ||
        Text(verdict, u"reason") != model.verdicts[at].reason) {
      return where + ": the verdict on " + Narrow(model.verdicts[at].name) + " reads back otherwise";
    }
  }
  return "";
}

std::string TheChange(const Value& change, const Change& model) {
  const std::string what = "change of " + Narrow(model.where);
  if (Text(change, u"kind") != KindWord(model.kind)) return what + ": its kind reads back otherwise";
  switch (model.kind) {
    case Change::Kind::kValueSet:
    case Change::Kind::kValueDeleted:
      if (Text(change, u"name") != model.name) return what + ": its value's name reads back otherwise";
      [[fallthrough]];
    case Change::Kind::kKeyCreated:
      return Text(change, u"key") == model.where ? "" : what + ": its key reads back otherwise";
    case Change::Kind::kPropertySet:
    case Change::Kind::kPropertyCleared:
      return Text(change, u"device") == model.where ? "" : what + ": its device reads back otherwise";
    case Change::Kind::kFileRenamed:
      return Text(change, u"from") == model.where && Text(change, u"to") == model.name
                 ? ""
                 : what + ": its files read back otherwise";
  }
  return "";
}

// Each item of `array` against the model's: the same number, each read back
// as `check` says. An array not there (null) must have nothing to say.
template <typename Model, typename Check>
std::string Items(const Value* array, const std::vector<Model>& model, const std::string& what,
                  Check check) {
  if (array == nullptr || array->kind != Value::Kind::kArray) {
    return model.empty() ? "" : what + " that were looked at are missing";
  }
  if (array->items.size() != model.size()) return "not the same number of " + what;
  for (std::size_t at = 0; at < model.size(); ++at) {
    if (std::string differs = check(array->items[at], model[at]); !differs.empty()) return differs;
  }
  return "";
}

}  // namespace

std::string CheckJsonReport(const check::CheckOutcome& outcome, std::string_view text) {
  std::string error;
  const std::optional<Value> document = json::Parse(text, &error);
  if (!document) return "the JSON report is no JSON: " + error;
  if (document->kind != Value::Kind::kObject) return "the JSON report is no object";
  const Value* exit_code = document->Find(u"exitCode");
  if (exit_code == nullptr || exit_code->number != std::to_string(outcome.exit_code)) {
    return "its exit code reads back otherwise";
  }
  // The text form's last line, byte for byte, where a script reads it.
  const Value* result_line = document->Find(u"resultLine");
  if (result_line == nullptr || result_line->kind != Value::Kind::kString ||
      text.find("\"resultLine\": " + text::JsonString(std::string_view(check::ResultText(outcome)))) ==
          std::string_view::npos) {
    return "its result line reads back otherwise";
  }
  const check::Report& report = outcome.report;
  if (std::string differs = Items(document->Find(u"places"), report.places, "places", Place);
      !differs.empty()) {
    return differs;
  }
  if (const Value* log = document->Find(u"log"); log != nullptr && log->kind != Value::Kind::kNull) {
    if (std::string differs = Strings(log, report.log, "log"); !differs.empty()) return differs;
  }
  if (std::string differs = Items(document->Find(u"changes"), report.changes, "changes", TheChange);
      !differs.empty()) {
    return differs;
  }
  return "";
}

}  // namespace tarvox::invariants
