#include "virtual/scenario.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace veltran {
namespace {

using Json = nlohmann::json;

// Walks a parsed scenario and refuses anything it does not know, naming the file and the place.
class Reader {
 public:
  explicit Reader(std::string origin) : origin_(std::move(origin)) {}

  [[noreturn]] void Fail(const std::string& where, const std::string& problem) const {
    throw ScenarioError(origin_ + ": " + where + ": " + problem);
  }

  void RequireObject(const Json& j, const std::string& where,
                     std::initializer_list<std::string_view> allowed) const {
    if (!j.is_object()) Fail(where, "expected an object");
    for (const auto& [key, value] : j.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        Fail(where, "unknown key \"" + key + "\"");
      }
    }
  }

  std::string String(const Json& j, const std::string& where, std::size_t maxLength) const {
    if (!j.is_string()) Fail(where, "expected a string");
    std::string s = j.get<std::string>();
    if (s.size() > maxLength) {
      Fail(where, "longer than " + std::to_string(maxLength) + " characters");
    }
    return s;
  }

  std::uint32_t Number(const Json& j, const std::string& where, std::uint32_t max) const {
    if (!j.is_number_unsigned() && !(j.is_number_integer() && j.get<std::int64_t>() >= 0)) {
      Fail(where, "expected a whole number from 0 to " + std::to_string(max));
    }
    const auto value = j.get<std::uint64_t>();
    if (value > max) Fail(where, "must be at most " + std::to_string(max));
    return static_cast<std::uint32_t>(value);
  }

  bool Bool(const Json& j, const std::string& where) const {
    if (!j.is_boolean()) Fail(where, "expected true or false");
    return j.get<bool>();
  }

  std::string Choice(const Json& j, const std::string& where,
                     std::initializer_list<std::string_view> choices) const {
    std::string s = String(j, where, 64);
    if (std::find(choices.begin(), choices.end(), s) == choices.end()) {
      std::string list;
      for (auto c : choices) list += (list.empty() ? "\"" : ", \"") + std::string(c) + "\"";
      Fail(where, "expected one of " + list);
    }
    return s;
  }

  // Bytes written as hex digits, two each ("ff0001"), at least one and at most `maxBytes`.
  std::vector<std::uint8_t> HexBytes(const Json& j, const std::string& where,
                                     std::size_t maxBytes) const {
    const std::string text = String(j, where, 2 * maxBytes);
    const bool digits = text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (text.empty() || text.size() % 2 != 0 || !digits) {
      Fail(where, "expected bytes as pairs of hex digits, such as \"ff0001\"");
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
  }

  Scenario Top(const Json& j) const;

  // The state file lies beside the scenario: a plain name, so that a scenario never has a file
  // written elsewhere.
  std::string StateFileName(const Json& j) const {
    std::string name = String(j, "state", 255);
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of("/\\:") != std::string::npos) {
      Fail("state",
           "expected a plain file name beside the scenario (no folder, not \".\" or "
           "\"..\")");
    }
    return name;
  }

 private:
  ScenarioDrive Drive(const Json& j, const std::string& where, bool nt) const;
  void Inquiry(const Json& j, const std::string& where, ScenarioDrive& drive) const;
  ScenarioFault Fault(const Json& j, const std::string& where) const;
  ScenarioProcess Process(const Json& j, const std::string& where) const;
  void Registry(const Json& j, Scenario& scenario) const;

  std::string origin_;
};

Scenario Reader::Top(const Json& j) const {
  RequireObject(
      j, "top level",
      {"platform", "drives", "registry", "processes", "restart", "shutdown_privilege", "state"});
  Scenario s;
  if (j.contains("platform")) {
    const std::string platform = Choice(j["platform"], "platform", {"nt", "9x", "linux"});
    s.nt = platform != "9x";
    s.linuxHost = platform == "linux";
  }
  if (j.contains("state")) s.stateFile = StateFileName(j["state"]);
  if (j.contains("drives")) {
    const Json& drives = j["drives"];
    if (!drives.is_array()) Fail("drives", "expected an array");
    for (std::size_t i = 0; i < drives.size(); ++i) {
      s.drives.push_back(Drive(drives[i], "drives[" + std::to_string(i) + "]", s.nt));
    }
  }
  if (j.contains("registry")) Registry(j["registry"], s);
  if (j.contains("processes")) {
    const Json& list = j["processes"];
    if (!list.is_array()) Fail("processes", "expected an array");
    for (std::size_t i = 0; i < list.size(); ++i) {
      s.processes.push_back(Process(list[i], "processes[" + std::to_string(i) + "]"));
    }
  }
  if (j.contains("restart")) {
    s.restartAccepted = Choice(j["restart"], "restart", {"accept", "refuse"}) == "accept";
  }
  if (j.contains("shutdown_privilege")) {
    s.shutdownPrivilege = Bool(j["shutdown_privilege"], "shutdown_privilege");
  }
  return s;
}

