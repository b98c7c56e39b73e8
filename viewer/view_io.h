// TQRViewIO: the viewer's settings (every value of its profile, held in memory while it runs) and
// their store, the current user profile under "QRViewer" (settings/profile_store.h).
#pragma once
#include <windows.h>

#include "profile_store.h"
#include "profile_tables.h"
#include "viewer_state.h"

#define VIEWER_VALUE(name) PROFILE_VALUE(profiles::kViewerLayout, name)

namespace viewer {

class TQRViewIO {
 public:
  explicit TQRViewIO(ViewerState& state) : settings(profiles::kViewerLayout), state_(&state) {}
  TQRViewIO(const TQRViewIO&) = delete;
  TQRViewIO& operator=(const TQRViewIO&) = delete;

  // Reads the current profile; a profile that cannot be opened is made from the factory values
  // (and saved). Clears `configChanged`, sets `powerOnFlag`.
  virtual bool load();
  // Writes every value ("Revision" 79). Clears `configChanged`.
  virtual bool save();
  // Every value to its factory number, the current profile number to 0, "File Location" from
  // "Default File Location". Nothing is written.
  virtual void loadFactoryDefaults();

  // The start-up check: the current profile is read, and written back at once with "Revision" 79
  // when it was stored at another revision or is missing.
  void profileCheck();

  LONG& operator[](profiles::ValueId id) { return settings[id]; }
  LONG operator[](profiles::ValueId id) const { return settings[id]; }

  profiles::ProfileSettings settings;

 protected:
  ~TQRViewIO() = default;

 private:
  ViewerState* state_;
};

}  // namespace viewer
