#include "frame_source.h"

namespace vcam {

std::size_t produceFrame(const FrameJob& /*job*/, const RegisterFile& /*registers*/, std::uint8_t* /*buffer*/,
                         std::size_t /*capacity*/) {
  return 0;
}

}  // namespace vcam