ScenarioDrive Reader::Drive(const Json& j, const std::string& where, bool nt) const {
  RequireObject(j, where,
                {"letter", "host_adapter", "target", "lun", "inquiry", "vendor_identify_prefix",
                 "vendor_write", "disc", "lock", "program_seconds", "hold_real_seconds",
                 "unit_attention_after_download", "transfer_mode", "faults"});
  ScenarioDrive d;
  if (nt) {
    if (!j.contains("letter")) Fail(where, "a drive of an nt machine needs a \"letter\"");
    const std::string letter = String(j["letter"], where + ".letter", 1);
    if (letter.size() != 1 || letter[0] < 'a' || letter[0] > 'z') {
      Fail(where + ".letter", "expected one lower-case letter from a to z");
    }
    d.letter = letter[0];
  }
  if (j.contains("host_adapter"))
    d.hostAdapter = Number(j["host_adapter"], where + ".host_adapter", 255);
  if (j.contains("target")) d.target = Number(j["target"], where + ".target", 7);
  if (j.contains("lun")) d.lun = Number(j["lun"], where + ".lun", 7);
  if (!j.contains("inquiry")) Fail(where, "missing \"inquiry\"");
  Inquiry(j["inquiry"], where + ".inquiry", d);
  if (j.contains("vendor_identify_prefix")) {
    d.vendorIdentifyPrefix =
        String(j["vendor_identify_prefix"], where + ".vendor_identify_prefix", 3);
  }
  if (j.contains("vendor_write")) d.vendorWrite = Bool(j["vendor_write"], where + ".vendor_write");
  if (j.contains("disc")) d.disc = Bool(j["disc"], where + ".disc");
  if (j.contains("lock")) {
    const std::string lock = Choice(j["lock"], where + ".lock", {"free", "held", "unsupported"});
    d.lock = lock == "held"          ? ScenarioDrive::Lock::kHeld
             : lock == "unsupported" ? ScenarioDrive::Lock::kUnsupported
                                     : ScenarioDrive::Lock::kFree;
  }
  if (j.contains("program_seconds")) {
    d.programSeconds = Number(j["program_seconds"], where + ".program_seconds", 3600);
  }
  if (j.contains("hold_real_seconds")) {
    d.holdRealSeconds = Number(j["hold_real_seconds"], where + ".hold_real_seconds", 600);
  }
  if (j.contains("unit_attention_after_download")) {
    d.unitAttentionAfterDownload =
        Bool(j["unit_attention_after_download"], where + ".unit_attention_after_download");
  }
  if (j.contains("transfer_mode")) {
    d.transferMode = String(j["transfer_mode"], where + ".transfer_mode", 16);
  }
  if (j.contains("faults")) {
    const Json& faults = j["faults"];
    if (!faults.is_array()) Fail(where + ".faults", "expected an array");
    for (std::size_t i = 0; i < faults.size(); ++i) {
      d.faults.push_back(Fault(faults[i], where + ".faults[" + std::to_string(i) + "]"));
    }
  }
  return d;
}

void Reader::Inquiry(const Json& j, const std::string& where, ScenarioDrive& d) const {
  RequireObject(j, where,
                {"peripheral", "vendor", "product", "revision", "prefix", "header", "length",
                 "additional_length"});
  if (j.contains("peripheral")) {
    d.peripheral = static_cast<std::uint8_t>(Number(j["peripheral"], where + ".peripheral", 255));
  }
  if (j.contains("vendor")) d.vendor = String(j["vendor"], where + ".vendor", 8);
  if (j.contains("product")) d.product = String(j["product"], where + ".product", 16);
  if (j.contains("revision")) d.revision = String(j["revision"], where + ".revision", 4);
  if (j.contains("prefix")) d.prefix = String(j["prefix"], where + ".prefix", 3);
  if (j.contains("header")) {
    const Json& h = j["header"];
    if (!h.is_array() || h.size() != d.inquiryHeader.size()) {
      Fail(where + ".header", "expected INQUIRY bytes 1 to 7: an array of 7 numbers");
    }
    for (std::size_t i = 0; i < d.inquiryHeader.size(); ++i) {
      d.inquiryHeader[i] = static_cast<std::uint8_t>(
          Number(h[i], where + ".header[" + std::to_string(i) + "]", 255));
    }
  }
  if (j.contains("length")) {
    d.inquiryLength = Number(j["length"], where + ".length", 96);
    if (d.inquiryLength < 36) Fail(where + ".length", "must be at least 36");
  }
  if (j.contains("additional_length")) {
    d.additionalLengthOfSent =
        Choice(j["additional_length"], where + ".additional_length", {"full", "sent"}) == "sent";
  }
}

