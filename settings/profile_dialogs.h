// The shared profile dialogs: the profile manager `CFGSaveDialog` (resource 4) and the profile
// name entry `EnterNameDlg` (resource 6). Both templates come from profile_dialogs.rc, which the
// front end compiles into its own module; `resources` is that module.
//
// The profile manager lists the front end's profiles, writes "Current Profile", creates, renames
// and removes profile keys itself, and hands what needs the front end's settings to the
// front end's `ProfileRequests` at the moment the user confirms it.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "dialog.h"
#include "messages.h"

namespace profiles {

// What the profile manager asks of the front end that opened it.
class ProfileRequests {
 public:
  virtual ~ProfileRequests() = default;
  // "Current Profile" names the profile to save into: save the front end's settings.
  virtual void saveProfileRequested() = 0;
  // "Current Profile" names the chosen profile: load it and apply it.
  virtual void loadProfileRequested() = 0;
  // Load the factory values and apply them (nothing is written).
  virtual void factoryDefaultsRequested() = 0;
};

class EnterNameDlg : public ui::Dialog {
 public:
  static constexpr int kMaxName = 32;
  EnterNameDlg(HINSTANCE resources, std::string name);
  // The entered name after OK; the prefilled one otherwise.
  const std::string& name() const { return name_; }

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;

 private:
  std::string name_;
};

class CFGSaveDialog : public ui::Dialog {
 public:
  // `frontEndKey`: the front end's sub-key ("QRViewer", "AVI", "Twain"). `messages`: the front
  // end's message boxes (for the beep rule). `noticeCaption`: the caption of "Selected Profile not
  // found!" and "No more Profile Entries available!"; every other box says "Confirm Action".
  CFGSaveDialog(HINSTANCE resources, std::string frontEndKey, const ui::Messages& messages, std::string noticeCaption,
                ProfileRequests& requests);

  // The 0-based index of the selected profile, written as "Current Profile" by OK.
  LONG pendingIndex() const { return pending_; }

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;

 private:
  struct Entry {
    LONG slot;  // 1-9
    std::string name;
  };

  void refresh(LONG preferredSlot);
  void selectionChanged();
  const Entry* selected() const;
  bool confirm(const std::string& text);
  void notice(const std::string& text, UINT icon);
  bool askName(std::string& name);

  void save();
  void load();
  void rename();
  void remove();
  void factoryDefaults();
  void addNew();
  void close();

  std::string key_;
  const ui::Messages& messages_;
  std::string noticeCaption_;
  ProfileRequests& requests_;
  std::vector<Entry> entries_;
  LONG pending_ = 0;
};

}  // namespace profiles
