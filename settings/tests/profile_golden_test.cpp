// The registry that each front end's profile saves write, compared with profile_writes.golden, a
// record written by hand from the documented value tables. The tables of the code are compared
// with a second, independent transcription: a misspelt name, a value out of place, a save order
// or a factory value that differs shows as the first line that differs.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "import_hook.h"
#include "profile_store.h"
#include "quorelreg.h"
#include "profile_test_support.h"
#include "registry_sandbox.h"

namespace {

using namespace profiletest;
using profiles::ProfileLayout;
using profiles::ProfileSettings;

// Every value that quorelreg.dll writes while it lives, in the order written: "[key]" whenever the
// key written changes (the path below the product key), then "name"="text". The DLL's own calls
// into the registry are redirected to record them; the keys it opens and creates are followed by
// handle.
class RegistryWriteLog {
 public:
  RegistryWriteLog() {
    active_ = this;
    for (const HookedImport& hooked : kHooks) {
      hooks_.emplace_back(new qrtest::ImportHook(dll_, "advapi32.dll", hooked.name, hooked.replacement));
      EXPECT_TRUE(hooks_.back()->installed()) << "quorelreg.dll does not import " << hooked.name;
    }
  }
  ~RegistryWriteLog() { active_ = nullptr; }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  struct HookedImport {
    const char* name;
    void* replacement;
  };
  static const HookedImport kHooks[3];

  static LONG WINAPI openKey(HKEY parent, LPCSTR path, PHKEY key) {
    LONG status = active_->original<decltype(&RegOpenKeyA)>(0)(parent, path, key);
    active_->remember(parent, path, key, status);
    return status;
  }
  static LONG WINAPI createKey(HKEY parent, LPCSTR path, PHKEY key) {
    LONG status = active_->original<decltype(&RegCreateKeyA)>(1)(parent, path, key);
    active_->remember(parent, path, key, status);
    return status;
  }
  static LONG WINAPI setValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    active_->record(key, name, type, data, size);
    return active_->original<decltype(&RegSetValueExA)>(2)(key, name, reserved, type, data, size);
  }

  template <typename Function>
  Function original(std::size_t hook) const {
    return hooks_[hook]->original<Function>();
  }
  void remember(HKEY parent, LPCSTR path, PHKEY key, LONG status) {
    if (status != ERROR_SUCCESS || parent != HKEY_LOCAL_MACHINE || !path) return;
    std::string name = path;
    const std::string root = std::string(qrtest::kProductKey) + "\\";
    keys_[*key] = name.compare(0, root.size(), root) == 0 ? name.substr(root.size()) : "HKLM\\" + name;
  }
  void record(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) {
    auto found = keys_.find(key);
    std::string path = found == keys_.end() ? "?" : found->second;
    if (path != lastKey_) lines_.push_back("[" + path + "]");
    lastKey_ = path;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (type == REG_SZ && size > 0 && text.find('\0') == size - 1) {
      lines_.push_back('"' + std::string(name) + "\"=\"" + text.substr(0, size - 1) + '"');
    } else {
      lines_.push_back('"' + std::string(name) + "\"=<type " + std::to_string(type) + ", " + std::to_string(size) +
                       " bytes>");
    }
  }

  static RegistryWriteLog* active_;
  HMODULE dll_ = GetModuleHandleA("quorelreg.dll");
  std::vector<std::unique_ptr<qrtest::ImportHook>> hooks_;
  std::map<HKEY, std::string> keys_;
  std::string lastKey_;
  std::vector<std::string> lines_;
};

RegistryWriteLog* RegistryWriteLog::active_ = nullptr;
const RegistryWriteLog::HookedImport RegistryWriteLog::kHooks[3] = {
    {"RegOpenKeyA", reinterpret_cast<void*>(&RegistryWriteLog::openKey)},
    {"RegCreateKeyA", reinterpret_cast<void*>(&RegistryWriteLog::createKey)},
    {"RegSetValueExA", reinterpret_cast<void*>(&RegistryWriteLog::setValue)},
};

// The golden record's cases by name, each as its lines without comments and blank lines.
std::map<std::string, std::vector<std::string>> goldenCases() {
  std::map<std::string, std::vector<std::string>> cases;
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC resource = FindResourceA(module, "PROFILE_WRITES", reinterpret_cast<LPCSTR>(RT_RCDATA));
  if (!resource) return cases;
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
  std::istringstream text(std::string(data, SizeofResource(module, resource)));
  std::vector<std::string>* current = nullptr;
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line.compare(0, 3, "== ") == 0) {
      current = &cases[line.substr(3)];
    } else if (current) {
      current->push_back(line);
    }
  }
  return cases;
}

