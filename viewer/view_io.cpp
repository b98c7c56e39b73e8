#include "view_io.h"

namespace viewer {

bool TQRViewIO::load() {
  const bool found = profiles::loadProfile(settings);
  state_->configChanged = 0;
  state_->powerOnFlag = 1;
  return found;
}

bool TQRViewIO::save() {
  settings[VIEWER_VALUE("Power On Flag")] = state_->powerOnFlag;
  const bool saved = profiles::saveProfile(settings);
  state_->configChanged = 0;
  return saved;
}

void TQRViewIO::loadFactoryDefaults() { profiles::loadFactoryDefaults(settings); }

void TQRViewIO::profileCheck() {
  const LONG stored = profiles::storedRevision(profiles::kViewerLayout);
  load();
  if (stored != profiles::kViewerLayout.revision) {
    settings[VIEWER_VALUE("Revision")] = profiles::kViewerLayout.revision;
    save();
  }
}

}  // namespace viewer