ScenarioFault Reader::Fault(const Json& j, const std::string& where) const {
  RequireObject(j, where, {"at", "cdb", "status", "sense", "residual"});
  ScenarioFault f;
  if (!j.contains("at")) Fail(where, "missing \"at\"");
  f.at = Number(j["at"], where + ".at", 0xFFFFFFFFu);
  if (f.at == 0) Fail(where + ".at", "commands are counted from 1");
  if (!j.contains("status")) Fail(where, "missing \"status\"");
  const std::string status =
      Choice(j["status"], where + ".status", {"check", "busy", "transport", "timeout", "gone"});
  f.kind = status == "check"       ? ScenarioFault::Kind::kCheck
           : status == "busy"      ? ScenarioFault::Kind::kBusy
           : status == "transport" ? ScenarioFault::Kind::kTransport
           : status == "gone"      ? ScenarioFault::Kind::kGone
                                   : ScenarioFault::Kind::kTimeout;
  if (j.contains("cdb")) f.cdb = HexBytes(j["cdb"], where + ".cdb", 16);
  if (j.contains("residual")) f.residual = Number(j["residual"], where + ".residual", 0xFFFFFFFFu);
  if (j.contains("sense")) {
    const Json& sense = j["sense"];
    if (!sense.is_array() || sense.size() != 3) {
      Fail(where + ".sense", "expected three numbers: sense key, ASC, ASCQ");
    }
    for (std::size_t i = 0; i < 3; ++i) {
      f.sense[i] = static_cast<std::uint8_t>(
          Number(sense[i], where + ".sense[" + std::to_string(i) + "]", 255));
    }
  } else if (f.kind == ScenarioFault::Kind::kCheck) {
    Fail(where, "a \"check\" fault needs \"sense\"");
  }
  return f;
}

ScenarioProcess Reader::Process(const Json& j, const std::string& where) const {
  ScenarioProcess p;
  if (j.is_string()) {
    p.name = String(j, where, 259);
  } else {
    RequireObject(j, where, {"name", "openable"});
    if (!j.contains("name")) Fail(where, "missing \"name\"");
    p.name = String(j["name"], where + ".name", 259);
    if (j.contains("openable")) p.openable = Bool(j["openable"], where + ".openable");
  }
  return p;
}

void Reader::Registry(const Json& j, Scenario& s) const {
  if (!j.is_object()) Fail("registry", "expected an object of keys");
  for (const auto& [key, values] : j.items()) {
    const std::string where = "registry[\"" + key + "\"]";
    if (!values.is_object()) Fail(where, "expected an object of values");
    auto& target = s.registry[key];
    for (const auto& [name, value] : values.items()) {
      if (value.is_string()) {
        target[name] = value.get<std::string>();
      } else {
        std::string at = where;
        at.append("[\"").append(name).append("\"]");
        target[name] = Number(value, at, 0xFFFFFFFFu);
      }
    }
  }
}

void RefuseDuplicatePlaces(const Scenario& s, const Reader& reader) {
  std::set<std::pair<unsigned, unsigned>> places;
  std::set<char> letters;
  for (std::size_t i = 0; i < s.drives.size(); ++i) {
    const ScenarioDrive& d = s.drives[i];
    const std::string where = "drives[" + std::to_string(i) + "]";
    if (s.nt && !letters.insert(d.letter).second) {
      reader.Fail(where, std::string("letter ") + d.letter + " is used twice");
    }
    if (!s.nt && d.lun == 0 && !places.insert({d.hostAdapter, d.target}).second) {
      reader.Fail(where, "host adapter and target are used twice");
    }
  }
}

}  // namespace

Scenario ParseScenario(const std::string& text, const std::string& origin) {
  Reader reader(origin);
  Json j;
  try {
    j = Json::parse(text);
  } catch (const Json::exception& e) {  // a parse error, or a number too large for any type
    std::string message = e.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..." -> "parse error ..."
    if (auto pos = message.find("] "); pos != std::string::npos) message.erase(0, pos + 2);
    throw ScenarioError(origin + ": " + message);
  }
  Scenario s = reader.Top(j);
  RefuseDuplicatePlaces(s, reader);
  return s;
}

Scenario LoadScenarioFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError(path + ": cannot be opened");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ScenarioError(path + ": cannot be read");
  Scenario scenario = ParseScenario(text.str(), path);
  if (!scenario.stateFile.empty()) {
    scenario.stateFile = (std::filesystem::path(path).parent_path() / scenario.stateFile).string();
  }
  return scenario;
}

Scenario BuiltInScenario() {
  Scenario s;
  ScenarioDrive d;
  d.letter = 'e';
  d.hostAdapter = 0;
  d.target = 1;
  d.vendor = "BRELMONT";
  d.product = "CDW/DVD GA-W837C";
  d.revision = "NA00";
  d.prefix = "NA ";
  d.vendorIdentifyPrefix = "KVR";
  d.programSeconds = 3;
  s.drives.push_back(d);
  s.processes = {{"explorer.exe", true}};
  return s;
}

}  // namespace veltran
