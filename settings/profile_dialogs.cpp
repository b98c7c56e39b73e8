#include "profile_dialogs.h"

#include "controls.h"
#include "profile_dialog_ids.h"
#include "profile_store.h"
#include "quorelreg.h"

namespace profiles {

namespace {

const char kConfirmCaption[] = "Confirm Action";
const char kNewProfileName[] = "Un-Named";

}  // namespace

EnterNameDlg::EnterNameDlg(HINSTANCE resources, std::string name)
    : Dialog(resources, IDD_ENTERNAME), name_(std::move(name)) {}

bool EnterNameDlg::onInit() {
  ui::EditField edit(hwnd_, IDC_PROFILE_NAME);
  edit.setLimit(kMaxName);
  edit.setText(name_.substr(0, kMaxName));
  return true;
}

bool EnterNameDlg::onCommand(int id, int code, HWND control) {
  if (id == IDOK) name_ = ui::EditField(hwnd_, IDC_PROFILE_NAME).text().substr(0, kMaxName);
  return Dialog::onCommand(id, code, control);
}

CFGSaveDialog::CFGSaveDialog(HINSTANCE resources, std::string frontEndKey, const ui::Messages& messages,
                             std::string noticeCaption, ProfileRequests& requests)
    : Dialog(resources, IDD_CFGSAVE),
      key_(std::move(frontEndKey)),
      messages_(messages),
      noticeCaption_(std::move(noticeCaption)),
      requests_(requests) {}

bool CFGSaveDialog::onInit() {
  refresh(readCurrentProfile(key_.c_str()) + 1);
  return true;
}

bool CFGSaveDialog::onCommand(int id, int code, HWND control) {
  switch (id) {
    case IDC_PROFILE_LIST:
      if (code == LBN_SELCHANGE) selectionChanged();
      return true;
    case IDC_PROFILE_SAVE:
      save();
      return true;
    case IDC_PROFILE_LOAD:
      load();
      return true;
    case IDC_PROFILE_RENAME:
      rename();
      return true;
    case IDC_PROFILE_REMOVE:
      remove();
      return true;
    case IDC_PROFILE_DEFAULTS:
      factoryDefaults();
      return true;
    case IDC_PROFILE_NEW:
      addNew();
      return true;
    case IDOK:
      close();
      return true;
  }
  return Dialog::onCommand(id, code, control);
}

// Lists every slot whose "Profile Name" can be read and selects `preferredSlot`, else the first
// entry; the selected entry's slot becomes the pending index.
void CFGSaveDialog::refresh(LONG preferredSlot) {
  ui::ListBox list(hwnd_, IDC_PROFILE_LIST);
  list.clear();
  entries_.clear();
  for (LONG slot = 1; slot <= kProfileSlots; ++slot) {
    std::string name;
    if (!readProfileName(key_.c_str(), slot - 1, name)) continue;
    entries_.push_back({slot, name});
    list.add(ui::format("%1d - %s", static_cast<int>(slot), name.c_str()), slot);
  }
  int position = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].slot == preferredSlot) position = static_cast<int>(i);
  }
  if (entries_.empty()) {
    pending_ = preferredSlot - 1;
    return;
  }
  list.select(position);
  pending_ = entries_[position].slot - 1;
}

// The pending index follows the selected entry's own slot, so two profiles of the same name are
// still told apart.
void CFGSaveDialog::selectionChanged() {
  if (const Entry* entry = selected()) pending_ = entry->slot - 1;
}

const CFGSaveDialog::Entry* CFGSaveDialog::selected() const {
  int position = ui::ListBox(hwnd_, IDC_PROFILE_LIST).selection();
  if (position < 0 || position >= static_cast<int>(entries_.size())) return nullptr;
  return &entries_[position];
}

bool CFGSaveDialog::confirm(const std::string& text) {
  return messages_.show(hwnd_, text, MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL, kConfirmCaption) == IDYES;
}

void CFGSaveDialog::notice(const std::string& text, UINT icon) {
  messages_.show(hwnd_, text, MB_OK | icon | MB_TASKMODAL, noticeCaption_);
}

bool CFGSaveDialog::askName(std::string& name) {
  EnterNameDlg dialog(resources(), name);
  if (dialog.runModal(hwnd_) != IDOK) return false;
  name = dialog.name();
  return true;
}

void CFGSaveDialog::save() {
  const Entry* entry = selected();
  std::string name = entry ? entry->name : std::string();
  if (!confirm(ui::format("Save current configuration in \"%s\"?", name.c_str()))) return;
  writeCurrentProfile(key_.c_str(), pending_);
  requests_.saveProfileRequested();
}

void CFGSaveDialog::load() {
  const Entry* entry = selected();
  std::string name;
  if (entry && !confirm(ui::format("Load \"%s\" configuration?", entry->name.c_str()))) return;
  // The profile may have gone since the list was filled (another program, or no entry at all).
  if (!entry || !readProfileName(key_.c_str(), entry->slot - 1, name)) {
    notice("Selected Profile not found!", 0);
    return;
  }
  writeCurrentProfile(key_.c_str(), pending_);
  requests_.loadProfileRequested();
}

void CFGSaveDialog::rename() {
  const Entry* entry = selected();
  if (!entry) return;
  LONG slot = entry->slot;
  std::string name = entry->name;
  if (!askName(name)) return;
  writeProfileName(key_.c_str(), slot - 1, name);
  refresh(slot);
}

void CFGSaveDialog::remove() {
  if (entries_.size() <= 1) {
    messages_.show(hwnd_, "You can not remove the last Profile, there must be at least one!", MB_OK | MB_TASKMODAL,
                   kConfirmCaption);
    return;
  }
  const Entry* entry = selected();
  if (!entry || !confirm(ui::format("Remove \"%s\" configuration?", entry->name.c_str()))) return;
  ExtRegDeleteProfile(key_.c_str(), profileKey(entry->slot - 1).c_str());
  refresh(readCurrentProfile(key_.c_str()) + 1);
}

void CFGSaveDialog::factoryDefaults() {
  if (confirm("Load Factory Defaults?")) requests_.factoryDefaultsRequested();
}

void CFGSaveDialog::addNew() {
  if (!confirm("Create and Save New User Profile?")) return;
  LONG slot = 1;
  std::string existing;
  while (slot <= kProfileSlots && readProfileName(key_.c_str(), slot - 1, existing)) ++slot;
  if (slot > kProfileSlots) {
    notice("No more Profile Entries available!", MB_ICONEXCLAMATION);
    return;
  }
  writeCurrentProfile(key_.c_str(), slot - 1);
  CreateNewKey(key_.c_str(), profileKey(slot - 1).c_str());
  CloseKey();
  std::string name = kNewProfileName;
  askName(name);
  writeProfileName(key_.c_str(), slot - 1, name);
  requests_.saveProfileRequested();
  refresh(slot);
}

void CFGSaveDialog::close() {
  writeCurrentProfile(key_.c_str(), pending_);
  end(IDOK);
}

}  // namespace profiles
