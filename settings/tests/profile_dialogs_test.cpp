// The profile manager and name entry, opened for real under Wine's null display driver and driven
// by their messages; message boxes and the name entry are answered by a hook.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls.h"
#include "modal_answerer.h"
#include "profile_dialog_ids.h"
#include "profile_dialogs.h"
#include "profile_store.h"
#include "profile_test_support.h"
#include "registry_sandbox.h"

namespace {

using namespace profiletest;
using profiles::ProfileLayout;

const ProfileLayout& kLayout = profiles::kTwainLayout;

// A front end as the dialog sees it: it records the requests and saves for real.
class FakeFrontEnd : public profiles::ProfileRequests {
 public:
  profiles::ProfileSettings settings{kLayout};
  std::vector<std::string> requests;
  void saveProfileRequested() override {
    requests.push_back("save " + std::to_string(profiles::readCurrentProfile(kLayout.key)));
    profiles::saveProfile(settings);
  }
  void loadProfileRequested() override {
    requests.push_back("load " + std::to_string(profiles::readCurrentProfile(kLayout.key)));
  }
  void factoryDefaultsRequested() override { requests.push_back("factory"); }
};

class ProfileDialog : public qrtest::RegistrySandbox {
 protected:
  // Opens the dialog modeless so the test can press its buttons one at a time; the answerer is
  // made afterwards so that it leaves the dialog itself alone.
  void open(const char* noticeCaption = "Quorel Digital Camera Twain Driver") {
    dialog_.reset(
        new profiles::CFGSaveDialog(GetModuleHandleA(nullptr), kLayout.key, messages_, noticeCaption, frontEnd_));
    ASSERT_NE(nullptr, dialog_->createModeless(nullptr));
    answerer_.reset(new qrtest::ModalAnswerer);
  }
  void TearDown() override {
    answerer_.reset();
    dialog_.reset();
    RegistrySandbox::TearDown();
  }
  static void addProfile(long slot, const char* name) {
    writeText(profilePath(kLayout, slot - 1), "Profile Name", name);
  }
  void press(int id) {
    SendMessageA(dialog_->handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog_->handle(), id)));
  }
  // Selects a list entry as a click does: the selection, then the notification.
  void select(int position) {
    ui::ListBox list(dialog_->handle(), IDC_PROFILE_LIST);
    list.select(position);
    SendMessageA(dialog_->handle(), WM_COMMAND, MAKEWPARAM(IDC_PROFILE_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list.handle()));
  }
  std::vector<std::string> entries() const {
    ui::ListBox list(dialog_->handle(), IDC_PROFILE_LIST);
    std::vector<std::string> texts;
    for (int i = 0; i < list.count(); ++i) texts.push_back(list.entry(i));
    return texts;
  }
  int selection() const { return ui::ListBox(dialog_->handle(), IDC_PROFILE_LIST).selection(); }
  std::string currentProfile() const { return storedText(frontEndPath(kLayout), "Current Profile"); }
  const qrtest::SeenModal& lastSeen() const { return answerer_->seen().back(); }

  ui::Messages messages_{"Quorel Digital Camera Twain Driver"};
  FakeFrontEnd frontEnd_;
  std::unique_ptr<profiles::CFGSaveDialog> dialog_;
  std::unique_ptr<qrtest::ModalAnswerer> answerer_;
};

TEST_F(ProfileDialog, ListsTheProfilesAndSelectsTheCurrentOne) {
  addProfile(1, "Living room");
  addProfile(3, "Garden");
  addProfile(4, "Un-Named");
  writeNumber(frontEndPath(kLayout), "Current Profile", 2);
  open();
  EXPECT_EQ("Configuration Manager", ui::windowText(dialog_->handle()));
  EXPECT_EQ((std::vector<std::string>{"1 - Living room", "3 - Garden", "4 - Un-Named"}), entries());
  EXPECT_EQ(1, selection());
  EXPECT_EQ(2, dialog_->pendingIndex());
  select(2);
  EXPECT_EQ(3, dialog_->pendingIndex());
}