// The first line where `written` departs from `expected`, for the failure message.
std::string firstDifference(const std::vector<std::string>& expected, const std::vector<std::string>& written) {
  for (std::size_t i = 0; i < expected.size() || i < written.size(); ++i) {
    const std::string want = i < expected.size() ? expected[i] : "(nothing more)";
    const std::string got = i < written.size() ? written[i] : "(nothing more)";
    if (want != got) return "line " + std::to_string(i + 1) + ": expected " + want + ", written " + got;
  }
  return "none";
}

void factorySave(const ProfileLayout& layout) {
  ProfileSettings settings(layout);
  profiles::loadFactoryDefaults(settings);
  profiles::saveProfile(settings);
}

// An old profile that holds no values yet.
void writeOldEmptyProfile(const ProfileLayout& layout) {
  writeText(profilePath(layout, 0), "Profile Name", "Old");
  writeNumber(profilePath(layout, 0), "Revision", 12);
}

void startUp(const ProfileLayout& layout) {
  ProfileSettings settings(layout);
  profiles::startUpProfile(settings);
}

struct GoldenCase {
  const char* name;
  void (*prepare)();  // the registry before, written around the code under test
  void (*save)();
};

const GoldenCase kGoldenCases[] = {
    {"viewer factory save",
     [] { writeText(frontEndPath(profiles::kViewerLayout), "Default File Location", "C:\\Images"); },
     [] { factorySave(profiles::kViewerLayout); }},
    {"viewer start-up of an old empty profile",
     [] {
       writeText(frontEndPath(profiles::kViewerLayout), "Default File Location", "C:\\Images");
       writeOldEmptyProfile(profiles::kViewerLayout);
     },
     [] { startUp(profiles::kViewerLayout); }},
    {"capture driver factory save", [] {}, [] { factorySave(profiles::kCaptureDriverLayout); }},
    {"capture driver start-up of an old empty profile",
     [] {
       writeOldEmptyProfile(profiles::kCaptureDriverLayout);
       writeNumber(frontEndPath(profiles::kCaptureDriverLayout), "Timed Profile Enable", 1);
       writeNumber(frontEndPath(profiles::kCaptureDriverLayout), "Timed Profile 1", 3);
     },
     [] { startUp(profiles::kCaptureDriverLayout); }},
    {"TWAIN source factory save", [] {}, [] { factorySave(profiles::kTwainLayout); }},
    {"TWAIN source start-up of an old empty profile", [] { writeOldEmptyProfile(profiles::kTwainLayout); },
     [] { startUp(profiles::kTwainLayout); }},
};

class ProfileGolden : public qrtest::RegistrySandbox {};

TEST_F(ProfileGolden, SavesWriteWhatTheValueTablesSay) {
  const std::map<std::string, std::vector<std::string>> golden = goldenCases();
  ASSERT_EQ(std::size(kGoldenCases), golden.size()) << "cases of profile_writes.golden";
  for (const GoldenCase& c : kGoldenCases) {
    auto expected = golden.find(c.name);
    ASSERT_NE(golden.end(), expected) << "profile_writes.golden has no case \"" << c.name << '"';
    qrtest::deleteProductKey();
    c.prepare();
    RegistryWriteLog log;
    c.save();
    EXPECT_TRUE(expected->second == log.lines())
        << c.name << ": first difference at " << firstDifference(expected->second, log.lines());
  }
}

// The recorder itself: it sees the writes of quorelreg.dll, with their keys, and nothing else.
TEST_F(ProfileGolden, TheLogRecordsTheDllsWritesInOrder) {
  RegistryWriteLog log;
  writeText(frontEndPath(profiles::kTwainLayout), "Written", "around the DLL");  // not through it
  ASSERT_EQ(1, CreateNewKey("Twain", "UserProfile4"));
  RegSaveVal("B", -5);
  RegSaveString("A", "text");
  CloseKey();
  ExtRegSaveVal("Twain", nullptr, "C", 7);
  const std::vector<std::string> expected = {"[Twain\\UserProfile4]", "\"B\"=\"-5\"", "\"A\"=\"text\"", "[Twain]",
                                             "\"C\"=\"7\""};
  EXPECT_EQ(expected, log.lines());
}

}  // namespace