TEST_F(ProfileDialog, CurrentProfileMissingSelectsTheFirstEntry) {
  addProfile(2, "Garden");
  addProfile(5, "Attic");
  writeNumber(frontEndPath(kLayout), "Current Profile", 6);
  open();
  EXPECT_EQ(0, selection());
  EXPECT_EQ(1, dialog_->pendingIndex());
}

TEST_F(ProfileDialog, NewCreatesNineProfilesAndRefusesTheTenth) {
  open("Confirm Action");
  EXPECT_TRUE(entries().empty());
  for (int n = 1; n <= 10; ++n) {
    answerer_->plan(IDYES);
    if (n <= 9)
      answerer_->planText(IDC_PROFILE_NAME, "Room " + std::to_string(n), IDOK);
    else
      answerer_->plan(IDOK);
    press(IDC_PROFILE_NEW);
  }
  ASSERT_EQ(0u, answerer_->plansLeft());
  ASSERT_EQ(20u, answerer_->seen().size());
  EXPECT_EQ("Confirm Action", answerer_->seen()[0].caption);
  EXPECT_EQ("Create and Save New User Profile?", answerer_->seen()[0].text);
  EXPECT_EQ((std::vector<int>{IDYES, IDNO}), answerer_->seen()[0].buttons);
  EXPECT_TRUE(answerer_->seen()[0].hasIcon);
  EXPECT_EQ("Profile Name", answerer_->seen()[1].caption);
  const qrtest::SeenModal& refused = lastSeen();
  EXPECT_EQ("No more Profile Entries available!", refused.text);
  EXPECT_EQ("Confirm Action", refused.caption);
  EXPECT_EQ(std::vector<int>{IDOK}, refused.buttons);
  EXPECT_TRUE(refused.hasIcon);

  EXPECT_EQ(9u, entries().size());
  EXPECT_EQ("9 - Room 9", entries()[8]);
  EXPECT_EQ(8, selection());
  EXPECT_EQ("8", currentProfile());
  for (long slot = 1; slot <= 9; ++slot) {
    EXPECT_EQ("Room " + std::to_string(slot), storedText(profilePath(kLayout, slot - 1), "Profile Name"));
    EXPECT_EQ("49", storedText(profilePath(kLayout, slot - 1), "Revision")) << "saved by the front end";
    EXPECT_EQ("save " + std::to_string(slot - 1), frontEnd_.requests[slot - 1]);
  }
  EXPECT_EQ(9u, frontEnd_.requests.size());
}

TEST_F(ProfileDialog, NewNameEntryCancelKeepsUnNamedAndNoCreatesNothing) {
  addProfile(1, "Living room");
  open();
  answerer_->plan(IDNO);
  press(IDC_PROFILE_NEW);
  EXPECT_FALSE(qrtest::keyExists(profilePath(kLayout, 1)));
  answerer_->plan(IDYES);
  answerer_->planText(IDC_PROFILE_NAME, "ignored", IDCANCEL);
  press(IDC_PROFILE_NEW);
  EXPECT_EQ("Un-Named", storedText(profilePath(kLayout, 1), "Profile Name"));
  EXPECT_EQ((std::vector<std::string>{"1 - Living room", "2 - Un-Named"}), entries());
  EXPECT_EQ(std::vector<std::string>{"save 1"}, frontEnd_.requests);
}

TEST_F(ProfileDialog, NameEntryTakesAtMost32Characters) {
  addProfile(1, "Living room");
  open();
  answerer_->planText(IDC_PROFILE_NAME, std::string(40, 'x'), IDOK);
  press(IDC_PROFILE_RENAME);
  EXPECT_EQ(std::string(32, 'x'), storedText(profilePath(kLayout, 0), "Profile Name"));
}

TEST_F(ProfileDialog, RenameWritesTheSelectedProfilesNameAndCancelKeepsIt) {
  addProfile(1, "Living room");
  addProfile(2, "Garden");
  open();
  select(1);
  answerer_->planText(IDC_PROFILE_NAME, "Back garden", IDOK);
  press(IDC_PROFILE_RENAME);
  EXPECT_EQ("Back garden", storedText(profilePath(kLayout, 1), "Profile Name"));
  EXPECT_EQ((std::vector<std::string>{"1 - Living room", "2 - Back garden"}), entries());
  EXPECT_EQ(1, selection());
  answerer_->planText(IDC_PROFILE_NAME, "Other", IDCANCEL);
  press(IDC_PROFILE_RENAME);
  EXPECT_EQ("Back garden", storedText(profilePath(kLayout, 1), "Profile Name"));
  EXPECT_TRUE(frontEnd_.requests.empty());
  EXPECT_EQ(0u, answerer_->unexpected());
}

TEST_F(ProfileDialog, RemoveDeletesTheSelectedProfileButNeverTheLast) {
  addProfile(1, "Living room");
  addProfile(2, "Garden");
  writeNumber(frontEndPath(kLayout), "Current Profile", 1);
  open();
  select(0);
  answerer_->plan(IDNO);
  press(IDC_PROFILE_REMOVE);
  EXPECT_EQ("Remove \"Living room\" configuration?", lastSeen().text);
  EXPECT_TRUE(qrtest::keyExists(profilePath(kLayout, 0)));

  answerer_->plan(IDYES);
  press(IDC_PROFILE_REMOVE);
  EXPECT_FALSE(qrtest::keyExists(profilePath(kLayout, 0)));
  EXPECT_EQ(std::vector<std::string>{"2 - Garden"}, entries());
  EXPECT_EQ(0, selection());
  EXPECT_EQ("1", currentProfile());

  answerer_->plan(IDOK);
  press(IDC_PROFILE_REMOVE);
  EXPECT_EQ("You can not remove the last Profile, there must be at least one!", lastSeen().text);
  EXPECT_EQ("Confirm Action", lastSeen().caption);
  EXPECT_EQ(std::vector<int>{IDOK}, lastSeen().buttons);
  EXPECT_FALSE(lastSeen().hasIcon);
  EXPECT_TRUE(qrtest::keyExists(profilePath(kLayout, 1)));
  EXPECT_EQ(0u, answerer_->unexpected());
}

TEST_F(ProfileDialog, RemovingTheCurrentProfileLeavesCurrentProfileUntilOk) {
  addProfile(1, "Living room");
  addProfile(2, "Garden");
  addProfile(3, "Attic");
  writeNumber(frontEndPath(kLayout), "Current Profile", 1);
  open();
  answerer_->plan(IDYES);
  press(IDC_PROFILE_REMOVE);
  EXPECT_FALSE(qrtest::keyExists(profilePath(kLayout, 1)));
  EXPECT_EQ("1", currentProfile());
  EXPECT_EQ(0, selection());  // the current profile's entry is gone: the first is selected
  EXPECT_EQ(0, dialog_->pendingIndex());
}

TEST_F(ProfileDialog, SameNamesAreToldApartBySlot) {
  addProfile(1, "Un-Named");
  addProfile(2, "Un-Named");
  open();
  select(1);
  EXPECT_EQ(1, dialog_->pendingIndex());
  answerer_->plan(IDYES);
  press(IDC_PROFILE_REMOVE);
  EXPECT_TRUE(qrtest::keyExists(profilePath(kLayout, 0)));
  EXPECT_FALSE(qrtest::keyExists(profilePath(kLayout, 1)));
}

TEST_F(ProfileDialog, LoadWritesCurrentProfileAndAsksTheFrontEnd) {
  addProfile(1, "Living room");
  addProfile(4, "Garden");
  open();
  select(1);
  answerer_->plan(IDNO);
  press(IDC_PROFILE_LOAD);
  EXPECT_EQ("Load \"Garden\" configuration?", lastSeen().text);
  EXPECT_EQ("Confirm Action", lastSeen().caption);
  EXPECT_TRUE(frontEnd_.requests.empty());
  answerer_->plan(IDYES);
  press(IDC_PROFILE_LOAD);
  EXPECT_EQ("3", currentProfile());
  EXPECT_EQ(std::vector<std::string>{"load 3"}, frontEnd_.requests);
}

TEST_F(ProfileDialog, LoadOfAMissingProfileIsRefusedUnderTheFrontEndsCaption) {
  struct Case {
    const char* caption;
  };
  const Case cases[] = {{"QR3Viewer"}, {"Sentrio V2 DigiCam AVI Driver"}, {"Confirm Action"}};
  for (const Case& c : cases) {
    qrtest::deleteProductKey();
    frontEnd_.requests.clear();
    addProfile(1, "Living room");
    addProfile(2, "Garden");
    open(c.caption);
    select(1);
    qrtest::deleteProductKey();  // another program removes it behind the dialog's back
    addProfile(1, "Living room");
    answerer_->plan(IDYES);
    answerer_->plan(IDOK);
    press(IDC_PROFILE_LOAD);
    ASSERT_EQ(2u, answerer_->seen().size());
    EXPECT_EQ("Selected Profile not found!", lastSeen().text);
    EXPECT_EQ(c.caption, lastSeen().caption);
    EXPECT_EQ(std::vector<int>{IDOK}, lastSeen().buttons);
    EXPECT_EQ("<missing>", currentProfile());
    EXPECT_TRUE(frontEnd_.requests.empty());
    answerer_.reset();
  }
}

TEST_F(ProfileDialog, SaveWritesCurrentProfileAndTheFrontEndSavesIntoIt) {
  addProfile(1, "Living room");
  addProfile(3, "Garden");
  open();
  select(1);
  frontEnd_.settings[TWAIN("Video Gain")] = 201;
  answerer_->plan(IDNO);
  press(IDC_PROFILE_SAVE);
  EXPECT_EQ("Save current configuration in \"Garden\"?", lastSeen().text);
  EXPECT_TRUE(frontEnd_.requests.empty());
  answerer_->plan(IDYES);
  press(IDC_PROFILE_SAVE);
  EXPECT_EQ("2", currentProfile());
  EXPECT_EQ(std::vector<std::string>{"save 2"}, frontEnd_.requests);
  EXPECT_EQ("201", storedText(profilePath(kLayout, 2), "Video Gain"));
  EXPECT_EQ("Garden", storedText(profilePath(kLayout, 2), "Profile Name"));
  EXPECT_EQ("<missing>", storedText(profilePath(kLayout, 0), "Video Gain"));
}

TEST_F(ProfileDialog, FactoryDefaultsAreRequestedOnYesOnly) {
  addProfile(1, "Living room");
  open();
  answerer_->plan(IDNO);
  press(IDC_PROFILE_DEFAULTS);
  EXPECT_TRUE(frontEnd_.requests.empty());
  answerer_->plan(IDYES);
  press(IDC_PROFILE_DEFAULTS);
  EXPECT_EQ("Load Factory Defaults?", lastSeen().text);
  EXPECT_EQ(std::vector<std::string>{"factory"}, frontEnd_.requests);
  EXPECT_EQ("<missing>", currentProfile());
}

TEST_F(ProfileDialog, OkWritesThePendingIndexAndCloses) {
  addProfile(1, "Living room");
  addProfile(6, "Garden");
  open();
  HWND hwnd = dialog_->handle();
  select(1);
  press(IDOK);
  EXPECT_EQ("5", currentProfile());
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(IDOK, dialog_->result());
}

TEST_F(ProfileDialog, RunsModalAsTheFrontEndsOpenIt) {
  addProfile(1, "Living room");
  addProfile(2, "Garden");
  writeNumber(frontEndPath(kLayout), "Current Profile", 1);
  qrtest::ModalAnswerer answerer;
  answerer.plan(IDOK);
  profiles::CFGSaveDialog dialog(GetModuleHandleA(nullptr), kLayout.key, messages_, "QR3Viewer", frontEnd_);
  EXPECT_EQ(IDOK, dialog.runModal(nullptr));
  EXPECT_EQ("Configuration Manager", answerer.seen()[0].caption);
  EXPECT_EQ("1", currentProfile());
  EXPECT_EQ(0u, answerer.unexpected());
}

}  // namespace
